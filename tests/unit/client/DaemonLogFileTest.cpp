// The rotation's new file is taken only from the held folder, as the rotation makes it; anything else leaves
// the log in its old file, with one warning per refused file.
#include "process/DaemonLogFile.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

struct Row {
    const char* layout;
    void (*rotate)(const Scratch& logs); // after the rotation made its new daemon.log, mode 0644
    bool followed;
};

std::string at(const Scratch& logs, const char* name) {
    return (logs / name).string();
}

TEST(DaemonLogFileTest, FollowsOnlyARotationsOwnFile) {
    const Row rows[] = {
        {"the rotation's new file", [](const Scratch&) {}, true},
        // Only root can give a file away; as anyone else the file stays the test's own.
        {"another owner's file",
         [](const Scratch& l) { (void)::chown(at(l, "daemon.log").c_str(), 4242, -1); }, ::geteuid() != 0},
        {"a folder others may write", [](const Scratch& l) { ::chmod(l.path.c_str(), 0777); }, false},
        {"a file with a second name",
         [](const Scratch& l) { ::link(at(l, "daemon.log").c_str(), at(l, "other").c_str()); }, false},
        {"a symbolic link at the log's name",
         [](const Scratch& l) {
             std::rename(at(l, "daemon.log").c_str(), at(l, "other").c_str());
             ::symlink("other", at(l, "daemon.log").c_str());
         },
         false},
    };
    for (const Row& row : rows) {
        Scratch logs;
        logs.write("daemon.log", "");
        int output = ::open(at(logs, "daemon.log").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        DaemonLogFile file(logs / "daemon.log", {output});
        std::rename(at(logs, "daemon.log").c_str(), at(logs, "daemon.log.0").c_str());
        logs.write("daemon.log", "");
        ::chmod(at(logs, "daemon.log").c_str(), 0644);
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
