#include "host/InternetRoute.hpp"

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
