// What the resolver says about a VPN's tunnel across cycles: once when it finds one, once when it is gone,
// and a warning (never an unbound retry) when nothing is found past it or the way below it cannot be read.
// The addresses are no URL, so no request leaves: a cycle that would send one says so in a URL line.
#include "cycle/HttpPublicIpResolver.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>

namespace {

FamilyRoutes through(const char* tunnel) {
    return {{{"en0", 2, true, false, true, false}, {tunnel, 9, true, true, false, false}}, 9, {2}};
}
const FamilyRoutes direct{{{"en0", 2, true, false, true, false}}, 2, {2}};
// The tunnel is known, the service order below it is not.
const FamilyRoutes unreadableBelow{{{"utun5", 9, true, true, false, false}}, 9, {}, "no service order"};

TEST(TunnelLinesTest, FoundAndLostOnceBlockedEachCycle) {
    struct Routes : RouteReading {
        Expected<FamilyRoutes> read(int family) override {
            EXPECT_EQ(family, AF_INET);
            return cycles.at(cycle++);
        }
        std::vector<Expected<FamilyRoutes>> cycles;
        std::size_t cycle = 0;
    } routes;
    routes.cycles = {through("utun4"), through("utun4"), direct, Failure{"rtnetlink: Permission denied", 13},
                     through("utun5"), unreadableBelow};
    std::vector<std::string> lines;
    std::size_t requested = 0;
    ClientConfiguration config;
    config.ipv4DiscoveryUrls = {"not a url"};
    HttpPublicIpResolver resolver(config, ClientLog([&](ClientLog::Level level, const std::string& line) {
                                      if (line.find("URL") != std::string::npos) {
                                          ++requested;
                                      } else {
                                          lines.push_back(std::string(ClientLog::rawValue(level)) + " " +
                                                          line);
                                      }
                                  }),
                                  std::chrono::milliseconds(100), {}, routes);
    for (std::size_t i = 0; i < routes.cycles.size(); ++i) {
        EXPECT_FALSE(resolver.resolveIpv4());
    }
    const std::string blocked4 = "WARN IPv4-Discovery am Tunnel utun4 vorbei über en0 nicht möglich — keine "
                                 "IPv4-Adresse in diesem Zyklus.";
    EXPECT_EQ(
        lines,
        (std::vector<std::string>{
            "INFO IPv4 geht durch den Tunnel utun4 ins Internet — die IP-Discovery geht an ihm "
            "vorbei über en0.",
            blocked4, blocked4,
            "INFO IPv4 geht nicht mehr durch den Tunnel utun4 ins Internet — die IP-Discovery geht "
            "wieder den gewöhnlichen Weg.",
            "DEBUG Weg ins Internet für IPv4 nicht lesbar (rtnetlink: Permission denied) — "
            "IP-Discovery wie ohne VPN.",
            "INFO IPv4 geht durch den Tunnel utun5 ins Internet — die IP-Discovery geht an ihm "
            "vorbei über en0.",
            "WARN IPv4-Discovery am Tunnel utun5 vorbei über en0 nicht möglich — keine IPv4-Adresse "
            "in diesem Zyklus.",
            "WARN IPv4-Discovery am Tunnel utun5 vorbei nicht möglich, der Weg darunter ist nicht lesbar "
            "(no service order) — keine IPv4-Adresse in diesem Zyklus."}));
    EXPECT_EQ(requested, routes.cycles.size() - 1);
}

} // namespace
