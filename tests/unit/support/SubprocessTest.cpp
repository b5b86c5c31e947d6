// Child processes start with every signal at its default, whatever this process or one of its threads did.
#include "support/Subprocess.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <pthread.h>

namespace {

// Leaves set bits where the next call's locals will lie, so that a signal set left uninitialised shows.
[[gnu::noinline]] void dirtyStack() {
    volatile unsigned char bytes[8192];
    for (volatile unsigned char& byte : bytes) {
        byte = 0xFF;
    }
}

TEST(Subprocess, TheChildInheritsNoBlockedOrIgnoredSignal) {
    struct sigaction ignore {};
    struct sigaction previousPipe {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previousPipe);
    sigset_t term;
    sigset_t previousMask;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &term, &previousMask);
    dirtyStack();
    Subprocess::Outcome pipe = Subprocess::run("/bin/sh", {"-c", "kill -PIPE $$; exit 0"}, {});
    dirtyStack();
    Subprocess::Outcome terminate = Subprocess::run("/bin/sh", {"-c", "kill -TERM $$; exit 0"}, {});
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::sigaction(SIGPIPE, &previousPipe, nullptr);
    EXPECT_EQ(pipe, Subprocess::Outcome::killedBy(SIGPIPE));
    EXPECT_EQ(terminate, Subprocess::Outcome::killedBy(SIGTERM));
}

} // namespace
