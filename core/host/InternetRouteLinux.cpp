// Linux: the interfaces from getifaddrs (their AF_PACKET entries carry the hardware type and address), the
// kernel's own route lookup and the main table's routes over rtnetlink. The lookup honours policy rules, so
// a tunnel chosen by firewall mark (as wg-quick sets up) shows as such, while the main table still holds the
// physical default route that the rule bypasses.
#include "host/InternetRoute.hpp"

#include "support/Descriptor.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <functional>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <utility>

namespace {

bool isTunnelType(unsigned short type) {
    switch (type) {
    case ARPHRD_NONE:
    case ARPHRD_PPP:
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_IPGRE:
    case ARPHRD_SIT:
        return true;
    default:
        return false;
    }
}

bool anyNonZero(const unsigned char* address, std::size_t length) {
    return std::any_of(address, address + length, [](unsigned char b) { return b != 0; });
}

Expected<std::vector<RouteInterface>> readInterfaces() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return Failure::of("getifaddrs", errno);
    }
    std::vector<RouteInterface> interfaces;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        // Each link's own entry; glibc leaves its address out for a link without one (tun, wg, ppp).
        const bool linkEntry = entry->ifa_addr == nullptr || entry->ifa_addr->sa_family == AF_PACKET;
        if (!linkEntry || entry->ifa_name == nullptr || (entry->ifa_flags & IFF_LOOPBACK)) {
            continue;
        }
        const unsigned up = IFF_UP | IFF_RUNNING;
        RouteInterface interface {
            entry->ifa_name, if_nametoindex(entry->ifa_name), (entry->ifa_flags & up) == up,
                (entry->ifa_flags & IFF_POINTOPOINT) != 0, false, false
        };
        if (entry->ifa_addr != nullptr) {
            const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
            const unsigned char* address = link->sll_addr;
            const std::size_t length = std::min<std::size_t>(link->sll_halen, sizeof link->sll_addr);
            interface.index = static_cast<unsigned>(link->sll_ifindex);
            interface.linkLayerAddress = anyNonZero(address, length);
            interface.tunnelType = isTunnelType(link->sll_hatype);
        }
        interfaces.push_back(std::move(interface));
    }
    freeifaddrs(list);
    return interfaces;
}

// One interface by its index, through ioctl: far cheaper than listing them all.
Expected<RouteInterface> describe(unsigned index) {
    char name[IFNAMSIZ] = {};
    if (if_indextoname(index, name) == nullptr) {
        return Failure::of("if_indextoname", errno);
    }
    Descriptor probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq request{};
    std::memcpy(request.ifr_name, name, IFNAMSIZ);
    if (!probe.valid() || ioctl(probe.get(), SIOCGIFFLAGS, &request) != 0) {
        return Failure::of(std::string("SIOCGIFFLAGS ") + name, errno);
    }
    const unsigned flags = static_cast<unsigned short>(request.ifr_flags);
    if (ioctl(probe.get(), SIOCGIFHWADDR, &request) != 0) {
        return Failure::of(std::string("SIOCGIFHWADDR ") + name, errno);
    }
    const unsigned up = IFF_UP | IFF_RUNNING;
    const auto* address = reinterpret_cast<const unsigned char*>(request.ifr_hwaddr.sa_data);
    return RouteInterface{name,
                          index,
                          (flags & up) == up,
                          (flags & IFF_POINTOPOINT) != 0,
                          anyNonZero(address, sizeof request.ifr_hwaddr.sa_data),
                          isTunnelType(request.ifr_hwaddr.sa_family)};
}

struct Route {
    unsigned char destinationLength = 0;
    unsigned table = 0;
    unsigned char type = 0;
    std::optional<unsigned> interface;
    unsigned metric = 0;
    bool gateway = false;
};

Route parseRoute(const nlmsghdr* message) {
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
    Route parsed{route->rtm_dst_len, route->rtm_table, route->rtm_type, std::nullopt, 0, false};
    int length = static_cast<int>(RTM_PAYLOAD(message));
    for (auto* attribute = RTM_RTA(route); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
        std::uint32_t value = 0;
        if (RTA_PAYLOAD(attribute) == sizeof value) {
            std::memcpy(&value, RTA_DATA(attribute), sizeof value);
        }
        switch (attribute->rta_type) {
        case RTA_OIF:
            parsed.interface = value;
            break;
        case RTA_PRIORITY:
            parsed.metric = value;
            break;
        case RTA_TABLE:
            parsed.table = value;
            break;
        case RTA_GATEWAY:
            parsed.gateway = true;
            break;
        default:
            break;
        }
    }
    return parsed;
}

