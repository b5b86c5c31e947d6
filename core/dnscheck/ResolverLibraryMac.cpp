#include "dnscheck/ResolverLibrary.hpp"

#include <sys/socket.h>

namespace ResolverLibrary {

State::State() : ready_(res_ninit(&state_) == 0) {}

// On macOS res_nclose only closes the sockets; res_ndestroy also frees what res_ninit allocated.
State::~State() {
    if (ready_) {
        res_ndestroy(&state_);
    }
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
