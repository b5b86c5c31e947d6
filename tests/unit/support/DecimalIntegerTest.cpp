#include "support/DecimalInteger.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace {

struct Case {
    std::string_view text;
    std::optional<std::int64_t> value;
};

constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t highest = std::numeric_limits<std::int64_t>::max();

TEST(DecimalInteger, ReadsASignAndAsciiDigitsWithinInt64Only) {
    const Case cases[] = {
        {"15", 15},
        {"+15", 15},
        {"-5", -5},
        {"-0", 0},
        {"007", 7},
        {"9223372036854775807", highest},
        {"-9223372036854775808", lowest},
        {"+9223372036854775807", highest},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-5", std::nullopt},
        {"--5", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"5\n", std::nullopt},
        {"1.5", std::nullopt},
        {"5min", std::nullopt},
        {"0x10", std::nullopt},
        {"\xd9\xa3", std::nullopt}, // ARABIC-INDIC DIGIT THREE
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecimalInteger::parseInt64(c.text), c.value) << '"' << c.text << '"';
    }
}

} // namespace
