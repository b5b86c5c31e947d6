// The tunnel rule on route and interface data as the two platforms report them: Linux as `ip -d link` and
// `ip route` show it in the process tests' namespaces and on machines with wg-quick, OpenVPN and PPPoE;
// macOS as `ifconfig`, `netstat -rn` and `scutil` show it with the system's own and third-party VPNs.
#include "host/InternetRoute.hpp"

#include <gtest/gtest.h>

namespace {

HostInterface ethernet(const char* name, unsigned index, bool up = true) {
    return {name, index, up, false, true, false};
}
// tun, wg (ARPHRD_NONE), ppp (ARPHRD_PPP) on Linux; ppp (IFT_PPP) and gif on macOS.
HostInterface typedTunnel(const char* name, unsigned index) {
    return {name, index, true, true, false, true};
}
// macOS utun and ipsec: point-to-point, no link-layer address, a type of no tunnel's own.
HostInterface utun(const char* name, unsigned index) {
    return {name, index, true, true, false, false};
}

struct Row {
    const char* layout;
    FamilyRoutes routes;
    std::optional<DiscoveryPath::Interface> tunnel;
    std::optional<DiscoveryPath::Interface> below;
};

using I = DiscoveryPath::Interface;

// "tunnel (index) past below (index)", readable where a row fails.
std::string shown(const std::optional<I>& tunnel, const std::optional<I>& below) {
    auto name = [](const std::optional<I>& i) {
        return i ? i->name + " (" + std::to_string(i->index) + ")" : "-";
    };
    return name(tunnel) + " past " + name(below);
}

TEST(InternetRouteTest, TheTunnelInTheWayAndTheInterfaceBelowIt) {
    const Row rows[] = {
        // Linux
        {"tun default at metric 10, physical at 100",
         {{ethernet("phys0", 2), typedTunnel("vpn0", 3)}, 3, {3, 2}},
         I{"vpn0", 3},
         I{"phys0", 2}},
        {"wg-quick: fwmark rule to table 51820, main keeps eth0's default",
         {{ethernet("eth0", 2), typedTunnel("mullvad-se4", 7)}, 7, {2}},
         I{"mullvad-se4", 7},
         I{"eth0", 2}},
        {"split tunnel: the default stays on eth0",
         {{ethernet("eth0", 2), typedTunnel("tun0", 5)}, 2, {2}},
         std::nullopt,
         std::nullopt},
        {"PPPoE: ppp0 is the only way out",
         {{ethernet("eth0", 2), typedTunnel("ppp0", 9)}, 9, {9}},
         I{"ppp0", 9},
         std::nullopt},
        {"the physical default's link has no carrier",
         {{ethernet("wlan0", 3, false), typedTunnel("wg0", 8)}, 8, {3}},
         I{"wg0", 8},
         std::nullopt},
        {"GRE (a four-byte address, a tunnel's type)",
         {{ethernet("eth0", 2), {"gre1", 6, true, true, true, true}}, 6, {2}},
         I{"gre1", 6},
         I{"eth0", 2}},
        {"an interface named tun0 that is a bridge's Ethernet",
         {{ethernet("tun0", 4), ethernet("eth0", 2)}, 4, {4, 2}},
         std::nullopt,
         std::nullopt},
        {"offline: no route at all", {{ethernet("eth0", 2)}, std::nullopt, {}}, std::nullopt, std::nullopt},
        // macOS
        {"NetworkExtension VPN holds the unscoped default; Wi-Fi's service has its router",
         {{ethernet("en0", 11), utun("utun4", 23)}, 23, {11}},
         I{"utun4", 23},
         I{"en0", 11}},
        {"Ethernet adapter above Wi-Fi in the service order",
         {{ethernet("en0", 11), ethernet("en7", 19), utun("utun3", 22)}, 22, {19, 11}},
         I{"utun3", 22},
         I{"en7", 19}},
    };
    for (const Row& row : rows) {
        const InternetRoute route = InternetRouting::decide(row.routes);
        EXPECT_EQ(shown(route.tunnel, route.below), shown(row.tunnel, row.below)) << row.layout;
    }
}

} // namespace
