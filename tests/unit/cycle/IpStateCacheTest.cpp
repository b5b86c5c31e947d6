#include "cycle/IpStateCache.hpp"

#include "ScratchDirectory.hpp"
#include "TestFiles.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <ostream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using Address = std::optional<std::string>;

// --- loading -------------------------------------------------------------------------------------------

struct LoadCase {
    const char* name;
    std::string fileContent;
    Address ipv4;
    Address ipv6;
};

void PrintTo(const LoadCase& c, std::ostream* out) {
    *out << c.name;
}

class IpStateCacheLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(IpStateCacheLoad, TakesValidFilesAndTreatsDamagedOnesAsEmpty) {
    const LoadCase& c = GetParam();
    ScratchDirectory dir;
    writeFile(dir / "ipstate.json", c.fileContent);

    IpStateCache cache(dir / "ipstate.json");

    EXPECT_EQ(cache.lastIpv4(), c.ipv4);
    EXPECT_EQ(cache.lastIpv6(), c.ipv6);
    // Loading never rewrites the file, whatever it holds.
    EXPECT_EQ(readFile(dir / "ipstate.json"), c.fileContent);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IpStateCacheLoad,
    ::testing::Values(
        LoadCase{"both", R"({"ipv4":"192.0.2.1","ipv6":"2001:db8::1"})", "192.0.2.1", "2001:db8::1"},
        LoadCase{"onlyIpv4", R"({"ipv4":"192.0.2.1"})", "192.0.2.1", std::nullopt},
        LoadCase{"pretty", "{\n  \"ipv6\" : \"2001:DB8::1\"\n}\n", std::nullopt, "2001:DB8::1"},
        LoadCase{"nullMeansAbsent", R"({"ipv4":null,"ipv6":"2001:db8::1"})", std::nullopt, "2001:db8::1"},
        LoadCase{"unknownKeysIgnored", R"({"ipv4":"192.0.2.1","since":5,"x":[1]})", "192.0.2.1",
                 std::nullopt},
        LoadCase{"emptyObject", "{}", std::nullopt, std::nullopt},
        LoadCase{"numberUnderIpv4", R"({"ipv4":1,"ipv6":"2001:db8::1"})", std::nullopt, std::nullopt},
        LoadCase{"arrayUnderIpv6", R"({"ipv4":"192.0.2.1","ipv6":["2001:db8::1"]})", std::nullopt,
                 std::nullopt},
        LoadCase{"boolUnderIpv4", R"({"ipv4":false})", std::nullopt, std::nullopt},
        LoadCase{"topLevelArray", R"(["192.0.2.1"])", std::nullopt, std::nullopt},
        LoadCase{"topLevelString", R"("192.0.2.1")", std::nullopt, std::nullopt},
        LoadCase{"truncated", R"({"ipv4":"192.0.2.1")", std::nullopt, std::nullopt},
        LoadCase{"notJson", "ipv4=192.0.2.1", std::nullopt, std::nullopt},
        LoadCase{"emptyFile", "", std::nullopt, std::nullopt},
        LoadCase{"invalidUtf8", "{\"ipv4\":\"192.0.2.1\xff\"}", std::nullopt, std::nullopt}),
    [](const ::testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.name); });

