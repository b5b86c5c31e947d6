#include "support/Subprocess.hpp"

#include "ScratchDirectory.hpp"
#include "TestFiles.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Subprocess::Outcome;
using Subprocess::Stream;

// Points one of this process's descriptors at a file for the lifetime of the object, so that what an
// inherited child writes there (or reads from there) can be checked.
class RedirectedFd {
public:
    RedirectedFd(int fd, const std::filesystem::path& file, int flags) : fd_(fd) {
        saved_ = ::dup(fd);
        int target = ::open(file.c_str(), flags, 0600);
        ::dup2(target, fd);
        ::close(target);
    }
    ~RedirectedFd() {
        ::dup2(saved_, fd_);
        ::close(saved_);
    }
    RedirectedFd(const RedirectedFd&) = delete;
    RedirectedFd& operator=(const RedirectedFd&) = delete;

private:
    int fd_;
    int saved_;
};

// The child's standard output while it runs with output inherited.
std::string capturedOutput(const ScratchDirectory& dir, const std::string& program,
                           const std::vector<std::string>& args, const std::vector<std::string>& env,
                           Subprocess::Stdio stdio = {}) {
    std::filesystem::path file = dir / "captured";
    std::filesystem::remove(file);
    Outcome outcome;
    std::fflush(stdout);
    {
        RedirectedFd out(STDOUT_FILENO, file, O_WRONLY | O_CREAT | O_TRUNC);
        outcome = Subprocess::run(program, args, env, stdio);
    }
    EXPECT_EQ(outcome, Outcome::exitedWith(0)) << program << ": " << outcome.reason;
    return readFile(file);
}

TEST(SubprocessTest, ReportsExitStatusSignalDeathAndStartFailure) {
    ScratchDirectory dir;
    std::filesystem::path notExecutable = dir / "plain";
    std::ofstream(notExecutable) << "#!/bin/sh\nexit 0\n";
    ::chmod(notExecutable.c_str(), 0644);

    struct Case {
        std::string program;
        std::vector<std::string> args;
        Outcome expected;
    };
    std::vector<Case> cases = {
        {"/bin/sh", {"-c", "exit 0"}, Outcome::exitedWith(0)},
        {"/bin/sh", {"-c", "exit 7"}, Outcome::exitedWith(7)},
        {"/bin/sh", {"-c", "exit 255"}, Outcome::exitedWith(255)},
        {"/bin/sh", {"-c", "kill -KILL $$"}, Outcome::killedBy(SIGKILL)},
        {"/bin/sh", {"-c", "kill -TERM $$"}, Outcome::killedBy(SIGTERM)},
        {(dir / "missing").string(), {}, Outcome::failedBecause("No such file or directory")},
        {notExecutable.string(), {}, Outcome::failedBecause("Permission denied")},
    };
    for (const Case& c : cases) {
        Outcome outcome = Subprocess::run(c.program, c.args, Subprocess::currentEnvironment());
        EXPECT_EQ(outcome, c.expected) << c.program << " " << (c.args.empty() ? "" : c.args.back())
                                       << ": got reason '" << outcome.reason << "'";
    }
    EXPECT_TRUE(Outcome::exitedWith(0).succeeded());
    EXPECT_FALSE(Outcome::exitedWith(1).succeeded());
    EXPECT_FALSE(Outcome::killedBy(SIGTERM).succeeded());
    EXPECT_FALSE(Outcome::failedBecause("x").succeeded());
}

TEST(SubprocessTest, PassesArgumentsVerbatimWithProgramAsArgumentZero) {
    ScratchDirectory dir;
    std::string out =
        capturedOutput(dir, "/bin/sh", {"-c", "printf '[%s]' \"$0\" \"$@\"", "zero", "a b", "", "--x", "*"},
                       Subprocess::currentEnvironment());
    EXPECT_EQ(out, "[zero][a b][][--x][*]");
    // Without "-c" the shell is argv[0] itself.
    std::filesystem::path script = dir / "args.sh";
    std::ofstream(script) << "#!/bin/sh\nprintf '[%s]' \"$0\" \"$@\"\n";
    ::chmod(script.c_str(), 0755);
    EXPECT_EQ(capturedOutput(dir, script.string(), {"print", "system/x"}, Subprocess::currentEnvironment()),
              "[" + script.string() + "][print][system/x]");
}

TEST(SubprocessTest, GivesTheChildExactlyTheEnvironmentPassed) {
    ScratchDirectory dir;
    EXPECT_EQ(capturedOutput(dir, "/usr/bin/env", {}, {"A=1", "B=two words", "EMPTY="}),
              "A=1\nB=two words\nEMPTY=\n");
    EXPECT_EQ(capturedOutput(dir, "/usr/bin/env", {}, {}), "");
}

