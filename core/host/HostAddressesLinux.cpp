// Linux: a route netlink socket of our own, the links (names, flags, types, hardware addresses) and then
// the addresses with their flags and lifetimes, which getifaddrs leaves out.
#include "host/HostAddresses.hpp"

#include "host/Netlink.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>

namespace {

// The kernel's mark for a lifetime without end (INFINITY_LIFE_TIME in its <net/addrconf.h>).
constexpr std::uint32_t forEver = 0xffffffffU;

bool isTunnelType(unsigned short type) {
    switch (type) {
    case ARPHRD_NONE: // tun, wg
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

void addInterface(std::vector<HostInterface>& interfaces, const nlmsghdr& message) {
    if (message.nlmsg_type != RTM_NEWLINK || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return;
    }
    const auto& link = *static_cast<const ifinfomsg*>(NLMSG_DATA(&message));
    HostInterface interface;
    interface.index = static_cast<unsigned>(link.ifi_index);
    interface.running = (link.ifi_flags & (IFF_UP | IFF_RUNNING)) == (IFF_UP | IFF_RUNNING);
    interface.pointToPoint = (link.ifi_flags & IFF_POINTOPOINT) != 0;
    interface.tunnelType = isTunnelType(link.ifi_type);
    interface.loopback = (link.ifi_flags & IFF_LOOPBACK) != 0;
    Netlink::forEachAttribute(
        message, sizeof(ifinfomsg), [&](unsigned short type, std::size_t size, const void* data) {
            const auto* bytes = static_cast<const char*>(data);
            if (type == IFLA_IFNAME && size <= IFNAMSIZ) {
                interface.name.assign(bytes, strnlen(bytes, size));
            } else if (type == IFLA_ADDRESS) {
                interface.linkLayerAddress = std::any_of(bytes, bytes + size, [](char b) { return b != 0; });
            }
        });
    if (link.ifi_index > 0 && !interface.name.empty()) {
        interfaces.push_back(std::move(interface));
    }
}

// False for an address of a link the links read before lack: one that came since, or a link dump the kernel
// ended early without saying so (it does at a link too large for its buffer).
bool addAddress(std::vector<HostAddress>& addresses, const std::vector<HostInterface>& interfaces,
                const nlmsghdr& message) {
    if (message.nlmsg_type != RTM_NEWADDR || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) {
        return true;
    }
    const auto& header = *static_cast<const ifaddrmsg*>(NLMSG_DATA(&message));
    const std::size_t size = header.ifa_family == AF_INET6 ? 16 : header.ifa_family == AF_INET ? 4 : 0;
    if (size == 0 || header.ifa_prefixlen > size * 8) {
        return true; // another family
    }
    const auto interface = std::find_if(interfaces.begin(), interfaces.end(),
                                        [&](const HostInterface& i) { return i.index == header.ifa_index; });
    if (interface == interfaces.end()) {
        return false;
    }
    const void* address = nullptr;
    const void* local = nullptr;
    std::uint32_t flags = header.ifa_flags;
    std::optional<std::chrono::seconds> preferred;
    Netlink::forEachAttribute(
        message, sizeof(ifaddrmsg), [&](unsigned short type, std::size_t length, const void* data) {
            if ((type == IFA_ADDRESS || type == IFA_LOCAL) && length == size) {
                (type == IFA_LOCAL ? local : address) = data;
            } else if (type == IFA_FLAGS && length >= sizeof flags) {
                std::memcpy(&flags, data, sizeof flags);
            } else if (type == IFA_CACHEINFO && length >= sizeof(ifa_cacheinfo)) {
                ifa_cacheinfo lifetimes;
                std::memcpy(&lifetimes, data, sizeof lifetimes);
                preferred = lifetimes.ifa_prefered == forEver
                                ? std::nullopt
                                : std::optional<std::chrono::seconds>(lifetimes.ifa_prefered);
            }
        });
    // On a point-to-point link IFA_ADDRESS is the peer's and IFA_LOCAL ours.
    const void* own = local != nullptr ? local : address;
    char text[INET6_ADDRSTRLEN] = {};
    if (own == nullptr || inet_ntop(header.ifa_family, own, text, sizeof text) == nullptr) {
        return true;
    }
    const bool v6 = header.ifa_family == AF_INET6;
    addresses.push_back({.interfaceName = interface->name,
                         .interfaceIndex = header.ifa_index,
                         .family = header.ifa_family,
                         .address = text,
                         .prefixLength = header.ifa_prefixlen,
                         .temporary = v6 && (flags & IFA_F_TEMPORARY) != 0, // IPv4's "secondary" otherwise
                         .deprecated = (flags & IFA_F_DEPRECATED) != 0,
                         .secured = (flags & IFA_F_STABLE_PRIVACY) != 0,
                         .dhcp = false, // a DHCPv6 client's lease looks like any address given by hand
                         .tentative = (flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED)) != 0,
                         .preferredLifetime = preferred});
    return true;
}

// On a socket of its own: every link, or the one with `index` alone, and with `addresses` every address.
Expected<HostAddresses> readHost(std::optional<unsigned> index, bool addresses) {
    Netlink netlink;
    if (Expected<void> opened = netlink.open(); !opened) {
        return opened.failure();
    }
    HostAddresses host;
    // Asked as ip(8) asks, without statistics and VF data: the kernel then sizes its buffer to the largest
    // link; otherwise its dump stops at the first link that does not fit in a page.
    struct {
        nlmsghdr header;
        ifinfomsg body;
        rtattr maskAttribute;
        std::uint32_t mask;
    } links{};
    links.header.nlmsg_len = NLMSG_LENGTH(sizeof links.body) + RTA_SPACE(sizeof links.mask);
    links.header.nlmsg_type = RTM_GETLINK;
    links.header.nlmsg_flags = NLM_F_REQUEST | (index ? 0 : NLM_F_DUMP);
    links.body.ifi_index = static_cast<int>(index.value_or(0));
    links.maskAttribute.rta_type = IFLA_EXT_MASK;
    links.maskAttribute.rta_len = RTA_LENGTH(sizeof links.mask);
    links.mask = RTEXT_FILTER_SKIP_STATS;
    Expected<void> asked =
        netlink.ask(links.header, [&](const nlmsghdr& m) { addInterface(host.interfaces, m); });
    bool linksComplete = true;
    if (asked && addresses) {
        asked = netlink.dump(RTM_GETADDR, [&](const nlmsghdr& m) {
            linksComplete = addAddress(host.addresses, host.interfaces, m) && linksComplete;
        });
    }
    if (asked && !linksComplete) {
        asked = Failure{"netlink: an address of a link missing from the links", EAGAIN};
    }
    if (!asked) {
        return asked.failure();
    }
    return host;
}

// An answer the kernel cut short, or whose links or addresses changed while it was read, is asked for once
// more; a second failure is the reader's.
Expected<HostAddresses> readHostAgain(std::optional<unsigned> index, bool addresses) {
    if (Expected<HostAddresses> host = readHost(index, addresses)) {
        return host;
    }
    return readHost(index, addresses);
}

} // namespace

Expected<HostAddresses> readHostAddresses() {
    return readHostAgain(std::nullopt, true);
}

Expected<std::vector<HostInterface>> readHostInterfaces(std::optional<unsigned> index) {
    Expected<HostAddresses> host = readHostAgain(index, false);
    if (!host) {
        return host.failure();
    }
    return std::move(host->interfaces);
}