TEST(IpStateCacheLoadFailures, MissingOrUnreadableFileGivesEmptyState) {
    ScratchDirectory dir;
    IpStateCache missing(dir / "ipstate.json");
    EXPECT_EQ(missing.lastIpv4(), std::nullopt);
    EXPECT_EQ(missing.lastIpv6(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(dir / "ipstate.json"));

    std::filesystem::create_directory(dir / "adirectory");
    IpStateCache directory(dir / "adirectory");
    EXPECT_EQ(directory.lastIpv4(), std::nullopt);
    EXPECT_TRUE(directory.needsUpdate("192.0.2.1", std::nullopt));
}

// --- needsUpdate ---------------------------------------------------------------------------------------

struct NeedsUpdateCase {
    const char* name;
    Address recorded4;
    Address recorded6;
    Address given4;
    Address given6;
    bool expected;
};

void PrintTo(const NeedsUpdateCase& c, std::ostream* out) {
    *out << c.name;
}

class IpStateCacheNeedsUpdate : public ::testing::TestWithParam<NeedsUpdateCase> {};

TEST_P(IpStateCacheNeedsUpdate, ComparesEachGivenFamilyIgnoringLetterCase) {
    const NeedsUpdateCase& c = GetParam();
    IpStateCache cache(std::nullopt);
    cache.record(c.recorded4, c.recorded6);
    EXPECT_EQ(cache.needsUpdate(c.given4, c.given6), c.expected);
}

const Address none = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Table, IpStateCacheNeedsUpdate,
    ::testing::Values(
        NeedsUpdateCase{"nothingRecordedIpv4Given", none, none, "192.0.2.1", none, true},
        NeedsUpdateCase{"sameIpv4", "192.0.2.1", none, "192.0.2.1", none, false},
        NeedsUpdateCase{"otherIpv4", "192.0.2.1", none, "192.0.2.2", none, true},
        NeedsUpdateCase{"ipv6GivenButNotRecorded", "192.0.2.1", none, "192.0.2.1", "2001:db8::1", true},
        NeedsUpdateCase{"ipv6CaseIgnored", none, "2001:DB8::1", none, "2001:db8::1", false},
        NeedsUpdateCase{"ipv6CaseIgnoredOtherWay", none, "2001:db8::abcd", none, "2001:DB8::ABCD", false},
        NeedsUpdateCase{"ipv6SpellingNotNormalised", none, "2001:DB8::1", none, "2001:db8:0:0:0:0:0:1", true},
        NeedsUpdateCase{"bothSame", "192.0.2.1", "2001:db8::1", "192.0.2.1", "2001:db8::1", false},
        NeedsUpdateCase{"onlyIpv6Differs", "192.0.2.1", "2001:db8::1", "192.0.2.1", "2001:db8::2", true},
        NeedsUpdateCase{"absentFamilyIgnored", "192.0.2.1", "2001:db8::1", none, "2001:db8::1", false},
        NeedsUpdateCase{"bothAbsentNothingRecorded", none, none, none, none, false},
        NeedsUpdateCase{"bothAbsentSomethingRecorded", "192.0.2.1", "2001:db8::1", none, none, false}),
    [](const ::testing::TestParamInfo<NeedsUpdateCase>& info) { return std::string(info.param.name); });

// --- record, invalidate, persistence -------------------------------------------------------------------

TEST(IpStateCacheRecord, OneFamilyKeepsTheOtherInMemoryAndInTheFile) {
    ScratchDirectory dir;
    writeFile(dir / "ipstate.json", R"({"ipv4":"192.0.2.1"})");
    IpStateCache cache(dir / "ipstate.json");

    cache.record(std::nullopt, "2001:db8::1");

    EXPECT_EQ(cache.lastIpv4(), "192.0.2.1");
    EXPECT_EQ(cache.lastIpv6(), "2001:db8::1");
    EXPECT_EQ(readFile(dir / "ipstate.json"), R"({"ipv4":"192.0.2.1","ipv6":"2001:db8::1"})");

    cache.record("198.51.100.4", std::nullopt);
    EXPECT_EQ(readFile(dir / "ipstate.json"), R"({"ipv4":"198.51.100.4","ipv6":"2001:db8::1"})");
}

TEST(IpStateCacheRecord, FileLeavesOutAbsentFamiliesAndIsReadByTheNextProcess) {
    ScratchDirectory dir;
    {
        IpStateCache cache(dir / "ipstate.json");
        cache.record("192.0.2.1", std::nullopt);
        EXPECT_EQ(readFile(dir / "ipstate.json"), R"({"ipv4":"192.0.2.1"})");
    }
    IpStateCache next(dir / "ipstate.json");
    EXPECT_EQ(next.lastIpv4(), "192.0.2.1");
    EXPECT_EQ(next.lastIpv6(), std::nullopt);
    EXPECT_FALSE(next.needsUpdate("192.0.2.1", std::nullopt));
}

TEST(IpStateCacheRecord, AddressIsStoredExactlyAsGiven) {
    ScratchDirectory dir;
    IpStateCache cache(dir / "ipstate.json");
    cache.record(std::nullopt, "2001:DB8::1");
    EXPECT_EQ(cache.lastIpv6(), "2001:DB8::1");
    EXPECT_EQ(readFile(dir / "ipstate.json"), R"({"ipv6":"2001:DB8::1"})");
}

TEST(IpStateCacheRecord, CreatesMissingDirectoriesAndWritesReadableModeWhateverTheUmask) {
    ScratchDirectory dir;
    std::filesystem::path file = dir / "a" / "b" / "ipstate.json";
    mode_t previous = ::umask(077);
    IpStateCache cache(file);
    cache.record("192.0.2.1", std::nullopt);
    ::umask(previous);

    ASSERT_TRUE(std::filesystem::exists(file));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_FALSE(std::filesystem::exists(dir / "a" / "b" / "ipstate.json.tmp"));
}

