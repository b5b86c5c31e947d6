#include "dnscheck/ResolverLibrary.hpp"

#include <cstring>
#include <sys/socket.h>

namespace ResolverLibrary {

State::State() : ready_(res_ninit(&state_) == 0) {}

State::~State() {
    if (ready_) {
        res_nclose(&state_);
    }
}

// glibc keeps IPv4 resolvers in nsaddr_list and each IPv6 one in its own slot of _u._ext.nsaddrs (with the
// family in nsaddr_list cleared).
std::vector<DnsTransport::Peer> systemResolvers() {
    State state;
    std::vector<DnsTransport::Peer> found;
    for (int index = 0; state.ready() && index < state.get()->nscount && index < MAXNS; ++index) {
        DnsTransport::Peer peer;
        const sockaddr_in& v4 = state.get()->nsaddr_list[index];
        const sockaddr_in6* v6 = state.get()->_u._ext.nsaddrs[index];
        if (v4.sin_family == AF_INET) {
            std::memcpy(&peer.address, &v4, sizeof v4);
            peer.length = sizeof v4;
        } else if (v6 != nullptr && v6->sin6_family == AF_INET6) {
            std::memcpy(&peer.address, v6, sizeof *v6);
            peer.length = sizeof *v6;
        } else {
            continue;
        }
        found.push_back(peer);
    }
    return found;
}

int sendFlags() {
    return MSG_NOSIGNAL;
}

void preventSigpipe(int) {}

} // namespace ResolverLibrary
