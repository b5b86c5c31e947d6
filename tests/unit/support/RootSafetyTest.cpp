// What the support helpers promise a process that runs as root: an atomic write makes missing directories
// 0755 whatever the umask, and a child gets no descriptor but the standard streams and every signal at its
// default.
#include "support/AtomicFile.hpp"
#include "support/Subprocess.hpp"

#include "../Scratch.hpp"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifdef __linux__
// A sweep that wins the lock of the writer's next new temporary files, as many times as a test says.
std::atomic<int> lostLockRaces{0};

extern "C" int flock(int fd, int operation) {
    if (lostLockRaces > 0) {
        --lostLockRaces;
        errno = EWOULDBLOCK;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_flock, fd, operation));
}
#endif

namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST(AtomicFile, CreatesMissingParentDirectoriesWith0755WhateverTheUmask) {
    for (mode_t mask : {mode_t(0), mode_t(077)}) {
        Scratch dir;
        mode_t old = ::umask(mask);
        bool ok = bool(AtomicFile::write(dir / "x/y/file", "v", 0600));
        ::umask(old);
        EXPECT_TRUE(ok);
        EXPECT_EQ(dir.read("x/y/file"), "v");
        EXPECT_EQ(modeOf(dir / "x"), 0755u) << mask;
        EXPECT_EQ(modeOf(dir / "x/y"), 0755u) << mask;
    }
}

#ifdef __linux__
// Each lost race leaves its file to the sweep and tries a new name, a bounded number of times.
TEST(AtomicFile, GivesUpAfterSixteenLostLockRaces) {
    for (int lost : {15, 16}) {
        Scratch dir;
        lostLockRaces = lost;
        const auto written = AtomicFile::write(dir / "file", "v", 0600);
        lostLockRaces = 0;
        EXPECT_EQ(written ? 0 : written.failure().error, lost < 16 ? 0 : EAGAIN) << lost;
    }
}
#endif

// One entry of the name reaches the child, with the new value, where the first one stood; a longer name is
// another variable.
TEST(Subprocess, TheEnvironmentHoldsOneEntryOfTheNameWithItsNewValue) {
    EXPECT_EQ(Subprocess::environmentWith(
                  {"A=1", "KORVANE_SELF_UPDATE=0", "KORVANE_SELF_UPDATEX=2", "KORVANE_SELF_UPDATE=3"},
                  "KORVANE_SELF_UPDATE", "1"),
              (std::vector<std::string>{"A=1", "KORVANE_SELF_UPDATE=1", "KORVANE_SELF_UPDATEX=2"}));
}

TEST(Subprocess, ChildGetsNoDescriptorButTheStandardStreams) {
    int held = ::open("/dev/null", O_RDONLY); // without O_CLOEXEC, as a library may leave a socket
    ASSERT_GE(held, 3);
    std::string probe =
        "if cat 2>/dev/null <&" + std::to_string(held) + "; then echo open; else echo closed; fi";
    Expected<Subprocess::Captured> child = Subprocess::capture("/bin/sh", {"-c", probe}, {}, 100);
    ::close(held);
    EXPECT_EQ(child->output, "closed\n");
}

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
    Expected<Subprocess::Outcome> pipe = Subprocess::run("/bin/sh", {"-c", "kill -PIPE $$; exit 0"}, {});
    dirtyStack();
    Expected<Subprocess::Outcome> terminate = Subprocess::run("/bin/sh", {"-c", "kill -TERM $$; exit 0"}, {});
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::sigaction(SIGPIPE, &previousPipe, nullptr);
    EXPECT_EQ(*pipe, Subprocess::Outcome::killedBy(SIGPIPE));
    EXPECT_EQ(*terminate, Subprocess::Outcome::killedBy(SIGTERM));
}

} // namespace
