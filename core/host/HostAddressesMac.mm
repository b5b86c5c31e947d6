// macOS: getifaddrs for the interfaces (their AF_LINK entries carry the type and the hardware address) and
// the addresses; for each IPv6 address the kernel's flags
// (SIOCGIFAFLAG_IN6: temporary, deprecated, secured, DHCPv6, tentative) and its lifetimes
// (SIOCGIFALIFETIME_IN6), which getifaddrs leaves out. The ioctls are the ones ifconfig uses.
#include "host/HostAddresses.hpp"

#include "support/Descriptor.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <ifaddrs.h>
#include <map>
#include <memory>
#include <net/if.h>
#include <net/if_dl.h>
#include <net/if_types.h>
#include <netinet/in.h>
#include <netinet6/in6_var.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>

namespace {

unsigned prefixLength(const sockaddr* netmask, int family) {
    if (netmask == nullptr) {
        return 0;
    }
    const auto* bytes = family == AF_INET6 ? reinterpret_cast<const unsigned char*>(
                                                 &reinterpret_cast<const sockaddr_in6*>(netmask)->sin6_addr)
                                           : reinterpret_cast<const unsigned char*>(
                                                 &reinterpret_cast<const sockaddr_in*>(netmask)->sin_addr);
    unsigned bits = 0;
    for (int i = 0; i < (family == AF_INET6 ? 16 : 4); ++i) {
        bits += static_cast<unsigned>(__builtin_popcount(bytes[i]));
    }
    return bits;
}

// The kernel writes a link-local address's scope into its second group; the text leaves it out.
std::string addressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        const in_addr& v4 = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
        return inet_ntop(AF_INET, &v4, text, sizeof text) ? text : "";
    }
    in6_addr v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_LINKLOCAL(&v6) || IN6_IS_ADDR_MC_LINKLOCAL(&v6)) {
        v6.s6_addr[2] = v6.s6_addr[3] = 0;
    }
    return inet_ntop(AF_INET6, &v6, text, sizeof text) ? text : "";
}

// One of the address's IPv6 ioctls. An address that went in the meantime, or one the kernel will not
// describe, is left out rather than taken for a stable one or failing the whole list.
bool askAbout(int socket, unsigned long request, const ifaddrs& entry, in6_ifreq& answer) {
    std::memset(&answer, 0, sizeof answer);
    std::strncpy(answer.ifr_name, entry.ifa_name, sizeof answer.ifr_name - 1);
    std::memcpy(&answer.ifr_ifru.ifru_addr, entry.ifa_addr, sizeof(sockaddr_in6));
    return ioctl(socket, request, &answer) == 0;
}

// Fills in what the kernel knows of one IPv6 address; false when it cannot be had.
bool describe(int socket, const ifaddrs& entry, HostAddress& address) {
    in6_ifreq answer;
    if (!askAbout(socket, SIOCGIFAFLAG_IN6, entry, answer)) {
        return false;
    }
    const int bits = answer.ifr_ifru.ifru_flags6;
    address.temporary = (bits & IN6_IFF_TEMPORARY) != 0;
    address.deprecated = (bits & IN6_IFF_DEPRECATED) != 0;
    address.secured = (bits & IN6_IFF_SECURED) != 0;
    address.dhcp = (bits & IN6_IFF_DYNAMIC) != 0;
    address.tentative = (bits & (IN6_IFF_TENTATIVE | IN6_IFF_DUPLICATED)) != 0;
    if (!askAbout(socket, SIOCGIFALIFETIME_IN6, entry, answer)) {
        return false;
    }
    // The end of the preferred lifetime on the wall clock, as ifconfig reads it; 0 for none.
    const time_t preferredUntil = answer.ifr_ifru.ifru_lifetime.ia6t_preferred;
    if (preferredUntil != 0) {
        const time_t now = std::time(nullptr);
        address.preferredLifetime = std::chrono::seconds(preferredUntil > now ? preferredUntil - now : 0);
    }
    return true;
}

using List = std::unique_ptr<ifaddrs, void (*)(ifaddrs*)>;

Expected<List> list() {
    ifaddrs* first = nullptr;
    if (getifaddrs(&first) != 0) {
        return Failure::of("getifaddrs", errno);
    }
    return List(first, freeifaddrs);
}

// Each link's own entry, or only the one with `index`.
std::vector<HostInterface> interfaces(const ifaddrs* list, std::optional<unsigned> index) {
    std::vector<HostInterface> interfaces;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr || entry->ifa_addr == nullptr ||
            entry->ifa_addr->sa_family != AF_LINK) {
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_dl*>(entry->ifa_addr);
        const unsigned up = IFF_UP | IFF_RUNNING;
        if (!index || *index == static_cast<unsigned>(link->sdl_index)) {
            interfaces.push_back({entry->ifa_name, link->sdl_index, (entry->ifa_flags & up) == up,
                                  (entry->ifa_flags & IFF_POINTOPOINT) != 0, link->sdl_alen > 0,
                                  link->sdl_type == IFT_PPP || link->sdl_type == IFT_GIF,
                                  (entry->ifa_flags & IFF_LOOPBACK) != 0});
        }
    }
    return interfaces;
}

} // namespace

Expected<std::vector<HostInterface>> readHostInterfaces(std::optional<unsigned> index) {
    Expected<List> all = list();
    if (!all) {
        return all.failure();
    }
    return interfaces(all->get(), index);
}

Expected<HostAddresses> readHostAddresses() {
    Expected<List> all = list();
    if (!all) {
        return all.failure();
    }
    HostAddresses host;
    host.interfaces = interfaces(all->get(), std::nullopt);
    std::map<std::string, unsigned> indexes;
    for (const HostInterface& interface : host.interfaces) {
        indexes[interface.name] = interface.index;
    }
    Descriptor socket(-1);
    for (const ifaddrs* entry = all->get(); entry != nullptr; entry = entry->ifa_next) {
        const int family = entry->ifa_addr != nullptr ? entry->ifa_addr->sa_family : AF_UNSPEC;
        const auto index = entry->ifa_name != nullptr ? indexes.find(entry->ifa_name) : indexes.end();
        if ((family != AF_INET && family != AF_INET6) || index == indexes.end()) {
            continue;
        }
        HostAddress address;
        address.interfaceName = entry->ifa_name;
        address.interfaceIndex = index->second;
        address.family = family;
        address.address = addressText(entry->ifa_addr);
        address.prefixLength = prefixLength(entry->ifa_netmask, family);
        if (family == AF_INET6) {
            if (!socket.valid()) {
                socket = Descriptor(::socket(AF_INET6, SOCK_DGRAM, 0));
                if (!socket.valid()) {
                    return Failure::of("socket", errno);
                }
            }
            if (!describe(socket.get(), *entry, address)) {
                continue;
            }
        }
        if (!address.address.empty()) {
            host.addresses.push_back(std::move(address));
        }
    }
    return host;
}
