// The launchd job in `status` and `configure`, the one part a machine without launchd cannot run as a
// process.
#include "commands/StatusCommand.hpp"
#include "commands/ConfigureCommand.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(StatusCommand, EverythingBeforeTheDaemonLineIsOutBeforeLaunchctlStarts) {
    Scratch dir;
    // The stand-in for launchctl keeps what the output file holds when it starts.
    const StatusCommand::LaunchdJob job{
        dir.write("job.plist", "<plist/>"),
        dir.write("launchctl",
                  "#!/bin/sh\ncat '" + (dir / "out").string() + "' > '" + (dir / "seen").string() + "'\n",
                  true)};
    std::FILE* output = std::fopen((dir / "out").c_str(), "w");
    StatusCommand::execute(dir.path, job, output);
    std::fclose(output);
    std::string text = dir.read("out");
    ASSERT_NE(text.find("\nDaemon: "), std::string::npos) << text;
    EXPECT_EQ(dir.read("seen"), text.substr(0, text.find("Daemon: ")));
}

TEST(StatusCommand, ALaunchctlThatHangsIsKilledAndReapedAtItsBound) {
    Scratch dir;
    const StatusCommand::LaunchdJob job{dir.write("job.plist", "<plist/>"),
                                        dir.write("launchctl", "#!/bin/sh\nsleep 30 & sleep 30\n", true),
                                        std::chrono::milliseconds(300)};
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(StatusCommand::daemonState(job), "Zustand unbekannt (launchctl antwortet nicht)");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1); // no child left to reap
}

// Saved beside an installed job, the summary says how to restart it; without one it says nothing of it.
TEST(ConfigureCommand, TheRestartHintOnlyBesideAnInstalledJob) {
    const std::string hint = "Daemon neu starten, damit die Änderungen greifen:\n"
                             "  sudo launchctl kickstart -k system/com.korvane.client\n";
    for (bool installed : {false, true}) {
        Scratch dir;
        int key[2];
        ASSERT_EQ(::pipe(key), 0);
        ASSERT_EQ(::write(key[1], "dyndns_unit\n", 12), 12);
        ::close(key[1]);
        std::FILE* output = std::fopen((dir / "out").c_str(), "w");
        const std::filesystem::path plist =
            installed ? dir.write("job.plist", "<plist/>") : (dir / "job.plist").string();
        EXPECT_EQ(ConfigureCommand::execute({"--hostname", "home.example.net", "--api-key-stdin"}, dir.path,
                                            plist, key[0], output),
                  0);
        ::close(key[0]);
        std::fclose(output);
        const std::string text = dir.read("out");
        EXPECT_EQ(text.ends_with(hint), installed) << text;
    }
}

} // namespace
