#include "host/DiscoverySocket.hpp"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

// RFC 5014's source preferences, from the kernel's <linux/in6.h>, which clashes with glibc's <netinet/in.h>.
#ifndef IPV6_ADDR_PREFERENCES
#define IPV6_ADDR_PREFERENCES 72
#endif
#ifndef IPV6_PREFER_SRC_PUBLIC
#define IPV6_PREFER_SRC_PUBLIC 0x0002
#endif

Expected<void> prepareDiscoverySocket(int socket, int family, const DiscoveryPath& path) {
    if (path.preferPublicSource && family == AF_INET6) {
        const int preference = IPV6_PREFER_SRC_PUBLIC;
        if (setsockopt(socket, IPPROTO_IPV6, IPV6_ADDR_PREFERENCES, &preference, sizeof preference) != 0) {
            return Failure::of("IPV6_ADDR_PREFERENCES", errno);
        }
    }
    if (path.boundInterface) {
        const std::string& name = path.boundInterface->name;
        if (setsockopt(socket, SOL_SOCKET, SO_BINDTODEVICE, name.c_str(),
                       static_cast<socklen_t>(name.size())) != 0) {
            return Failure::of("SO_BINDTODEVICE " + name, errno);
        }
    }
    return {};
}
