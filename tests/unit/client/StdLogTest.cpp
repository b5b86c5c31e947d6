// The program's log lines: local time in Western digits whatever the locale, the line format, and the
// sink that drops debug. Standard output is redirected to a temporary file around each call.
#include "StdLog.hpp"
#include "support/TimeZoneGuard.hpp"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono;
using Level = ClientLog::Level;

struct Captured {
    std::string out;
    std::string err;
};

std::string drain(std::FILE* file) {
    std::string bytes;
    std::rewind(file);
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, got);
    }
    std::fclose(file);
    return bytes;
}

// Runs `body` with standard output and standard error going to anonymous temporary files.
Captured capture(const std::function<void()>& body) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr) {
        ADD_FAILURE() << "tmpfile failed";
        return {};
    }
    int savedOut = ::dup(STDOUT_FILENO);
    int savedErr = ::dup(STDERR_FILENO);
    ::dup2(::fileno(out), STDOUT_FILENO);
    ::dup2(::fileno(err), STDERR_FILENO);
    body();
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut, STDOUT_FILENO);
    ::dup2(savedErr, STDERR_FILENO);
    ::close(savedOut);
    ::close(savedErr);
    return {drain(out), drain(err)};
}

bool hasTimestampShape(const std::string& text) {
    if (text.size() != 19) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        char expected = i == 4 || i == 7 ? '-' : i == 10 ? ' ' : i == 13 || i == 16 ? ':' : '\0';
        if (expected != '\0' ? text[i] != expected : (text[i] < '0' || text[i] > '9')) {
            return false;
        }
    }
    return true;
}

// The same local time through the C library's own formatting, in the "C" locale.
std::string viaLocaltime(system_clock::time_point time) {
    std::time_t t = system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&t, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return buffer;
}

const system_clock::time_point known = sys_days{2026y / March / 1} + 14h + 5min + 9s;

TEST(StdLogTimestamp, IsTheLocalTimeOfTheInstant) {
    struct ZoneCase {
        const char* zone;
        const char* expected;
    };
    for (const ZoneCase& c :
         {ZoneCase{"UTC0", "2026-03-01 14:05:09"}, ZoneCase{"JST-9", "2026-03-01 23:05:09"},
          ZoneCase{"America/New_York", "2026-03-01 09:05:09"},
          ZoneCase{"Pacific/Kiritimati", "2026-03-02 04:05:09"},
          ZoneCase{"Asia/Kathmandu", "2026-03-01 19:50:09"}}) {
        TimeZoneGuard guard(c.zone);
        EXPECT_EQ(StdLog::timestamp(known), c.expected) << c.zone;
        EXPECT_EQ(StdLog::timestamp(known), viaLocaltime(known)) << c.zone;
    }
}

TEST(StdLogTimestamp, FollowsDaylightSavingTimeAndDropsFractions) {
    TimeZoneGuard guard("Europe/Berlin");
    system_clock::time_point summer = sys_days{2026y / July / 15} + 22h + 30min;
    EXPECT_EQ(StdLog::timestamp(summer), "2026-07-16 00:30:00");
    EXPECT_EQ(StdLog::timestamp(summer + 999ms), "2026-07-16 00:30:00");
    for (system_clock::time_point time : {summer, known, system_clock::time_point{},
                                          system_clock::time_point{sys_days{2026y / October / 25} + 1h}}) {
        EXPECT_EQ(StdLog::timestamp(time), viaLocaltime(time));
        EXPECT_TRUE(hasTimestampShape(StdLog::timestamp(time))) << StdLog::timestamp(time);
    }
}

// Locales whose own digits or calendar differ from the Western Gregorian ones.
TEST(StdLogTimestamp, WesternDigitsAndGregorianYearUnderAnyLocale) {
    TimeZoneGuard guard("UTC0");
    std::string saved = std::setlocale(LC_ALL, nullptr);
    int tried = 0;
    for (const char* name : {"ar_SA.UTF-8", "ar_EG.UTF-8", "ar_AE.UTF-8", "ar_SA.utf8", "ar_EG.utf8",
                             "th_TH.UTF-8", "th_TH.utf8", "th_TH", "fa_IR.UTF-8", "ar_SA"}) {
        if (std::setlocale(LC_ALL, name) == nullptr) {
            continue;
        }
        ++tried;
        std::string stamp = StdLog::timestamp(known);
        std::setlocale(LC_ALL, saved.c_str());
        EXPECT_EQ(stamp, "2026-03-01 14:05:09") << name;
    }
    std::setlocale(LC_ALL, saved.c_str());
    if (tried == 0) {
        GTEST_SKIP() << "no Arabic, Persian or Thai locale is installed";
    }
}