TEST(IpStateCacheInvalidate, ForgetsBothAndWritesAnEmptyObject) {
    ScratchDirectory dir;
    writeFile(dir / "ipstate.json", R"({"ipv4":"192.0.2.1","ipv6":"2001:db8::1"})");
    IpStateCache cache(dir / "ipstate.json");

    cache.invalidate();

    EXPECT_EQ(cache.lastIpv4(), std::nullopt);
    EXPECT_EQ(cache.lastIpv6(), std::nullopt);
    EXPECT_EQ(readFile(dir / "ipstate.json"), "{}");
    EXPECT_TRUE(cache.needsUpdate("192.0.2.1", std::nullopt));
    EXPECT_TRUE(cache.needsUpdate(std::nullopt, "2001:db8::1"));
}

TEST(IpStateCacheMemoryOnly, WorksWithoutTouchingTheDisk) {
    ScratchDirectory dir;
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    IpStateCache cache(std::nullopt);
    cache.record("192.0.2.1", "2001:db8::1");
    EXPECT_FALSE(cache.needsUpdate("192.0.2.1", "2001:db8::1"));
    cache.invalidate();
    EXPECT_TRUE(cache.needsUpdate("192.0.2.1", std::nullopt));
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(IpStateCachePersistFailure, KeepsTheNewStateInMemoryAndDoesNotThrow) {
    ScratchDirectory dir;
    // A regular file where the directory should be: the directory cannot be created.
    writeFile(dir / "blocked", "");
    IpStateCache cache(dir / "blocked" / "ipstate.json");

    EXPECT_NO_THROW(cache.record("192.0.2.1", std::nullopt));
    EXPECT_EQ(cache.lastIpv4(), "192.0.2.1");
    EXPECT_FALSE(cache.needsUpdate("192.0.2.1", std::nullopt));
    EXPECT_NO_THROW(cache.invalidate());
}

TEST(IpStateCachePersistFailure, AnUnencodableAddressKeepsThePreviousFile) {
    ScratchDirectory dir;
    IpStateCache cache(dir / "ipstate.json");
    cache.record("192.0.2.1", std::nullopt);

    EXPECT_NO_THROW(cache.record(std::nullopt, std::string("2001:db8::1\xff")));

    EXPECT_EQ(readFile(dir / "ipstate.json"), R"({"ipv4":"192.0.2.1"})");
    EXPECT_EQ(cache.lastIpv6(), std::string("2001:db8::1\xff"));
}

TEST(IpStateCachePersistFailure, ATemporaryFileInTheWayKeepsTheOldFileWhole) {
    ScratchDirectory dir;
    IpStateCache cache(dir / "ipstate.json");
    cache.record("192.0.2.1", std::nullopt);
    std::filesystem::create_directory(dir / "ipstate.json.tmp");

    cache.record("198.51.100.4", std::nullopt);

    EXPECT_EQ(readFile(dir / "ipstate.json"), R"({"ipv4":"192.0.2.1"})");
    EXPECT_EQ(cache.lastIpv4(), "198.51.100.4");
}

// --- concurrency ---------------------------------------------------------------------------------------

TEST(IpStateCacheConcurrency, ConcurrentRecordsLeaveFileAndMemoryInAgreement) {
    ScratchDirectory dir;
    IpStateCache cache(dir / "ipstate.json");
    constexpr int threads = 4;
    constexpr int rounds = 20;

    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&cache, t] {
            for (int i = 0; i < rounds; ++i) {
                std::string n = std::to_string(t * rounds + i);
                cache.record("10.0.0." + n, "2001:db8::" + n);
                (void)cache.needsUpdate("10.0.0.1", std::nullopt);
                (void)cache.lastIpv6();
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }

    // Both halves of one record land together, and the last write on disk is the last state in memory.
    std::string ipv4 = cache.lastIpv4().value_or("");
    std::string ipv6 = cache.lastIpv6().value_or("");
    ASSERT_EQ(ipv4.substr(0, 7), "10.0.0.");
    EXPECT_EQ(ipv6, "2001:db8::" + ipv4.substr(7));
    EXPECT_EQ(readFile(dir / "ipstate.json"), R"({"ipv4":")" + ipv4 + R"(","ipv6":")" + ipv6 + R"("})");
}

} // namespace
