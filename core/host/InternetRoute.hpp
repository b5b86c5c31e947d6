// Whether one address family's way to the internet goes through a VPN's tunnel, and if so which interface
// below it still has a way out of its own: discovery sent through that one finds the address the machine's
// own network has, not the VPN's exit.
#pragma once

#include "host/DiscoverySocket.hpp"
#include "host/FamilyRoutes.hpp"

#include <optional>
#include <string>

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

} // namespace InternetRouting
