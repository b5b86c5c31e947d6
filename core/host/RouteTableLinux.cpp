// Linux: the kernel's own route lookup and the main table's routes over rtnetlink. The lookup honours
// policy rules, so a tunnel chosen by firewall mark (as wg-quick sets up) shows as such, while the main
// table still holds the physical default route that the rule bypasses.
#include "host/RouteTable.hpp"

#include "host/Netlink.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <utility>

namespace {

struct Route {
    unsigned char destinationLength = 0;
    unsigned table = 0;
    unsigned char type = 0;
    std::optional<unsigned> interface;
    unsigned metric = 0;
    std::string gateway; // inet_ntop's text; empty without one
};

std::string addressText(int family, const void* data, std::size_t size) {
    char text[INET6_ADDRSTRLEN] = {};
    if (size != (family == AF_INET6 ? 16U : 4U) || inet_ntop(family, data, text, sizeof text) == nullptr) {
        return {};
    }
    return text;
}

// Hands each route of the kernel's answer to `take`.
Expected<void> ask(nlmsghdr& request, const std::function<void(const Route&)>& take) {
    Netlink netlink;
    if (Expected<void> opened = netlink.open(); !opened) {
        return opened;
    }
    return netlink.ask(request, [&](const nlmsghdr& message) {
        if (message.nlmsg_type != RTM_NEWROUTE || message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
            return;
        }
        const auto& header = *static_cast<const rtmsg*>(NLMSG_DATA(&message));
        Route route{header.rtm_dst_len, header.rtm_table, header.rtm_type, std::nullopt, 0, {}};
        Netlink::forEachAttribute(message, sizeof(rtmsg),
                                  [&](unsigned short type, std::size_t size, const void* data) {
                                      std::uint32_t value = 0;
                                      if (size == sizeof value) {
                                          std::memcpy(&value, data, sizeof value);
                                      }
                                      if (type == RTA_OIF) {
                                          route.interface = value;
                                      } else if (type == RTA_PRIORITY) {
                                          route.metric = value;
                                      } else if (type == RTA_TABLE) {
                                          route.table = value;
                                      } else if (type == RTA_GATEWAY) {
                                          route.gateway = addressText(header.rtm_family, data, size);
                                      }
                                  });
        take(route);
    });
}

struct RouteRequest {
    nlmsghdr header;
    rtmsg route;
    char attributes[RTA_SPACE(16) + RTA_SPACE(4)];
};

} // namespace

// The route towards the internet as the kernel would choose it, for a socket bound to `scope` when given.
Expected<std::optional<RouteTable::Hop>> RouteTable::lookUp(int family, std::optional<unsigned> scope) {
    RouteRequest request{};
    const Destination internet = internetDestination(family);
    const void* destination =
        family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(internet.get())->sin6_addr)
            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(internet.get())->sin_addr);
    const std::size_t size = family == AF_INET6 ? 16 : 4;
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.route.rtm_family = static_cast<unsigned char>(family);
    request.route.rtm_dst_len = static_cast<unsigned char>(size * 8);
    auto append = [&request](unsigned short type, const void* data, std::size_t length) {
        auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) +
                                                    NLMSG_ALIGN(request.header.nlmsg_len));
        attribute->rta_type = type;
        attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
        std::memcpy(RTA_DATA(attribute), data, length);
        request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_SPACE(length);
    };
    append(RTA_DST, destination, size);
    if (scope) {
        const std::uint32_t index = *scope;
        append(RTA_OIF, &index, sizeof index);
    }
    std::optional<Hop> hop;
    Expected<void> asked = ask(request.header, [&](const Route& route) {
        if (route.interface) {
            hop = Hop{*route.interface, route.gateway};
        }
    });
    if (!asked && (asked.failure().error == ENETUNREACH || asked.failure().error == EHOSTUNREACH)) {
        return std::optional<Hop>();
    }
    if (!asked) {
        return asked.failure();
    }
    return hop;
}

// The main table's default routes by metric, then its host routes through a gateway.
Expected<std::vector<unsigned>> RouteTable::exits(int family) {
    RouteRequest request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.route.rtm_family = static_cast<unsigned char>(family);
    const unsigned char host = family == AF_INET6 ? 128 : 32;
    std::vector<std::pair<unsigned, unsigned>> defaults; // metric, interface
    std::vector<unsigned> hostRoutes;
    Expected<void> asked = ask(request.header, [&](const Route& route) {
        if (route.table != RT_TABLE_MAIN || route.type != RTN_UNICAST || !route.interface) {
            return;
        }
        if (route.destinationLength == 0) {
            defaults.emplace_back(route.metric, *route.interface);
        } else if (route.destinationLength == host && !route.gateway.empty()) {
            hostRoutes.push_back(*route.interface);
        }
    });
    if (!asked) {
        return asked.failure();
    }
    std::stable_sort(defaults.begin(), defaults.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<unsigned> ordered;
    for (const auto& [metric, interface] : defaults) {
        ordered.push_back(interface);
    }
    ordered.insert(ordered.end(), hostRoutes.begin(), hostRoutes.end());
    return ordered;
}
