// The few places where glibc's and macOS's resolver library and sockets differ; one file per platform
// (ResolverLibraryLinux.cpp, ResolverLibraryMac.mm).
#pragma once

#include "dnscheck/DnsTransport.hpp"

#include <netinet/in.h>
#include <resolv.h>
#include <vector>

namespace ResolverLibrary {

// One resolver state read from the system's configuration, freed the way the platform wants.
class State {
public:
    State();
    ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    bool ready() const { return ready_; }
    res_state get() { return &state_; }

private:
    struct __res_state state_ {};
    bool ready_ = false;
};

// The resolvers the system's configuration names, in its order (at most MAXNS).
std::vector<DnsTransport::Peer> systemResolvers();

// A peer that closes the connection must not kill the daemon with SIGPIPE: flags for send(), and whatever
// the socket itself needs.
int sendFlags();
void preventSigpipe(int fd);

} // namespace ResolverLibrary
