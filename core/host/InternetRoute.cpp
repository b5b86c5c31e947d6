#include "host/InternetRoute.hpp"

#include <algorithm>

namespace {

const RouteInterface* find(const std::vector<RouteInterface>& interfaces, unsigned index) {
    auto found = std::find_if(interfaces.begin(), interfaces.end(),
                              [index](const RouteInterface& i) { return i.index == index; });
    return found == interfaces.end() ? nullptr : &*found;
}

DiscoveryPath::Interface named(const RouteInterface& interface) {
    return {interface.name, interface.index};
}

} // namespace

bool InternetRouting::isTunnel(const RouteInterface& interface) {
    return interface.tunnelType || (interface.pointToPoint && !interface.linkLayerAddress);
}

InternetRoute InternetRouting::decide(const FamilyRoutes& routes) {
    const RouteInterface* out =
        routes.internetInterface ? find(routes.interfaces, *routes.internetInterface) : nullptr;
    if (out == nullptr || !isTunnel(*out)) {
        return {};
    }
    InternetRoute route{named(*out), std::nullopt};
    for (unsigned index : routes.exits) {
        const RouteInterface* exit = find(routes.interfaces, index);
        if (exit != nullptr && exit->up && !isTunnel(*exit)) {
            route.below = named(*exit);
            break;
        }
    }
    return route;
}
