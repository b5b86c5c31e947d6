// Internet date-times: written in UTC with whole seconds, read strictly.
#include "support/Rfc3339.hpp"
#include "support/TimeZoneGuard.hpp"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

using namespace std::chrono;
using TimePoint = system_clock::time_point;

TimePoint at(year_month_day date, hours h = hours{0}, minutes m = minutes{0}, seconds s = seconds{0}) {
    return time_point_cast<system_clock::duration>(sys_days{date} + h + m + s);
}

TEST(Rfc3339Format, WholeSecondsInUtcWithZ) {
    EXPECT_EQ(Rfc3339::format(TimePoint{}), "1970-01-01T00:00:00Z");
    EXPECT_EQ(Rfc3339::format(at(2026y / January / 31, 8h, 15min)), "2026-01-31T08:15:00Z");
    EXPECT_EQ(Rfc3339::format(at(2024y / February / 29, 23h, 59min, 59s)), "2024-02-29T23:59:59Z");
    EXPECT_EQ(Rfc3339::format(at(1999y / December / 31, 23h, 59min, 59s) + 999ms), "1999-12-31T23:59:59Z");
    // Before 1970 the fraction is dropped towards the earlier second too.
    EXPECT_EQ(Rfc3339::format(TimePoint{} - 1ms), "1969-12-31T23:59:59Z");
    EXPECT_EQ(Rfc3339::format(at(1900y / March / 1, 1h, 2min, 3s)), "1900-03-01T01:02:03Z");
}

TEST(Rfc3339Format, DoesNotDependOnTheLocalTimeZone) {
    TimePoint time = at(2026y / June / 30, 23h, 30min, 5s);
    for (const char* zone : {"UTC0", "JST-9", "EST5EDT,M3.2.0,M11.1.0", "Asia/Kolkata"}) {
        TimeZoneGuard guard(zone);
        EXPECT_EQ(Rfc3339::format(time), "2026-06-30T23:30:05Z") << zone;
    }
}

struct ParseCase {
    const char* text;
    TimePoint expected;
};

class Rfc3339ParseValid : public ::testing::TestWithParam<ParseCase> {};

