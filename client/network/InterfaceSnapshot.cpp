#include "network/InterfaceSnapshot.hpp"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace {

// A link-local address says nothing about the way out.
std::optional<std::string> addressBeyondLink(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        const in_addr& v4 = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
        if ((ntohl(v4.s_addr) >> 16) == 0xa9fe) {
            return std::nullopt;
        }
        return inet_ntop(AF_INET, &v4, text, sizeof text) ? std::optional<std::string>(text) : std::nullopt;
    }
    if (address->sa_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_LINKLOCAL(&v6) || IN6_IS_ADDR_LOOPBACK(&v6)) {
            return std::nullopt;
        }
        return inet_ntop(AF_INET6, &v6, text, sizeof text) ? std::optional<std::string>(text) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<InterfaceSnapshot> takeInterfaceSnapshot() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    InterfaceSnapshot snapshot;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const unsigned up = IFF_UP | IFF_RUNNING;
        if (entry->ifa_name == nullptr || (entry->ifa_flags & up) != up ||
            (entry->ifa_flags & IFF_LOOPBACK)) {
            continue;
        }
        snapshot.insert(entry->ifa_name);
        if (entry->ifa_addr == nullptr) {
            continue;
        }
        if (std::optional<std::string> address = addressBeyondLink(entry->ifa_addr)) {
            snapshot.insert(std::string(entry->ifa_name) + " " + *address);
        }
    }
    freeifaddrs(list);
    return snapshot;
}
