// What is read of one address family's routing: the facts the choice of the way to the internet rests on.
#pragma once

#include "host/HostAddresses.hpp"

#include <optional>
#include <string>
#include <vector>

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
