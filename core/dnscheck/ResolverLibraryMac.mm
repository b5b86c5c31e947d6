#include "dnscheck/ResolverLibrary.hpp"

#include <algorithm>
#include <cstring>
#include <sys/socket.h>

namespace ResolverLibrary {

State::State() : ready_(res_ninit(&state_) == 0) {}

// On macOS res_nclose only closes the sockets; res_ndestroy also frees what res_ninit allocated.
State::~State() {
    if (ready_) {
        res_ndestroy(&state_);
    }
}

// res_getservers returns the configured count, which may exceed the slots it filled; an unused slot's family
// is cleared.
std::vector<DnsTransport::Peer> systemResolvers() {
    State state;
    std::vector<DnsTransport::Peer> found;
    if (!state.ready()) {
        return found;
    }
    res_sockaddr_union servers[MAXNS] = {};
    const int count = std::min(res_getservers(state.get(), servers, MAXNS), MAXNS);
    for (int index = 0; index < count; ++index) {
        DnsTransport::Peer peer;
        if (servers[index].sin.sin_family == AF_INET) {
            std::memcpy(&peer.address, &servers[index].sin, sizeof(sockaddr_in));
            peer.length = sizeof(sockaddr_in);
        } else if (servers[index].sin6.sin6_family == AF_INET6) {
            std::memcpy(&peer.address, &servers[index].sin6, sizeof(sockaddr_in6));
            peer.length = sizeof(sockaddr_in6);
        } else {
            continue;
        }
        found.push_back(peer);
    }
    return found;
}

// macOS has no MSG_NOSIGNAL; the socket option does the same.
int sendFlags() {
    return 0;
}

void preventSigpipe(int fd) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
}

} // namespace ResolverLibrary
