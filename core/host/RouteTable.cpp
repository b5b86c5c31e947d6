#include "host/RouteTable.hpp"

#include "host/InternetRoute.hpp"

#include <arpa/inet.h>

RouteTable::Destination RouteTable::internetDestination(int family) {
    Destination destination;
    if (family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&destination.address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(443);
        inet_pton(AF_INET6, "2001:db8::1", &v6->sin6_addr);
        destination.length = sizeof(sockaddr_in6);
        return destination;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&destination.address);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(443);
    inet_pton(AF_INET, "192.0.2.1", &v4->sin_addr);
    destination.length = sizeof(sockaddr_in);
    return destination;
}

Expected<std::optional<unsigned>> RouteTable::internetInterface(int family) {
    Expected<std::optional<Hop>> hop = lookUp(family);
    if (!hop) {
        return hop.failure();
    }
    return *hop ? std::optional<unsigned>((*hop)->interface) : std::nullopt;
}

Expected<FamilyRoutes> RouteTable::read(int family) {
    Expected<std::optional<unsigned>> internet = internetInterface(family);
    if (!internet) {
        return internet.failure();
    }
    FamilyRoutes routes{{}, *internet, {}};
    if (!routes.internetInterface) {
        return routes;
    }
    // The common cycle looks at the one interface the kernel chose; the rest only past a tunnel.
    Expected<std::vector<HostInterface>> out = readHostInterfaces(*routes.internetInterface);
    if (!out) {
        return out.failure();
    }
    routes.interfaces = std::move(*out);
    if (InternetRouting::decide(routes) == InternetRoute{}) {
        return routes;
    }
    // The tunnel is known from here on: what cannot be read below it blocks the family rather than failing
    // the read, which would send discovery out unbound, through the tunnel.
    Expected<std::vector<HostInterface>> interfaces = readHostInterfaces();
    if (!interfaces) {
        routes.exitsUnreadable = interfaces.failure().text;
        return routes;
    }
    Expected<std::vector<unsigned>> ways = exits(family);
    if (!ways) {
        routes.exitsUnreadable = ways.failure().text;
        return routes;
    }
    routes.interfaces = std::move(*interfaces);
    routes.exits = std::move(*ways);
    return routes;
}
