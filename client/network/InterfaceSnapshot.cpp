#include "network/InterfaceSnapshot.hpp"

#include "host/DiscoverySocket.hpp"
#include "host/RouteTable.hpp"
#include "support/Descriptor.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// A link-local address says nothing about the way out.
bool beyondLink(int family, const void* bytes) {
    if (family == AF_INET) {
        return (ntohl(static_cast<const in_addr*>(bytes)->s_addr) >> 16) != 0xa9fe;
    }
    const auto* v6 = static_cast<const in6_addr*>(bytes);
    return family == AF_INET6 && !IN6_IS_ADDR_LINKLOCAL(v6) && !IN6_IS_ADDR_LOOPBACK(v6);
}

std::optional<std::string> addressBeyondLink(const sockaddr* address) {
    const void* bytes =
        address->sa_family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr)
            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
    char text[INET6_ADDRSTRLEN] = {};
    if (!beyondLink(address->sa_family, bytes) ||
        inet_ntop(address->sa_family, bytes, text, sizeof text) == nullptr) {
        return std::nullopt;
    }
    return text;
}

// The kernel's own route lookup for a destination out on the internet: the address it would send from, which
// moves with the default route and honours whatever else decides the way out (VPN routes, scoped routes,
// policy rules). Connecting a datagram socket sends nothing. False when no socket can be had, though the
// family exists.
bool addWayOut(InterfaceSnapshot& snapshot, const sockaddr* destination, socklen_t length) {
    Descriptor probe(::socket(destination->sa_family, SOCK_DGRAM, 0));
    if (!probe.valid()) {
        return errno == EAFNOSUPPORT;
    }
    // From the stable IPv6 address, as discovery asks, so that temporary addresses coming and going do not
    // move the way out. A kernel that refuses gives the plain way out.
    (void)prepareDiscoverySocket(probe.get(), destination->sa_family,
                                 DiscoveryPath{.preferPublicSource = true, .boundInterface = std::nullopt});
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
    const RouteTable::Destination v4 = RouteTable::internetDestination(AF_INET);
    const RouteTable::Destination v6 = RouteTable::internetDestination(AF_INET6);
    return addWayOut(snapshot, v4.get(), v4.length) && addWayOut(snapshot, v6.get(), v6.length);
}

} // namespace

bool beyondLink(const HostAddress& address) {
    in6_addr bytes{}; // room for either family
    return inet_pton(address.family, address.address.c_str(), &bytes) == 1 &&
           beyondLink(address.family, &bytes);
}

InterfaceSnapshot interfaceSnapshot(const HostAddresses& host) {
    InterfaceSnapshot snapshot;
    std::set<unsigned> counted;
    for (const HostInterface& interface : host.interfaces) {
        if (interface.running && !interface.loopback) {
            snapshot.insert(interface.name);
            counted.insert(interface.index);
        }
    }
    for (const HostAddress& address : host.addresses) {
        if (counted.count(address.interfaceIndex) != 0 && !address.temporary && beyondLink(address)) {
            snapshot.insert(address.interfaceName + " " + address.address);
        }
    }
    return snapshot;
}

std::optional<InterfaceSnapshot> takeInterfaceSnapshot() {
    Expected<HostAddresses> host = readHostAddresses();
    if (!host) {
        return std::nullopt;
    }
    InterfaceSnapshot snapshot = interfaceSnapshot(*host);
    if (!addWaysOut(snapshot)) {
        return std::nullopt;
    }
    return snapshot;
}