// Sends one request and hands each route of the answer to `take`; the kernel's refusal is the failure.
Expected<void> ask(const Descriptor& netlink, nlmsghdr& request,
                   const std::function<void(const Route&)>& take) {
    if (send(netlink.get(), &request, request.nlmsg_len, 0) < 0) {
        return Failure::of("rtnetlink", errno);
    }
    std::vector<char> buffer(32768);
    for (;;) {
        ssize_t length = recv(netlink.get(), buffer.data(), buffer.size(), 0);
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length <= 0) {
            return Failure::of("rtnetlink", length < 0 ? errno : EPROTO);
        }
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, length);
             message = NLMSG_NEXT(message, length)) {
            if (message->nlmsg_seq != request.nlmsg_seq) {
                continue;
            }
            if (message->nlmsg_type == NLMSG_DONE) {
                return {};
            }
            if (message->nlmsg_type == NLMSG_ERROR) {
                const int error = -static_cast<const nlmsgerr*>(NLMSG_DATA(message))->error;
                return error == 0 ? Expected<void>() : Failure::of("rtnetlink", error);
            }
            if (message->nlmsg_type == RTM_NEWROUTE) {
                take(parseRoute(message));
            }
            if (!(message->nlmsg_flags & NLM_F_MULTI)) {
                return {};
            }
        }
    }
}

struct RouteRequest {
    nlmsghdr header;
    rtmsg route;
    char attributes[RTA_SPACE(16)];
};

// The route towards a documentation address, which no route narrower than a default can be meant for.
Expected<std::optional<unsigned>> internetInterface(const Descriptor& netlink, int family) {
    RouteRequest request{};
    unsigned char destination[16] = {};
    const std::size_t size = family == AF_INET6 ? 16 : 4;
    inet_pton(family, family == AF_INET6 ? "2001:db8::1" : "192.0.2.1", destination);
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg)) + RTA_SPACE(size);
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.route.rtm_family = static_cast<unsigned char>(family);
    request.route.rtm_dst_len = static_cast<unsigned char>(size * 8);
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) +
                                                NLMSG_ALIGN(NLMSG_LENGTH(sizeof(rtmsg))));
    attribute->rta_type = RTA_DST;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(attribute), destination, size);
    std::optional<unsigned> interface;
    Expected<void> asked =
        ask(netlink, request.header, [&](const Route& route) { interface = route.interface; });
    if (!asked && (asked.failure().error == ENETUNREACH || asked.failure().error == EHOSTUNREACH)) {
        return std::optional<unsigned>();
    }
    if (!asked) {
        return asked.failure();
    }
    return interface;
}

// The main table's default routes by metric, then its host routes through a gateway.
Expected<std::vector<unsigned>> exits(const Descriptor& netlink, int family) {
    RouteRequest request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 2;
    request.route.rtm_family = static_cast<unsigned char>(family);
    const unsigned char host = family == AF_INET6 ? 128 : 32;
    std::vector<std::pair<unsigned, unsigned>> defaults; // metric, interface
    std::vector<unsigned> hostRoutes;
    Expected<void> asked = ask(netlink, request.header, [&](const Route& route) {
        if (route.table != RT_TABLE_MAIN || route.type != RTN_UNICAST || !route.interface) {
            return;
        }
        if (route.destinationLength == 0) {
            defaults.emplace_back(route.metric, *route.interface);
        } else if (route.destinationLength == host && route.gateway) {
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

} // namespace

Expected<FamilyRoutes> InternetRouting::read(int family) {
    Descriptor netlink(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!netlink.valid()) {
        return Failure::of("rtnetlink", errno);
    }
    Expected<std::optional<unsigned>> internet = internetInterface(netlink, family);
    if (!internet) {
        return internet.failure();
    }
    FamilyRoutes routes{{}, *internet, {}};
    if (!routes.internetInterface) {
        return routes;
    }
    // The common cycle looks at the one interface the kernel chose; the rest only past a tunnel.
    Expected<RouteInterface> out = describe(*routes.internetInterface);
    if (!out) {
        return out.failure();
    }
    if (!isTunnel(*out)) {
        routes.interfaces = {std::move(*out)};
        return routes;
    }
    Expected<std::vector<RouteInterface>> interfaces = readInterfaces();
    if (!interfaces) {
        return interfaces.failure();
    }
    Expected<std::vector<unsigned>> ways = exits(netlink, family);
    if (!ways) {
        return ways.failure();
    }
    routes.interfaces = std::move(*interfaces);
    routes.exits = std::move(*ways);
    return routes;
}
