// IPV6_PREFER_TEMPADDR (from <netinet6/in6.h>, through <netinet/in.h>) is declared only for programs that ask
// for RFC 3542's API.
#define __APPLE_USE_RFC_3542 1

#include "host/DiscoverySocket.hpp"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

Expected<void> prepareDiscoverySocket(int socket, int family, const DiscoveryPath& path) {
    if (path.preferPublicSource && family == AF_INET6) {
        const int temporary = 0;
        if (setsockopt(socket, IPPROTO_IPV6, IPV6_PREFER_TEMPADDR, &temporary, sizeof temporary) != 0) {
            return Failure::of("IPV6_PREFER_TEMPADDR", errno);
        }
    }
    if (path.boundInterface) {
        const int index = static_cast<int>(path.boundInterface->index);
        const int level = family == AF_INET6 ? IPPROTO_IPV6 : IPPROTO_IP;
        const int option = family == AF_INET6 ? IPV6_BOUND_IF : IP_BOUND_IF;
        if (setsockopt(socket, level, option, &index, sizeof index) != 0) {
            return Failure::of("IP_BOUND_IF " + path.boundInterface->name, errno);
        }
    }
    return {};
}