TEST(StdLogLine, WritesOneTimeStampedLineToStandardOutput) {
    TimeZoneGuard guard("UTC0");
    std::string before;
    std::string after;
    Captured captured = capture([&] {
        before = StdLog::timestamp(system_clock::now());
        StdLog::line(Level::warn, "Adresse unverändert");
        after = StdLog::timestamp(system_clock::now());
    });
    EXPECT_EQ(captured.err, "");
    ASSERT_GE(captured.out.size(), 20u) << captured.out;
    std::string stamp = captured.out.substr(0, 19);
    EXPECT_TRUE(hasTimestampShape(stamp)) << captured.out;
    // The same format in one zone without daylight saving orders like the instants.
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(captured.out.substr(19), " [WARN] Adresse unverändert\n");
}

TEST(StdLogLine, WritesEveryLevelAndTheMessageUnchanged) {
    Captured captured = capture([] {
        StdLog::line(Level::debug, "d");
        StdLog::line(Level::info, "");
        StdLog::line(Level::error, "zwei\nZeilen %s %n \\ {}");
    });
    EXPECT_EQ(captured.err, "");
    const std::string& out = captured.out;
    ASSERT_EQ(out.size(),
              3 * 19 + std::string(" [DEBUG] d\n [INFO] \n [ERROR] zwei\nZeilen %s %n \\ {}\n").size())
        << out;
    EXPECT_TRUE(hasTimestampShape(out.substr(0, 19))) << out;
    EXPECT_EQ(out.substr(19, 11), " [DEBUG] d\n");
    EXPECT_TRUE(hasTimestampShape(out.substr(30, 19))) << out;
    EXPECT_EQ(out.substr(49, 9), " [INFO] \n");
    EXPECT_TRUE(hasTimestampShape(out.substr(58, 19))) << out;
    // Only the first physical line of a message carries the time stamp and level.
    EXPECT_EQ(out.substr(77), " [ERROR] zwei\nZeilen %s %n \\ {}\n");
}

TEST(StdLogClientLog, DropsDebugAndPassesTheRestInOrder) {
    Captured captured = capture([] {
        ClientLog log = StdLog::clientLog();
        log.debug("nicht zu sehen");
        log.info("eins");
        log.debug("auch nicht");
        ClientLog copy = StdLog::clientLog();
        copy.warn("zwei");
        log.error("drei");
    });
    EXPECT_EQ(captured.err, "");
    std::vector<std::string> lines;
    for (size_t start = 0; start < captured.out.size();) {
        size_t end = captured.out.find('\n', start);
        ASSERT_NE(end, std::string::npos) << captured.out;
        lines.push_back(captured.out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 3u) << captured.out;
    const char* rest[] = {" [INFO] eins", " [WARN] zwei", " [ERROR] drei"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(hasTimestampShape(lines[i].substr(0, 19))) << lines[i];
        EXPECT_EQ(lines[i].substr(19), rest[i]);
    }
}

TEST(StdLogLine, LinesFromSeveralThreadsNeverInterleave) {
    constexpr int threads = 4;
    constexpr int perThread = 300;
    Captured captured = capture([] {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([t] {
                std::string padding(200, static_cast<char>('a' + t));
                for (int i = 0; i < perThread; ++i) {
                    StdLog::line(Level::info,
                                 "T" + std::to_string(t) + " " + std::to_string(i) + " " + padding);
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
    });
    std::set<std::string> seen;
    size_t count = 0;
    for (size_t start = 0; start < captured.out.size(); ++count) {
        size_t end = captured.out.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        std::string line = captured.out.substr(start, end - start);
        start = end + 1;
        ASSERT_TRUE(hasTimestampShape(line.substr(0, 19))) << line;
        ASSERT_EQ(line.substr(19, 9), " [INFO] T") << line;
        std::string body = line.substr(27);
        char letter = static_cast<char>('a' + (body[1] - '0'));
        ASSERT_EQ(body.substr(body.size() - 200), std::string(200, letter)) << line;
        seen.insert(body.substr(0, body.size() - 201));
    }
    EXPECT_EQ(count, size_t(threads * perThread));
    EXPECT_EQ(seen.size(), size_t(threads * perThread));
}

} // namespace
