#include "host/RouterAddress.hpp"

#include "host/HostAddresses.hpp"
#include "host/InternetRoute.hpp"
#include "host/RouteTable.hpp"

#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace {

struct Leaving {
    unsigned index = 0;
    bool tunnel = false; // the only way out: its far end is no home router
};

// The interface IPv4 discovery leaves by: past a VPN's tunnel the one below it.
std::optional<Leaving> leavingInterface() {
    Expected<FamilyRoutes> routes = RouteTable::read(AF_INET);
    if (!routes || !routes->internetInterface) {
        return std::nullopt;
    }
    const InternetRoute route = InternetRouting::decide(*routes);
    if (route.below) {
        return Leaving{route.below->index, false};
    }
    return Leaving{*routes->internetInterface, route.tunnel.has_value()};
}

std::vector<std::string> ownIpv4(unsigned index) {
    std::vector<std::string> own;
    Expected<HostAddresses> host = readHostAddresses();
    if (!host) {
        return own;
    }
    for (const HostAddress& address : host->addresses) {
        if (address.family == AF_INET && address.interfaceIndex == index) {
            own.push_back(address.address);
        }
    }
    return own;
}

} // namespace

RouterSighting RouterAddress::ask() {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::optional<Leaving> leaving = leavingInterface();
    if (!leaving) {
        return {};
    }
    // A dial-up link's own address may still be the echoed one.
    RouterSighting sighting{{}, ownIpv4(leaving->index)};
    if (leaving->tunnel) {
        return sighting;
    }
    try {
        // Shared with the thread, which may outlive this call when a peer holds a library call past the
        // bound.
        auto promise = std::make_shared<std::promise<RouterAnswer>>();
        std::future<RouterAnswer> answer = promise->get_future();
        std::thread([promise, index = leaving->index, deadline] {
            RouterAnswer said;
            try {
                said = askGateway(index, deadline);
            } catch (...) {
                // A library's failure is no answer.
            }
            promise->set_value(said);
        }).detach();
        if (answer.wait_until(deadline) == std::future_status::ready) {
            sighting.answer = answer.get();
        }
    } catch (const std::exception&) {
        // No thread to be had: no answer.
    }
    return sighting;
}
