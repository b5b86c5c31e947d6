#include "selfupdate/AppUpdateDecision.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    std::string current;
    std::string manifest;
    bool newer;
};

TEST(AppUpdateDecisionTest, OffersOnlyAGreaterDottedDecimalVersion) {
    const std::vector<Case> cases = {
        {"0.24.0", "0.24.0", false},
        {"0.24.0", "0.24.1", true},
        {"0.24.0", "0.24", false},
        {"0.24.0", "0.23.9", false},
        {"0.24.0", "1.0", true},
        {"0.24.0", "1", false},
        {"0.24.0", "1.2.3.4.5", false},
        {"0.24.0", "v0.25.0", false},
        {"0.24.0", "0.25.0-beta", false},
        {"0.24.0", " 0.25.0", false},
        {"0.24.0", "0.25.0 ", false},
        {"0.24.0", "0.25.0\n", false},
        {"0.24.0", "1..0", false},
        {"0.24.0", ".1.0", false},
        {"0.24.0", "1.0.", false},
        {"0.24.0", "", false},
        {"0.24.0", "0.25.0.0", true},
        {"0.24.0", "0.24.0.1", true},
        {"0.24.0", "+0.+25", true},
        {"0.24.0", "0.-25", false},
        {"0.24.0", "-0.25", true},
        {"0.24.0", "0.+-25", false},
        {"0.24.0", "0.+", false},
        {"0.24.0", "0.0025", true},
        {"0.24.0", "0.0x19", false},
        {"0.24.0", "0.٢٥", false},   // Arabic-Indic digits are not ASCII digits
        {"0.24.0", "0.２５", false}, // nor are full-width ones
        {"0.24.0", "9223372036854775807.0", true},
        {"0.24.0", "9223372036854775808.0", false},
        {"0.24.0", "0.99999999999999999999999", false},
        {"0.24.0", "-9223372036854775808.0", false},
        {"dev", "0.1", true},
        {"", "0.1", true},
        {"dev", "dev", false},
        {"dev", "1", false},
        {"0.9", "0.10", true},
        {"0.10", "0.9", false},
        {"1.2.3", "1.2.3.1", true},
        {"1.2", "1.2.0.0", false},
        {"1.2.0.0", "1.2", false},
        {"1.2.0", "1.2.0.0", false},
        {"2.0", "1.99.99.99", false},
        {"1.99.99.99", "2.0", true},
        {"1.2.3.4.5", "0.0", true}, // an unparseable running version is older than anything parseable
        {"-1.0", "0.0", true},
        {"9223372036854775807.9223372036854775807.9223372036854775807.9223372036854775807",
         "9223372036854775807.9223372036854775807.9223372036854775807.9223372036854775807", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AppUpdateDecision::isNewer(c.current, c.manifest), c.newer)
            << "current \"" << c.current << "\", manifest \"" << c.manifest << "\"";
    }
}

TEST(AppUpdateDecisionTest, ParsesIntoFourNumbersPaddedWithZeros) {
    using Version = AppUpdateDecision::Version;
    EXPECT_EQ(AppUpdateDecision::parse("0.25"), (Version{0, 25, 0, 0}));
    EXPECT_EQ(AppUpdateDecision::parse("1.2.3"), (Version{1, 2, 3, 0}));
    EXPECT_EQ(AppUpdateDecision::parse("1.2.3.4"), (Version{1, 2, 3, 4}));
    EXPECT_EQ(AppUpdateDecision::parse("-0.+7.007"), (Version{0, 7, 7, 0}));
    EXPECT_EQ(AppUpdateDecision::parse("9223372036854775807.1"), (Version{INT64_MAX, 1, 0, 0}));
    EXPECT_EQ(AppUpdateDecision::parse("1"), std::nullopt);
    EXPECT_EQ(AppUpdateDecision::parse("1.2.3.4.5"), std::nullopt);
    EXPECT_EQ(AppUpdateDecision::parse("1.-1"), std::nullopt);
    EXPECT_EQ(AppUpdateDecision::parse("1.2 "), std::nullopt);
    EXPECT_EQ(AppUpdateDecision::parse(std::string("1.2\0", 4)), std::nullopt);
    EXPECT_EQ(AppUpdateDecision::parse("."), std::nullopt);
}

} // namespace