TEST_P(Rfc3339ParseValid, GivesTheInstant) {
    EXPECT_EQ(Rfc3339::parse(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Rfc3339ParseValid,
    ::testing::Values(ParseCase{"2026-01-31T08:15:00Z", at(2026y / January / 31, 8h, 15min)},
                      ParseCase{"2026-01-31t08:15:00z", at(2026y / January / 31, 8h, 15min)},
                      ParseCase{"2026-01-31T10:15:00+02:00", at(2026y / January / 31, 8h, 15min)},
                      ParseCase{"2026-01-31T02:45:00-05:30", at(2026y / January / 31, 8h, 15min)},
                      ParseCase{"2026-01-01T00:30:00+01:00", at(2025y / December / 31, 23h, 30min)},
                      ParseCase{"2026-01-31T08:15:00+00:00", at(2026y / January / 31, 8h, 15min)},
                      ParseCase{"2026-01-31T08:15:00-00:00", at(2026y / January / 31, 8h, 15min)},
                      ParseCase{"1970-01-01T00:00:00Z", TimePoint{}},
                      ParseCase{"2024-02-29T12:00:00Z", at(2024y / February / 29, 12h)},
                      ParseCase{"2000-02-29T00:00:00Z", at(2000y / February / 29)},
                      ParseCase{"2026-12-31T23:59:59Z", at(2026y / December / 31, 23h, 59min, 59s)},
                      ParseCase{"1969-07-20T20:17:40Z", at(1969y / July / 20, 20h, 17min, 40s)}));

TEST(Rfc3339Parse, RoundTripsWhatFormatWrites) {
    for (TimePoint time : {TimePoint{}, at(2026y / March / 1, 14h, 5min, 9s), at(1980y / January / 1),
                           at(2199y / December / 31, 23h, 59min, 59s)}) {
        std::string text = Rfc3339::format(time);
        EXPECT_EQ(Rfc3339::parse(text), time) << text;
    }
}

class Rfc3339ParseInvalid : public ::testing::TestWithParam<std::string> {};

TEST_P(Rfc3339ParseInvalid, IsRejected) {
    EXPECT_EQ(Rfc3339::parse(GetParam()), std::nullopt) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Rfc3339ParseInvalid,
    ::testing::Values(
        // Fractions of a second.
        "2026-01-31T08:15:00.5Z", "2026-01-31T08:15:00.000Z", "2026-01-31T08:15:00,5Z",
        "2026-01-31T08:15:00.123+01:00",
        // Fields below their lower bounds or above their upper ones.
        "2026-00-10T08:15:00Z", "2026-01-00T08:15:00Z", "2026-13-10T08:15:00Z", "2026-01-32T08:15:00Z",
        "2026-04-31T08:15:00Z", "2026-01-31T24:00:00Z", "2026-01-31T08:60:00Z", "2026-01-31T08:15:61Z",
        // Days that do not exist.
        "2026-02-30T00:00:00Z", "2025-02-29T00:00:00Z", "2100-02-29T00:00:00Z", "2026-02-31T00:00:00Z",
        // Zones.
        "2026-01-31T08:15:00", "2026-01-31T08:15:00 Z", "2026-01-31T08:15:00Z ", "2026-01-31T08:15:00ZZ",
        "2026-01-31T08:15:00+0200", "2026-01-31T08:15:00+02", "2026-01-31T08:15:00+2:00",
        "2026-01-31T08:15:00+24:00", "2026-01-31T08:15:00+02:60", "2026-01-31T08:15:00UTC",
        "2026-01-31T08:15:00+02:00Z", "2026-01-31T08:15:00GMT+1",
        // Shape.
        "", "garbage", "2026-01-31", "2026-01-31T08:15Z", "2026-1-31T08:15:00Z", "26-01-31T08:15:00Z",
        "2026/01/31T08:15:00Z", "2026-01-31 08:15:00Z", "2026-01-31X08:15:00Z", " 2026-01-31T08:15:00Z",
        "+2026-01-31T08:15:00Z", "-026-01-31T08:15:00Z", "2026-01-31T08:15:00\nZ",
        "\xef\xbc\x92\xef\xbc\x90\xef\xbc\x92\xef\xbc\x96-01-31T08:15:00Z",
        std::string("2026-01-31T08:15:00Z\0", 21), std::string("2026-01-31T08:1\0:00Z", 20)));

// How far a point in time reaches depends on the clock's resolution (nanoseconds here, microseconds
// elsewhere); a date beyond it must be rejected, never wrapped around to some other instant.
TEST(Rfc3339Parse, FarDatesAreExactOrRejected) {
    for (const char* text : {"0000-01-01T00:00:00Z", "0001-01-01T00:00:00Z", "1600-01-01T00:00:00Z",
                             "1677-09-21T00:12:43Z", "1677-09-21T00:12:44Z", "2262-04-11T23:47:16Z",
                             "2262-04-11T23:47:17Z", "2300-01-01T00:00:00Z", "9999-12-31T23:59:59Z"}) {
        if (std::optional<TimePoint> parsed = Rfc3339::parse(text)) {
            EXPECT_EQ(Rfc3339::format(*parsed), text);
        }
    }
    // The zone offset alone can carry an instant past the edge.
    for (const char* text : {"2262-04-11T23:47:16-01:00", "1677-09-21T00:12:44+01:00",
                             "9999-12-31T23:59:59-23:59", "0000-01-01T00:00:00+23:59"}) {
        std::optional<TimePoint> parsed = Rfc3339::parse(text);
        std::optional<TimePoint> utc = Rfc3339::parse(std::string(text, 19) + "Z");
        if (!parsed || !utc) {
            continue;
        }
        std::string zone(text + 19);
        auto offset = hours{std::stoi(zone.substr(1, 2))} + minutes{std::stoi(zone.substr(4, 2))};
        EXPECT_EQ(zone[0] == '-' ? *parsed - *utc : *utc - *parsed, offset) << text;
    }
    // Inside the range on every platform.
    EXPECT_NE(Rfc3339::parse("1700-01-01T00:00:00Z"), std::nullopt);
    EXPECT_NE(Rfc3339::parse("2261-12-31T23:59:59Z"), std::nullopt);
}

} // namespace
