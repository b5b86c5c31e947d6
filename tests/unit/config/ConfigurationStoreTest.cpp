// config.json on disk: absence against read failures, all-or-nothing saves, mode 0600 whatever came before.
#include "config/ConfigurationStore.hpp"

#include "config/ConfigurationError.hpp"

#include "ScratchDirectory.hpp"
#include "TestFiles.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

ClientConfiguration sampleConfiguration() {
    ClientConfiguration config;
    config.hostname = "büro.example.net";
    config.apiKey = "dyndns_s3cr3t/äöü";
    config.updateIntervalMinutes = 15;
    config.enableIpv6 = true;
    config.ipv6DiscoveryUrls = {"https://v6.example/ip"};
    return config;
}

// Runs `body` in a child process as the unprivileged user "nobody"; the child's exit code is returned
// (0 meaning the body's checks held), or -1 when the child could not be run that way.
int runAsNobody(const std::function<int()>& body) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(100);
        }
        int code = 99;
        try {
            code = body();
        } catch (...) {
            code = 98;
        }
        ::_exit(code);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// --- load ------------------------------------------------------------------------------------------------

TEST(ConfigurationStore, ConstructionTouchesNothing) {
    ScratchDirectory dir;
    ConfigurationStore store(dir / "sub" / "config.json");
    EXPECT_EQ(store.path(), dir / "sub" / "config.json");
    EXPECT_FALSE(fs::exists(dir / "sub"));
}

