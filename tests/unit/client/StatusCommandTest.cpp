// The launchd job's line of `status`, the one part a machine without launchd cannot run as a process.
#include "commands/StatusCommand.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

namespace {

TEST(StatusCommand, EverythingBeforeTheDaemonLineIsOutBeforeLaunchctlStarts) {
    Scratch dir;
    StatusCommand::Dependencies deps{dir / "config.json", dir / "ipstate.json",
                                     dir.write("job.plist", "<plist/>")};
    // The stand-in for launchctl keeps what the output file holds when it starts.
    deps.launchctl = dir.write(
        "launchctl", "#!/bin/sh\ncat '" + (dir / "out").string() + "' > '" + (dir / "seen").string() + "'\n",
        true);
    deps.output = std::fopen((dir / "out").c_str(), "w");
    StatusCommand::execute(deps);
    std::fclose(deps.output);
    std::string text = dir.read("out");
    ASSERT_NE(text.find("\nDaemon: "), std::string::npos) << text;
    EXPECT_EQ(dir.read("seen"), text.substr(0, text.find("Daemon: ")));
}

TEST(StatusCommand, ALaunchctlThatHangsIsKilledAndReapedAtItsBound) {
    Scratch dir;
    StatusCommand::Dependencies deps{dir / "config.json", dir / "ipstate.json",
                                     dir.write("job.plist", "<plist/>")};
    deps.launchctl = dir.write("launchctl", "#!/bin/sh\nsleep 30 & sleep 30\n", true);
    deps.launchctlLimit = std::chrono::milliseconds(300);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(StatusCommand::daemonState(deps), "Zustand unbekannt (launchctl antwortet nicht)");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1); // no child left to reap
}

} // namespace
