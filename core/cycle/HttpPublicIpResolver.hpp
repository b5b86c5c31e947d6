// Public-address discovery over HTTPS: asks the configured echo endpoints of one family in order until
// one answers a valid address of that family.
#pragma once

#include "config/ClientConfiguration.hpp"
#include "cycle/PublicIpResolving.hpp"
#include "host/DiscoverySocket.hpp"
#include "host/FamilyRoutes.hpp"
#include "support/ClientLog.hpp"
#include "support/HttpSession.hpp"

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the machine's routing says for a family before its discovery; abstract so tests can script it.
class RouteReading {
public:
    virtual ~RouteReading() = default;
    virtual Expected<FamilyRoutes> read(int family) = 0;

    // RouteTable::read.
    static RouteReading& system();
};

class HttpPublicIpResolver : public PublicIpResolving {
public:
    // requestTimeout bounds each endpoint's request as a whole, so a peer that drips its answer cannot hold
    // the walk longer than that and the next endpoint is still tried.
    HttpPublicIpResolver(ClientConfiguration config, ClientLog log, std::chrono::milliseconds requestTimeout,
                         HttpTrust trust, RouteReading& routes);

    std::optional<std::string> resolveIpv4() noexcept override;
    std::optional<std::string> resolveIpv6() noexcept override;

private:
    // `path` says how the sockets leave the machine; the way past a tunnel is added to it per cycle.
    std::optional<std::string> resolve(const std::vector<std::string>& urls, int addressFamily,
                                       std::string_view family, bool (*isValid)(std::string_view),
                                       DiscoveryPath path);
    // The interface below a VPN's tunnel that this family's discovery goes through; none when no tunnel is
    // in the way (or the routes cannot be read). A failure, said in a WARN line, when a tunnel is in the way
    // and what is below it cannot be read: nothing is sent then.
    Expected<std::optional<DiscoveryPath::Interface>> interfacePastTunnel(int addressFamily,
                                                                          const std::string& family);
    // The address to publish for what the IPv6 echo saw: never one of the machine's temporary or deprecated
    // addresses.
    std::optional<std::string> stableIpv6(const std::string& echoed) const;

    ClientConfiguration config_;
    HttpSession session_;
    ClientLog log_;
    RouteReading& routes_;
    // Per family (IPv4, IPv6): the tunnel the last cycle went past, so that finding and losing it is said
    // once.
    std::array<std::optional<std::string>, 2> tunnelPassed_;
};
