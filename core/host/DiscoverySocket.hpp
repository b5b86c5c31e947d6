// How a discovery request's socket leaves the machine: from its stable IPv6 address rather than a temporary
// one, and through the physical interface below a VPN's tunnel, so that the echo service sees the address
// the Mac's own network has.
#pragma once

#include "support/Expected.hpp"

#include <optional>
#include <string>

struct DiscoveryPath {
    // IPv6: ask the kernel for the public (stable) source address instead of a temporary one.
    bool preferPublicSource = false;
    // The interface to send through past a tunnel; absent: wherever the routes lead.
    struct Interface {
        std::string name;
        unsigned index = 0;

        bool operator==(const Interface&) const = default;
    };
    std::optional<Interface> boundInterface;

    bool operator==(const DiscoveryPath&) const = default;
};

// Sets the socket's options for `path` before it connects; fails, with the option's errno, when the kernel
// refuses one, so that a request is never sent another way than asked.
Expected<void> prepareDiscoverySocket(int socket, int family, const DiscoveryPath& path);
