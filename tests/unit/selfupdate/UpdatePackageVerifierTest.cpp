#include "selfupdate/UpdatePackageVerifier.hpp"

#include <cctype>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// SHA-256 of "abc" and of the empty text (FIPS 180-4 test vectors).
const std::string abcDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string emptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

bool isLowerHex64(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string upperWithColons(const std::string& hex) {
    std::string result;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        if (i != 0) {
            result += ':';
        }
        result += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i])));
        result += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i + 1])));
    }
    return result;
}

TEST(UpdatePackageVerifierTest, AcceptsTheDigestInItsUsualSpellings) {
    struct Case {
        std::string expected;
        bool matches;
    };
    std::string grouped =
        abcDigest.substr(0, 16) + "-" + abcDigest.substr(16, 16) + "-" + abcDigest.substr(32);
    const std::vector<Case> cases = {
        {abcDigest, true},
        {upperWithColons(abcDigest), true},
        {grouped, true},
        {abcDigest + "\n", true},
        {"\t " + abcDigest + "\r\n", true},
        {"\u3000" + abcDigest + "\u2028", true}, // ideographic space and line separator are white space too
        {"::" + abcDigest + "--", true},
        {abcDigest.substr(0, 32) + " " + abcDigest.substr(32), false},
        {abcDigest.substr(0, 32) + "\n" + abcDigest.substr(32), false},
        {"", false},
        {"   ", false},
        {abcDigest.substr(0, 63), false},
        {abcDigest + "0", false},
        {emptyDigest, false},
        {"sha256:" + abcDigest, false},
    };
    for (const Case& c : cases) {
        UpdatePackageVerifier::Result result = UpdatePackageVerifier::sha256Matches("abc", c.expected);
        EXPECT_EQ(result.matches, c.matches) << "expected \"" << c.expected << "\"";
        EXPECT_EQ(result.actual, abcDigest);
    }
}

TEST(UpdatePackageVerifierTest, DigestsTheWholeDataAsLowerHex) {
    EXPECT_EQ(UpdatePackageVerifier::sha256Matches("", emptyDigest),
              (UpdatePackageVerifier::Result{true, emptyDigest}));
    // Bytes after a NUL count: the data is not a C string.
    std::string withNul("abc\0def", 7);
    UpdatePackageVerifier::Result nul = UpdatePackageVerifier::sha256Matches(withNul, abcDigest);
    EXPECT_FALSE(nul.matches);
    EXPECT_TRUE(isLowerHex64(nul.actual));
    EXPECT_NE(nul.actual, abcDigest);
    // The two-block message of FIPS 180-4.
    EXPECT_EQ(
        UpdatePackageVerifier::sha256Matches("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "")
            .actual,
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_TRUE(isLowerHex64(UpdatePackageVerifier::sha256Matches(std::string(1 << 20, 'x'), "").actual));
}

TEST(UpdatePackageVerifierTest, NormalisesSeparatorsThenTrimsThenLowersCase) {
    EXPECT_EQ(UpdatePackageVerifier::normalisedDigest(" AB:CD-EF\n"), "abcdef");
    // ":" is removed before trimming, so white space behind it still goes.
    EXPECT_EQ(UpdatePackageVerifier::normalisedDigest(": AB :"), "ab");
    EXPECT_EQ(UpdatePackageVerifier::normalisedDigest("A B"), "a b");
}

} // namespace
