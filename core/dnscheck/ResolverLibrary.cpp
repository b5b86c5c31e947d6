#include "dnscheck/ResolverLibrary.hpp"

#include <sys/socket.h>

namespace ResolverLibrary {

State::State() : ready_(res_ninit(&state_) == 0) {}

State::~State() {
    if (ready_) {
        res_nclose(&state_);
    }
}

int sendFlags() {
    return MSG_NOSIGNAL;
}

void preventSigpipe(int) {}

} // namespace ResolverLibrary
