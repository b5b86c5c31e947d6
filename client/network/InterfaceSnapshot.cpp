#include "network/InterfaceSnapshot.hpp"

#include "support/Descriptor.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// The kernel's own route lookup for a destination out on the internet (a documentation address, so no
// narrower route than the default can exist for it): the address it would send from, which moves with the
// default route and honours whatever else decides the way out (VPN routes, scoped routes, policy rules).
// Connecting a datagram socket sends nothing. False when no socket can be had, though the family exists.
bool addWayOut(InterfaceSnapshot& snapshot, const sockaddr* destination, socklen_t length) {
    Descriptor probe(::socket(destination->sa_family, SOCK_DGRAM, 0));
    if (!probe.valid()) {
        return errno == EAFNOSUPPORT;
    }
    sockaddr_storage source{};
    socklen_t sourceLength = sizeof source;
    if (connect(probe.get(), destination, length) == 0 &&
        getsockname(probe.get(), reinterpret_cast<sockaddr*>(&source), &sourceLength) == 0) {
        if (std::optional<std::string> address = addressBeyondLink(reinterpret_cast<sockaddr*>(&source))) {
            snapshot.insert("way out " + *address);
        }
    }
    return true;
}

bool addWaysOut(InterfaceSnapshot& snapshot) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(443);
    inet_pton(AF_INET, "192.0.2.1", &v4.sin_addr);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(443);
    inet_pton(AF_INET6, "2001:db8::1", &v6.sin6_addr);
    return addWayOut(snapshot, reinterpret_cast<const sockaddr*>(&v4), sizeof v4) &&
           addWayOut(snapshot, reinterpret_cast<const sockaddr*>(&v6), sizeof v6);
}

} // namespace

std::optional<InterfaceSnapshot> takeInterfaceSnapshot() {
    InterfaceSnapshot snapshot;
    if (!addWaysOut(snapshot)) {
        return std::nullopt;
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return std::nullopt;
    }
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
