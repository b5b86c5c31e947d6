// The rotation's new file is taken only from the held folder, as the rotation makes it; anything else leaves
// the log in its old file, with one warning per refused file.
#include "process/DaemonLogFile.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>

namespace {

TEST(DaemonLogFileTest, FollowsOnlyARotationsOwnFile) {
    // What is done in the folder after the rotation made its new daemon.log (mode 0644); whether it is taken.
    const std::pair<const char*, bool> rows[] = {
        {"true", true},
        {"(chown 4242 daemon.log 2>/dev/null || true)", ::geteuid() != 0}, // only root gives a file away
        {"chmod 777 .", false},
        {"ln daemon.log other", false},
        {"mv daemon.log other && ln -s other daemon.log", false},
    };
    for (const auto& [rotate, followed] : rows) {
        Scratch logs;
        logs.write("daemon.log", "");
        int output = ::open((logs / "daemon.log").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        DaemonLogFile file(logs / "daemon.log", {output});
        const std::string rotation =
            "cd '" + logs.path.string() +
            "' && mv daemon.log daemon.log.0 && touch daemon.log && chmod 644 daemon.log && " + rotate;
        ASSERT_EQ(std::system(rotation.c_str()), 0) << rotate;

        std::optional<std::string> warning = file.followRotation();
        EXPECT_EQ(file.followRotation(), std::nullopt) << rotate; // said once
        ASSERT_EQ(::write(output, "line\n", 5), 5);
        ::close(output);
        EXPECT_EQ(logs.read("daemon.log.0"), followed ? "" : "line\n") << rotate;
        EXPECT_EQ(warning.has_value(), !followed) << rotate;
    }
}

} // namespace
