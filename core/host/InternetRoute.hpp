// Whether one address family's way to the internet goes through a VPN's tunnel, and if so which interface
// below it still has a way out of its own: discovery sent through that one finds the address the machine's
// own network has, not the VPN's exit.
#pragma once

#include "host/DiscoverySocket.hpp"
#include "host/HostAddresses.hpp"
#include "support/Failure.hpp"

#include <netinet/in.h>
#include <sys/socket.h>

#include <optional>
#include <string>
#include <vector>

// What is read of one family's routing.
struct FamilyRoutes {
    // The interface the kernel chose alone; all of them when it is a tunnel.
    std::vector<HostInterface> interfaces;
    // The interface the kernel sends through towards an address out on the internet; absent: no route.
    std::optional<unsigned> internetInterface;
    // Interfaces with a way out of their own, best first, read only when a tunnel is in the way (Linux: the
    // main table's default routes by metric, then host routes through a gateway, as to a VPN server; macOS:
    // the network services in their order, each with a router of this family).
    std::vector<unsigned> exits;
    // Why the interfaces below the tunnel could not be read; then `exits` is empty and `interfaces` holds the
    // tunnel alone.
    std::optional<std::string> exitsUnreadable{};
};

struct InternetRoute {
    std::optional<DiscoveryPath::Interface> tunnel; // the tunnel the way to the internet goes through
    std::optional<DiscoveryPath::Interface>
        below; // the interface past it; absent when no other has a way out
    // Why the way past the tunnel is unknown: discovery must not go out at all, since unbound it would find
    // the VPN's exit.
    std::optional<std::string> belowUnreadable{};

    bool operator==(const InternetRoute&) const = default;
};

namespace InternetRouting {

// A point-to-point interface without a link-layer address (utun, ipsec, ppp, tun, wg), or one whose type is
// a tunnel's.
bool isTunnel(const HostInterface& interface);
// Direct (nothing set) unless the kernel's way out is a tunnel; then the first exit that is up and no tunnel,
// or why the exits could not be read.
InternetRoute decide(const FamilyRoutes& routes);
// A documentation address of the family (192.0.2.1, 2001:db8::1), port 443, standing for the internet: no
// route narrower than a default can be meant for it. Looking up or connecting a datagram socket sends
// nothing.
struct Destination {
    sockaddr_storage address{};
    socklen_t length = 0;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};
Destination internetDestination(int family);
// What the machine's routing says for AF_INET or AF_INET6 now.
Expected<FamilyRoutes> read(int family);
// The interface the kernel sends through towards the internet; absent: no route.
Expected<std::optional<unsigned>> internetInterface(int family);

// One route towards the internet as the kernel looks it up.
struct Hop {
    unsigned interface = 0;
    std::string gateway; // the router's address; empty for a route straight onto a link (a tunnel's)
};

// The platform's own parts of it (InternetRouteLinux.cpp, InternetRouteMac.mm).
// With `scope`, the route a socket bound to that interface takes (the way out below a tunnel).
Expected<std::optional<Hop>> lookUp(int family, std::optional<unsigned> scope = std::nullopt);
Expected<std::vector<unsigned>> exits(int family);

} // namespace InternetRouting
