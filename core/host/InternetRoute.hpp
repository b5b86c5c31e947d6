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
};

struct InternetRoute {
    std::optional<DiscoveryPath::Interface> tunnel; // the tunnel the way to the internet goes through
    std::optional<DiscoveryPath::Interface>
        below; // the interface past it; absent when no other has a way out

    bool operator==(const InternetRoute&) const = default;
};

namespace InternetRouting {

// A point-to-point interface without a link-layer address (utun, ipsec, ppp, tun, wg), or one whose type is
// a tunnel's.
bool isTunnel(const HostInterface& interface);
// Direct (nothing set) unless the kernel's way out is a tunnel; then the first exit that is up and no tunnel.
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

// The platform's own parts of it (InternetRouteLinux.cpp, InternetRouteMac.mm).
Expected<std::optional<unsigned>> internetInterface(int family);
Expected<std::vector<unsigned>> exits(int family);
// Linux: the IPv4 gateway of the main table's best default route through the interface `index`; absent when
// it has none (the router question asks it; macOS's own client finds its gateway itself).
Expected<std::optional<in_addr>> defaultGateway(unsigned index);

} // namespace InternetRouting