TEST(ConfigurationStore, MissingFileIsNothingAndCreatesNothing) {
    ScratchDirectory dir;
    EXPECT_EQ(ConfigurationStore(dir / "config.json").load(), std::nullopt);
    EXPECT_EQ(ConfigurationStore(dir / "a" / "b" / "config.json").load(), std::nullopt);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(ConfigurationStore, DanglingSymlinkCountsAsMissing) {
    ScratchDirectory dir;
    fs::create_symlink(dir / "nowhere.json", dir / "config.json");
    EXPECT_EQ(ConfigurationStore(dir / "config.json").load(), std::nullopt);
    EXPECT_FALSE(fs::exists(dir / "nowhere.json"));
}

TEST(ConfigurationStore, EmptyObjectIsTheDefaultConfiguration) {
    ScratchDirectory dir;
    writeFile(dir / "config.json", "{}");
    EXPECT_EQ(ConfigurationStore(dir / "config.json").load(), ClientConfiguration());
}

struct DamagedCase {
    const char* name;
    std::string content;
};

class ConfigurationStoreDamaged : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(ConfigurationStoreDamaged, IsReportedWithThePathAndLeftAlone) {
    ScratchDirectory dir;
    fs::path path = dir / "config.json";
    writeFile(path, GetParam().content);
    try {
        ConfigurationStore(path).load();
        FAIL() << "damaged file loaded";
    } catch (const ConfigurationError& error) {
        EXPECT_EQ(std::string(error.what()), "Konfigurationsdatei ist leer oder ungültig: " + path.string());
    }
    EXPECT_EQ(readFile(path), GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConfigurationStoreDamaged,
    ::testing::Values(DamagedCase{"empty", ""}, DamagedCase{"blank", "\n  \n"},
                      DamagedCase{"notJson", "hostname = home.example.net\n"},
                      DamagedCase{"truncated", R"({"hostname": "home.exam)"},
                      DamagedCase{"topLevelArray", R"([{"hostname": "h"}])"},
                      DamagedCase{"wrongType", R"({"hostname": "h", "enableIpv4": "yes"})"},
                      DamagedCase{"invalidUtf8", "{\"hostname\": \"\xc3\x28\"}"},
                      DamagedCase{"nulByte", std::string("{\"hostname\": \"h\"}\0", 18)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigurationStore, DirectoryAtThePathIsAReadError) {
    ScratchDirectory dir;
    fs::create_directory(dir / "config.json");
    try {
        ConfigurationStore(dir / "config.json").load();
        FAIL() << "a directory loaded";
    } catch (const ConfigurationError& error) {
        FAIL() << "reported as damaged content: " << error.what();
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EISDIR);
        EXPECT_TRUE(std::string(error.what()).starts_with((dir / "config.json").string())) << error.what();
    }
}

// Each case runs as "nobody" in a child; the parent prepares the files as root.
TEST(ConfigurationStore, UnreadableFileIsAReadErrorNotAbsence) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    ScratchDirectory dir;
    fs::permissions(dir.path(), fs::perms(0755));
    fs::path readable = dir / "open" / "config.json";
    fs::create_directory(dir / "open");
    fs::permissions(dir / "open", fs::perms(0755));
    writeFile(readable, sampleConfiguration().toJson());
    ::chmod(readable.c_str(), 0000);
    // A directory the user may not enter: its file can be neither read nor shown to be absent.
    fs::create_directory(dir / "closed");
    fs::permissions(dir / "closed", fs::perms(0700));
    writeFile(dir / "closed" / "config.json", "{}");

    auto expectDenied = [](const fs::path& path) {
        return [path]() {
            try {
                ConfigurationStore(path).load();
                return 1;
            } catch (const ConfigurationError&) {
                return 2;
            } catch (const std::system_error& error) {
                bool named = std::string(error.what()).starts_with(path.string());
                return error.code().value() == EACCES && named ? 0 : 3;
            }
        };
    };
    EXPECT_EQ(runAsNobody(expectDenied(readable)), 0) << "mode 000 file";
    EXPECT_EQ(runAsNobody(expectDenied(dir / "closed" / "config.json")), 0) << "file in a closed directory";
}

// --- save ------------------------------------------------------------------------------------------------

TEST(ConfigurationStore, SaveThenLoadRoundTrips) {
    ScratchDirectory dir;
    ConfigurationStore store(dir / "config.json");
    store.save(sampleConfiguration());
    EXPECT_EQ(store.load(), sampleConfiguration());
    EXPECT_EQ(readFile(dir / "config.json"), sampleConfiguration().toJson());

    ClientConfiguration changed = sampleConfiguration();
    changed.hostname = "other.example";
    changed.ipv4DiscoveryUrls.clear();
    store.save(changed);
    EXPECT_EQ(store.load(), changed);
}

TEST(ConfigurationStore, SaveCreatesMissingDirectories) {
    ScratchDirectory dir;
    ConfigurationStore store(dir / "a" / "b" / "c" / "config.json");
    store.save(sampleConfiguration());
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
    EXPECT_EQ(store.load(), sampleConfiguration());
}

TEST(ConfigurationStore, SaveLeavesMode0600WhateverTheUmaskAndTheOldMode) {
    for (mode_t mask : {mode_t(0), mode_t(077), mode_t(0777)}) {
        ScratchDirectory dir;
        fs::path path = dir / "config.json";
        writeFile(path, "{}");
        ::chmod(path.c_str(), 0644);
        {
            UmaskGuard guard(mask);
            ConfigurationStore(path).save(sampleConfiguration());
            ConfigurationStore(dir / "fresh" / "config.json").save(sampleConfiguration());
        }
        EXPECT_EQ(modeOf(path), 0600u) << "umask " << std::oct << mask;
        EXPECT_EQ(modeOf(dir / "fresh" / "config.json"), 0600u) << "umask " << std::oct << mask;
        EXPECT_FALSE(fs::exists(dir / "config.json.tmp"));
        EXPECT_FALSE(fs::exists(dir / "fresh" / "config.json.tmp"));
        EXPECT_EQ(ConfigurationStore(path).load(), sampleConfiguration());
    }
}

TEST(ConfigurationStore, StaleTemporaryFileIsOverwritten) {
    ScratchDirectory dir;
    fs::path path = dir / "config.json";
    ConfigurationStore store(path);
    store.save(ClientConfiguration());
    // Left by an interrupted save: longer than the next content and wider in mode.
    writeFile(dir / "config.json.tmp", std::string(8192, 'x'));
    ::chmod((dir / "config.json.tmp").c_str(), 0666);
    EXPECT_EQ(store.load(), ClientConfiguration());

    store.save(sampleConfiguration());
    EXPECT_FALSE(fs::exists(dir / "config.json.tmp"));
    EXPECT_EQ(readFile(path), sampleConfiguration().toJson());
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST(ConfigurationStore, FailedTemporaryWriteNamesItAndKeepsTheOldFile) {
    ScratchDirectory dir;
    fs::path path = dir / "config.json";
    ConfigurationStore store(path);
    store.save(ClientConfiguration());
    std::string before = readFile(path);
    fs::create_directory(dir / "config.json.tmp");

    try {
        store.save(sampleConfiguration());
        FAIL() << "save over a directory named config.json.tmp succeeded";
    } catch (const ConfigurationError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Konfigurationsdatei konnte nicht geschrieben werden: " + path.string() + ".tmp");
    }
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST(ConfigurationStore, DirectoryThatIsNotWritableGivesTheWriteMessage) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    ScratchDirectory dir;
    fs::permissions(dir.path(), fs::perms(0755));
    fs::path path = dir / "config.json";
    ConfigurationStore(path).save(ClientConfiguration());
    ::chmod(path.c_str(), 0644);
    std::string before = readFile(path);

    int result = runAsNobody([&]() {
        try {
            ConfigurationStore(path).save(sampleConfiguration());
            return 1;
        } catch (const ConfigurationError& error) {
            std::string expected =
                "Konfigurationsdatei konnte nicht geschrieben werden: " + path.string() + ".tmp";
            return error.what() == expected ? 0 : 2;
        }
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(fs::exists(dir / "config.json.tmp"));
}

TEST(ConfigurationStore, FailedRenameGivesTheReasonAndRemovesTheTemporaryFile) {
    ScratchDirectory dir;
    fs::path path = dir / "config.json";
    // A non-empty directory cannot be replaced by a file.
    fs::create_directories(path / "inside");
    writeFile(path / "inside" / "keep", "kept");

    try {
        ConfigurationStore(path).save(sampleConfiguration());
        FAIL() << "save over a non-empty directory succeeded";
    } catch (const ConfigurationError& error) {
        EXPECT_EQ(std::string(error.what()),
                  std::string("Konfigurationsdatei konnte nicht ersetzt werden: ") + std::strerror(EISDIR));
    }
    EXPECT_FALSE(fs::exists(dir / "config.json.tmp"));
    EXPECT_EQ(readFile(path / "inside" / "keep"), "kept");
}

TEST(ConfigurationStore, ParentThatIsAFileIsThePlatformError) {
    ScratchDirectory dir;
    writeFile(dir / "blocker", "not a directory");
    fs::path path = dir / "blocker" / "config.json";
    try {
        ConfigurationStore(path).save(sampleConfiguration());
        FAIL() << "save below a regular file succeeded";
    } catch (const ConfigurationError& error) {
        FAIL() << "reported as a store message: " << error.what();
    } catch (const std::system_error& error) {
        EXPECT_TRUE(std::string(error.what()).starts_with((dir / "blocker").string())) << error.what();
        EXPECT_NE(error.code().value(), 0);
    }
    EXPECT_EQ(readFile(dir / "blocker"), "not a directory");
}

TEST(ConfigurationStore, ConfigurationThatCannotBeEncodedLeavesTheOldFile) {
    ScratchDirectory dir;
    fs::path path = dir / "config.json";
    ConfigurationStore store(path);
    store.save(sampleConfiguration());
    std::string before = readFile(path);

    ClientConfiguration broken = sampleConfiguration();
    broken.hostname = "bad\xfftext";
    EXPECT_ANY_THROW(store.save(broken));
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(fs::exists(dir / "config.json.tmp"));
}

} // namespace
