// The rotation's new file is taken only from the held folder, as the rotation makes it; anything else leaves
// the log in its old file, with one warning per refused file.
#include "process/DaemonLogFile.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace {

struct Row {
    const char* layout;
    std::function<void(const Scratch&)> rotate; // after the old file was renamed away
    bool followed;
};

TEST(DaemonLogFileTest, FollowsOnlyARotationsOwnFile) {
    const auto fresh = [](const Scratch& logs) {
        logs.write("daemon.log", "");
        ::chmod((logs / "daemon.log").c_str(), 0644);
    };
    const Row rows[] = {
        {"the rotation's new file", fresh, true},
        {"another owner's file",
         [&](const Scratch& logs) {
             fresh(logs);
             // Only root can give a file away; as anyone else the row checks what the good case does.
             ASSERT_EQ(::chown((logs / "daemon.log").c_str(), ::geteuid() == 0 ? 4242 : ::geteuid(), -1), 0);
         },
         ::geteuid() != 0},
        {"a folder others may write",
         [&](const Scratch& logs) {
             fresh(logs);
             ::chmod(logs.path.c_str(), 0777);
         },
         false},
        {"a file with a second name",
         [&](const Scratch& logs) {
             fresh(logs);
             ::link((logs / "daemon.log").c_str(), (logs / "daemon.log.1").c_str());
         },
         false},
        {"a symbolic link at the log's name",
         [&](const Scratch& logs) {
             logs.write("elsewhere", "");
             ::symlink("elsewhere", (logs / "daemon.log").c_str());
         },
         false},
    };
    for (const Row& row : rows) {
        Scratch logs;
        logs.write("daemon.log", "");
        int output = ::open((logs / "daemon.log").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        DaemonLogFile file(logs / "daemon.log", {output});
        std::rename((logs / "daemon.log").c_str(), (logs / "daemon.log.0").c_str());
        row.rotate(logs);

        std::optional<std::string> warning = file.followRotation();
        EXPECT_EQ(file.followRotation(), std::nullopt) << row.layout; // said once
        ASSERT_EQ(::write(output, "line\n", 5), 5);
        ::close(output);
        EXPECT_EQ(logs.read("daemon.log.0"), row.followed ? "" : "line\n") << row.layout;
        EXPECT_EQ(warning.has_value(), !row.followed) << row.layout;
    }
}

} // namespace
