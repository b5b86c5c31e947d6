// Locations follow KORVANE_CONFIG_DIR at every call; the fixed identifiers and the version.
#include "config/ClientPaths.hpp"

#include "ScratchDirectory.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

// Restores KORVANE_CONFIG_DIR (and the working directory) as they were before the test.
class ClientPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* value = std::getenv("KORVANE_CONFIG_DIR")) {
            saved_ = value;
        }
        workingDirectory_ = fs::current_path();
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("KORVANE_CONFIG_DIR", saved_->c_str(), 1);
        } else {
            ::unsetenv("KORVANE_CONFIG_DIR");
        }
        fs::current_path(workingDirectory_);
    }

    static void set(const char* value) { ::setenv("KORVANE_CONFIG_DIR", value, 1); }

private:
    std::optional<std::string> saved_;
    fs::path workingDirectory_;
};

TEST_F(ClientPathsTest, UnsetOrEmptyMeansTheSystemDirectory) {
    ::unsetenv("KORVANE_CONFIG_DIR");
    EXPECT_EQ(ClientPaths::configDir(), fs::path("/Library/Application Support/RuzEdaRoredo"));
    EXPECT_EQ(ClientPaths::configFile(), fs::path("/Library/Application Support/RuzEdaRoredo/config.json"));
    EXPECT_EQ(ClientPaths::ipStateFile(), fs::path("/Library/Application Support/RuzEdaRoredo/ipstate.json"));
    EXPECT_EQ(ClientPaths::statusFile(), fs::path("/Library/Application Support/RuzEdaRoredo/status.json"));

    set("");
    EXPECT_EQ(ClientPaths::configFile(), fs::path("/Library/Application Support/RuzEdaRoredo/config.json"));
}

TEST_F(ClientPathsTest, SetValueHoldsTheThreeFiles) {
    for (const char* value : {"/tmp/cfg", "/tmp/cfg/"}) {
        set(value);
        EXPECT_EQ(ClientPaths::configFile().string(), "/tmp/cfg/config.json") << value;
        EXPECT_EQ(ClientPaths::statusFile().string(), "/tmp/cfg/status.json") << value;
        EXPECT_EQ(ClientPaths::ipStateFile().string(), "/tmp/cfg/ipstate.json") << value;
        EXPECT_EQ(ClientPaths::configDir(), fs::path(value));
    }
}

TEST_F(ClientPathsTest, RelativeValueIsResolvedAgainstTheWorkingDirectory) {
    ScratchDirectory dir;
    fs::current_path(dir.path());
    set("state/korvane");
    EXPECT_TRUE(ClientPaths::configDir().is_absolute());
    EXPECT_EQ(ClientPaths::configFile(), fs::current_path() / "state" / "korvane" / "config.json");
}

TEST_F(ClientPathsTest, ValueIsTakenVerbatim) {
    set("/srv/ with blanks /~");
    EXPECT_EQ(ClientPaths::configFile().string(), "/srv/ with blanks /~/config.json");
    set("~/cfg");
    EXPECT_EQ(ClientPaths::configFile(), fs::current_path() / "~" / "cfg" / "config.json");
}

TEST_F(ClientPathsTest, EveryCallReadsTheEnvironmentAfresh) {
    set("/one");
    EXPECT_EQ(ClientPaths::statusFile().string(), "/one/status.json");
    set("/two");
    EXPECT_EQ(ClientPaths::statusFile().string(), "/two/status.json");
    EXPECT_EQ(ClientPaths::configDir(), fs::path("/two"));
    ::unsetenv("KORVANE_CONFIG_DIR");
    EXPECT_EQ(ClientPaths::statusFile().string(), "/Library/Application Support/RuzEdaRoredo/status.json");
}

TEST_F(ClientPathsTest, ResolvingTouchesNothingOnDisk) {
    ScratchDirectory dir;
    set((dir / "not-yet").c_str());
    EXPECT_EQ(ClientPaths::configFile(), dir / "not-yet" / "config.json");
    ClientPaths::ipStateFile();
    ClientPaths::statusFile();
    EXPECT_FALSE(fs::exists(dir / "not-yet"));
}

TEST(ClientPathsConstants, HaveTheirFixedValues) {
    EXPECT_EQ(ClientPaths::launchdLabel, "com.korvane.client");
    EXPECT_EQ(ClientPaths::launchdPlist, "/Library/LaunchDaemons/com.korvane.client.plist");
    EXPECT_EQ(ClientPaths::daemonLog, "/Library/Logs/RuzEdaRoredo/daemon.log");
    EXPECT_EQ(ClientPaths::menuBarApp, "/Applications/Korvane.app");
    EXPECT_EQ(ClientPaths::defaultConfigDir, "/Library/Application Support/RuzEdaRoredo");
    EXPECT_EQ(ClientVersion::current, "0.24.0");
}

} // namespace