TEST(SubprocessTest, NullDeviceHidesOutputAndGivesEmptyInput) {
    ScratchDirectory dir;
    std::filesystem::path inputFile = dir / "input";
    std::ofstream(inputFile) << "hello\n";
    RedirectedFd in(STDIN_FILENO, inputFile, O_RDONLY);

    Subprocess::Stdio inherit;
    EXPECT_EQ(capturedOutput(dir, "/bin/cat", {}, {}, inherit), "hello\n");

    ::lseek(STDIN_FILENO, 0, SEEK_SET);
    Subprocess::Stdio nullInput;
    nullInput.input = Stream::nullDevice;
    EXPECT_EQ(capturedOutput(dir, "/bin/cat", {}, {}, nullInput), "");

    Subprocess::Stdio nullOutput;
    nullOutput.output = Stream::nullDevice;
    EXPECT_EQ(capturedOutput(dir, "/bin/sh", {"-c", "echo visible"}, {}, nullOutput), "");

    // Standard error goes where it is told independently of standard output.
    std::filesystem::path errFile = dir / "err";
    Outcome hidden;
    Outcome shown;
    std::fflush(stderr);
    {
        RedirectedFd err(STDERR_FILENO, errFile, O_WRONLY | O_CREAT | O_TRUNC);
        Subprocess::Stdio nullError;
        nullError.error = Stream::nullDevice;
        hidden = Subprocess::run("/bin/sh", {"-c", "echo one >&2"}, {}, nullError);
        shown = Subprocess::run("/bin/sh", {"-c", "echo two >&2"}, {}, inherit);
    }
    EXPECT_EQ(hidden, Outcome::exitedWith(0));
    EXPECT_EQ(shown, Outcome::exitedWith(0));
    EXPECT_EQ(readFile(errFile), "two\n");
}

TEST(SubprocessTest, ChildGetsNoDescriptorButTheStandardStreams) {
    ScratchDirectory dir;
    int held = ::open("/dev/null", O_RDONLY); // without O_CLOEXEC, as a library may leave a socket
    ASSERT_GE(held, 3);
    std::string probe =
        "if command : <&" + std::to_string(held) + " 2>/dev/null; then echo open; else echo closed; fi";
    EXPECT_EQ(capturedOutput(dir, "/bin/sh", {"-c", probe}, {}), "closed\n");
    ::close(held);
}

TEST(SubprocessTest, ChildDoesNotInheritBlockedOrIgnoredSignals) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction previousPipe {};
    ::sigaction(SIGPIPE, &ignore, &previousPipe);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigset_t previousMask;
    ::pthread_sigmask(SIG_BLOCK, &term, &previousMask);

    Outcome pipe = Subprocess::run("/bin/sh", {"-c", "kill -PIPE $$; exit 0"}, {});
    Outcome terminate = Subprocess::run("/bin/sh", {"-c", "kill -TERM $$; exit 0"}, {});

    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::sigaction(SIGPIPE, &previousPipe, nullptr);
    EXPECT_EQ(pipe, Outcome::killedBy(SIGPIPE));
    EXPECT_EQ(terminate, Outcome::killedBy(SIGTERM));
}

TEST(SubprocessTest, EnvironmentWithReplacesOrAppendsOneEntry) {
    struct Case {
        std::vector<std::string> base;
        std::vector<std::string> expected;
    };
    std::vector<Case> cases = {
        {{}, {"KORVANE_SELF_UPDATE=1"}},
        {{"A=1", "B=2"}, {"A=1", "B=2", "KORVANE_SELF_UPDATE=1"}},
        {{"A=1", "KORVANE_SELF_UPDATE=0", "B=2"}, {"A=1", "KORVANE_SELF_UPDATE=1", "B=2"}},
        {{"KORVANE_SELF_UPDATE=", "KORVANE_SELF_UPDATE=0"}, {"KORVANE_SELF_UPDATE=1"}},
        // Names that only start alike are other variables.
        {{"KORVANE_SELF_UPDATE_X=0", "XKORVANE_SELF_UPDATE=0"},
         {"KORVANE_SELF_UPDATE_X=0", "XKORVANE_SELF_UPDATE=0", "KORVANE_SELF_UPDATE=1"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Subprocess::environmentWith(c.base, "KORVANE_SELF_UPDATE", "1"), c.expected);
    }
}

TEST(SubprocessTest, CurrentEnvironmentReachesTheChild) {
    ScratchDirectory dir;
    std::vector<std::string> env = Subprocess::currentEnvironmentWith("KORVANE_SUBPROCESS_PROBE", "a=b c");
    EXPECT_EQ(capturedOutput(dir, "/bin/sh", {"-c", "printf %s \"$KORVANE_SUBPROCESS_PROBE\""}, env),
              "a=b c");
    const char* path = std::getenv("PATH");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(capturedOutput(dir, "/bin/sh", {"-c", "printf %s \"$PATH\""}, env), path);
}

} // namespace
