// The launchd job's line of `status`, the one part a machine without launchd cannot run as a process.
#include "commands/StatusCommand.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>

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

} // namespace
