// What the machine's routing says now: the kernel's route towards the internet and the interfaces below a
// tunnel with a way out of their own. Each platform's part is in RouteTableLinux.cpp and RouteTableMac.mm.
#pragma once

#include "host/FamilyRoutes.hpp"
#include "support/Expected.hpp"

#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace RouteTable {

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

// With `scope`, the route a socket bound to that interface takes (the way out below a tunnel).
Expected<std::optional<Hop>> lookUp(int family, std::optional<unsigned> scope = std::nullopt);
Expected<std::vector<unsigned>> exits(int family);

} // namespace RouteTable
