#include "host/InternetRoute.hpp"

#include <arpa/inet.h>

#include <algorithm>

namespace {

const HostInterface* find(const std::vector<HostInterface>& interfaces, unsigned index) {
    auto found = std::find_if(interfaces.begin(), interfaces.end(),
                              [index](const HostInterface& i) { return i.index == index; });
    return found == interfaces.end() ? nullptr : &*found;
}

DiscoveryPath::Interface named(const HostInterface& interface) {
    return {interface.name, interface.index};
}

} // namespace

InternetRouting::Destination InternetRouting::internetDestination(int family) {
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

bool InternetRouting::isTunnel(const HostInterface& interface) {
    return interface.tunnelType || (interface.pointToPoint && !interface.linkLayerAddress);
}

InternetRoute InternetRouting::decide(const FamilyRoutes& routes) {
    const HostInterface* out =
        routes.internetInterface ? find(routes.interfaces, *routes.internetInterface) : nullptr;
    if (out == nullptr || !isTunnel(*out)) {
        return {};
    }
    InternetRoute route{named(*out), std::nullopt, routes.exitsUnreadable};
    for (unsigned index : routes.exits) {
        const HostInterface* exit = find(routes.interfaces, index);
        if (exit != nullptr && exit->running && !exit->loopback && !isTunnel(*exit)) {
            route.below = named(*exit);
            break;
        }
    }
    return route;
}

Expected<std::optional<unsigned>> InternetRouting::internetInterface(int family) {
    Expected<std::optional<Hop>> hop = lookUp(family);
    if (!hop) {
        return hop.failure();
    }
    return *hop ? std::optional<unsigned>((*hop)->interface) : std::nullopt;
}

Expected<FamilyRoutes> InternetRouting::read(int family) {
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
    if (decide(routes) == InternetRoute{}) {
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
