// Standard Base64 as the Basic authorisation header needs it.
#include "support/Base64.hpp"

#include <gtest/gtest.h>
#include <string>

namespace {

struct Vector {
    std::string bytes;
    std::string encoded;
};

class Base64Encode : public ::testing::TestWithParam<Vector> {};

TEST_P(Base64Encode, MatchesTheKnownEncoding) {
    EXPECT_EQ(Base64::encode(GetParam().bytes), GetParam().encoded);
}

std::string allBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes += static_cast<char>(i);
    }
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, Base64Encode,
    ::testing::Values(
        // The test vectors of RFC 4648, section 10.
        Vector{"", ""}, Vector{"f", "Zg=="}, Vector{"fo", "Zm8="}, Vector{"foo", "Zm9v"},
        Vector{"foob", "Zm9vYg=="}, Vector{"fooba", "Zm9vYmE="}, Vector{"foobar", "Zm9vYmFy"},
        // The Basic authentication example of RFC 7617.
        Vector{"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
        // The two last letters of the standard alphabet, not the URL-safe ones.
        Vector{"\xfb\xef\xbe", "++++"}, Vector{"\xff\xff\xff", "////"}, Vector{"\xff\xfe", "//4="},
        Vector{std::string(1, '\0'), "AA=="}, Vector{std::string(2, '\0'), "AAA="},
        Vector{"m\xc3\xbcller.example:dyndns_\xc3\xa4/\xc3\x9f", "bcO8bGxlci5leGFtcGxlOmR5bmRuc1/DpC/Dnw=="},
        Vector{allBytes(),
               "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0BBQkNER"
               "UZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJi"
               "ouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz"
               "9DR0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w=="}));

TEST(Base64, LongInputHasNoLineBreaks) {
    std::string encoded = Base64::encode(std::string(1000, 'a'));
    EXPECT_EQ(encoded.size(), 1336u);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(encoded.substr(0, 8), "YWFhYWFh");
    EXPECT_TRUE(encoded.ends_with("YQ=="));
}

} // namespace
