// UTF-8 validation, White_Space trimming and splitting, grapheme clusters and character classes.
#include "support/Unicode.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Pieces = std::vector<std::string_view>;

std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// The whole Unicode White_Space property.
const std::vector<char32_t> whiteSpace = {
    0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
    0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

// Look like separators, or sit next to them, but are not White_Space.
const std::vector<char32_t> notWhiteSpace = {0x00,   0x08,   0x0E,   0x1C,   0x1F,   0x7F,   0x84,
                                             0x86,   0x180E, 0x200B, 0x200C, 0x200D, 0x2060, 0xFEFF,
                                             0x3164, 0x00AD, 'a',    '_',    0x2E3A};

class UnicodeWhiteSpace : public ::testing::TestWithParam<char32_t> {};

TEST_P(UnicodeWhiteSpace, IsTrimmedAndSplitsTokens) {
    char32_t c = GetParam();
    std::string s = utf8(c);
    EXPECT_TRUE(Unicode::isWhiteSpace(c));
    EXPECT_EQ(Unicode::trim(s + "good" + s + s), "good");
    EXPECT_EQ(Unicode::trim(s + "a" + s + "b" + s), "a" + s + "b");
    EXPECT_EQ(Unicode::trim(s + s), "");
    EXPECT_EQ(Unicode::split(s + "a" + s + s + "b" + s), (Pieces{"a", "b"}));
}

INSTANTIATE_TEST_SUITE_P(Set, UnicodeWhiteSpace, ::testing::ValuesIn(whiteSpace),
                         [](const auto& info) { return "U" + std::to_string(info.param); });

class UnicodeNotWhiteSpace : public ::testing::TestWithParam<char32_t> {};

TEST_P(UnicodeNotWhiteSpace, IsKeptAndJoinsTokens) {
    char32_t c = GetParam();
    std::string s = utf8(c);
    EXPECT_FALSE(Unicode::isWhiteSpace(c));
    std::string text = s + "a" + s + "b" + s;
    EXPECT_EQ(Unicode::trim(text), text);
    EXPECT_EQ(Unicode::split(text), (Pieces{text}));
}

INSTANTIATE_TEST_SUITE_P(Set, UnicodeNotWhiteSpace, ::testing::ValuesIn(notWhiteSpace),
                         [](const auto& info) { return "U" + std::to_string(info.param); });

TEST(UnicodeTrim, MixedLineEndsAndEdgeCases) {
    EXPECT_EQ(Unicode::trim(" \t\r\n good 192.0.2.1 \r\n"), "good 192.0.2.1");
    EXPECT_EQ(Unicode::trim(""), "");
    EXPECT_EQ(Unicode::trim("x"), "x");
    EXPECT_EQ(Unicode::trim("\u00a0\u3000é\u2028"), "é");
    // Non-ASCII text right beside the blanks is not cut into.
    EXPECT_EQ(Unicode::trim("  Ü\u0308  "), "Ü\u0308");
    EXPECT_EQ(Unicode::trim("日本\u3000"), "日本");
}

TEST(UnicodeTrim, InvalidBytesStayAsTheyAre) {
    EXPECT_EQ(Unicode::trim(" \xff "), "\xff");
    EXPECT_EQ(Unicode::trim("\xff a \xff"), "\xff a \xff");
    // A truncated U+3000 is no white space.
    EXPECT_EQ(Unicode::trim("a \xe3\x80"), "a \xe3\x80");
    EXPECT_EQ(Unicode::trim("\x80\x80 a"), "\x80\x80 a");
    // A complete U+3000 followed by a stray continuation byte: the stray byte ends the trimming.
    EXPECT_EQ(Unicode::trim("a\xe3\x80\x80\x80"), "a\xe3\x80\x80\x80");
    EXPECT_EQ(Unicode::trim(std::string_view("\0 a \0", 5)), std::string_view("\0 a \0", 5));
}

TEST(UnicodeTrimBlanks, RemovesSpacesAndTabsButNotLineEnds) {
    EXPECT_EQ(Unicode::trimBlanks("\t a b \u00a0\u3000"), "a b");
    EXPECT_EQ(Unicode::trimBlanks("\n a \r\n"), "\n a \r\n");
    EXPECT_EQ(Unicode::trimBlanks(" \u2028x\u2029 "), "\u2028x\u2029");
    EXPECT_EQ(Unicode::trimBlanks("  "), "");
}

TEST(UnicodeSplit, RunsOfSeparatorsAreOneAndEmptyPiecesAreDropped) {
    EXPECT_EQ(Unicode::split(""), Pieces{});
    EXPECT_EQ(Unicode::split(" \t\r\n\u3000"), Pieces{});
    EXPECT_EQ(Unicode::split("good"), (Pieces{"good"}));
    EXPECT_EQ(Unicode::split("  good \t 192.0.2.1\r\n\r\nnochg\u0085x  "),
              (Pieces{"good", "192.0.2.1", "nochg", "x"}));
    EXPECT_EQ(Unicode::split("a\u200bb c"), (Pieces{"a\u200bb", "c"}));
    EXPECT_EQ(Unicode::split("\xff \xfe\xfd"), (Pieces{"\xff", "\xfe\xfd"}));
}

struct Utf8Case {
    const char* name;
    std::string bytes;
    bool valid;
};

class UnicodeValidUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(UnicodeValidUtf8, TellsWellFormedFromMalformed) {
    EXPECT_EQ(Unicode::isValidUtf8(GetParam().bytes), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnicodeValidUtf8,
    ::testing::Values(
        Utf8Case{"empty", "", true}, Utf8Case{"ascii", "good 192.0.2.1", true},
        Utf8Case{"nul", std::string("a\0b", 3), true}, Utf8Case{"twoBytes", "é", true},
        Utf8Case{"threeBytes", "€", true}, Utf8Case{"fourBytes", "🙂", true},
        Utf8Case{"lastBeforeSurrogates", "\xed\x9f\xbf", true},
        Utf8Case{"firstAfterSurrogates", "\xee\x80\x80", true}, Utf8Case{"highest", "\xf4\x8f\xbf\xbf", true},
        Utf8Case{"overlongSlash", "\xc0\xaf", false}, Utf8Case{"overlongNul", "\xc0\x80", false},
        Utf8Case{"overlongThree", "\xe0\x80\xaf", false}, Utf8Case{"overlongFour", "\xf0\x80\x80\xaf", false},
        Utf8Case{"highSurrogate", "\xed\xa0\x80", false}, Utf8Case{"lowSurrogate", "\xed\xbf\xbf", false},
        Utf8Case{"surrogatePair", "\xed\xa0\xbd\xed\xb8\x82", false},
        Utf8Case{"aboveUnicode", "\xf4\x90\x80\x80", false},
        Utf8Case{"fiveByteLead", "\xf8\x88\x80\x80\x80", false}, Utf8Case{"truncatedTwo", "a\xc3", false},
        Utf8Case{"truncatedThree", "\xe2\x82", false}, Utf8Case{"truncatedFour", "\xf0\x9f\x99", false},
        Utf8Case{"truncatedInMiddle", "\xe2\x82x", false}, Utf8Case{"loneContinuation", "a\x80", false},
        Utf8Case{"byteFF", "\xff", false}, Utf8Case{"byteFE", "\xfe", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct GraphemeCase {
    const char* name;
    std::string text;
    std::vector<std::string> clusters;
};

class UnicodeGraphemes : public ::testing::TestWithParam<GraphemeCase> {};

TEST_P(UnicodeGraphemes, SplitsIntoUserPerceivedCharacters) {
    const GraphemeCase& c = GetParam();
    std::vector<std::string_view> got = Unicode::graphemes(c.text);
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.end()), c.clusters);
    std::string joined;
    for (std::string_view piece : got) {
        joined += piece;
    }
    EXPECT_EQ(joined, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnicodeGraphemes,
    ::testing::Values(GraphemeCase{"empty", "", {}}, GraphemeCase{"ascii", "ab", {"a", "b"}},
                      GraphemeCase{"combiningAcute", "e\u0301x", {"e\u0301", "x"}},
                      GraphemeCase{"twoCombiningMarks", "a\u0301\u0323b", {"a\u0301\u0323", "b"}},
                      GraphemeCase{"crlf", "a\r\nb", {"a", "\r\n", "b"}}, GraphemeCase{"flag", "🇩🇪", {"🇩🇪"}},
                      GraphemeCase{"twoFlags", "🇩🇪🇫🇷", {"🇩🇪", "🇫🇷"}},
                      GraphemeCase{"flagAndAHalf", "🇩🇪🇫", {"🇩🇪", "🇫"}},
                      GraphemeCase{"zwjFamily", "👨\u200d👩\u200d👧x", {"👨\u200d👩\u200d👧", "x"}},
                      GraphemeCase{"skinTone", "👍🏽👍", {"👍🏽", "👍"}},
                      GraphemeCase{"hangulJamo", "\u1100\u1161\u11a8가", {"\u1100\u1161\u11a8", "가"}},
                      GraphemeCase{"devanagari", "नि", {"नि"}},
                      GraphemeCase{"invalidBytesStandAlone",
                                   "a\xff\xfe"
                                   "b",
                                   {"a", "\xff", "\xfe", "b"}},
                      GraphemeCase{"markAfterInvalidByte", "\xff\u0301", {"\xff", "\u0301"}},
                      GraphemeCase{"flagAfterInvalidByte", "🇩\xff🇪🇫", {"🇩", "\xff", "🇪🇫"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ClassCase {
    const char* name;
    std::string grapheme;
    bool letterOrNumber;
};

class UnicodeLetterOrNumber : public ::testing::TestWithParam<ClassCase> {};

TEST_P(UnicodeLetterOrNumber, LooksAtTheFirstCodePoint) {
    EXPECT_EQ(Unicode::isLetterOrNumber(GetParam().grapheme), GetParam().letterOrNumber);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnicodeLetterOrNumber,
    ::testing::Values(
        ClassCase{"latinLower", "a", true}, ClassCase{"latinUpper", "Z", true},
        ClassCase{"sharpS", "ß", true}, ClassCase{"accented", "e\u0301", true},
        ClassCase{"cyrillic", "ж", true}, ClassCase{"cyrillicUpper", "Ж", true},
        ClassCase{"greek", "λ", true}, ClassCase{"cjk", "中", true}, ClassCase{"hiragana", "あ", true},
        ClassCase{"hangul", "한", true}, ClassCase{"arabicLetter", "ب", true}, ClassCase{"hebrew", "א", true},
        ClassCase{"thai", "ก", true}, ClassCase{"asciiDigit", "7", true},
        ClassCase{"arabicIndicDigit", "\u0663", true}, ClassCase{"devanagariDigit", "\u0967", true},
        ClassCase{"fullwidthDigit", "\uff15", true}, ClassCase{"romanNumeral", "\u216b", true},
        ClassCase{"vulgarFraction", "\u00bd", true}, ClassCase{"fullStop", ".", false},
        ClassCase{"comma", ",", false}, ClassCase{"exclamation", "!", false}, ClassCase{"hyphen", "-", false},
        ClassCase{"underscore", "_", false}, ClassCase{"at", "@", false}, ClassCase{"dollar", "$", false},
        ClassCase{"arabicComma", "\u060c", false}, ClassCase{"cjkFullStop", "\u3002", false},
        ClassCase{"space", " ", false}, ClassCase{"ideographicSpace", "\u3000", false},
        ClassCase{"emoji", "🙂", false}, ClassCase{"flag", "🇩🇪", false},
        ClassCase{"loneCombiningMark", "\u0301", false}, ClassCase{"zeroWidthSpace", "\u200b", false},
        ClassCase{"empty", "", false}, ClassCase{"invalidByte", "\xff", false},
        ClassCase{"controlCharacter", "\x01", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UnicodeIsBlank, SpaceSeparatorsAndTabOnly) {
    for (char32_t c : {char32_t(0x20), char32_t(0x09), char32_t(0xA0), char32_t(0x1680), char32_t(0x2003),
                       char32_t(0x202F), char32_t(0x3000)}) {
        EXPECT_TRUE(Unicode::isBlank(c)) << std::hex << static_cast<unsigned>(c);
    }
    for (char32_t c :
         {char32_t(0x0A), char32_t(0x0B), char32_t(0x0D), char32_t(0x85), char32_t(0x2028), char32_t(0x2029),
          char32_t(0x200B), char32_t('a'), char32_t(0x110000), char32_t(0xFFFFFFFF)}) {
        EXPECT_FALSE(Unicode::isBlank(c)) << std::hex << static_cast<unsigned>(c);
    }
}

struct ShownCase {
    const char* name;
    std::string text;
    std::string shown;
};

class UnicodeShownPeerText : public ::testing::TestWithParam<ShownCase> {};

TEST_P(UnicodeShownPeerText, IsOneInertLineOfBoundedLength) {
    EXPECT_EQ(Unicode::shownPeerText(GetParam().text), GetParam().shown);
}

std::string marks(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "\u0301";
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnicodeShownPeerText,
    ::testing::Values(
        ShownCase{"plainTextStaysByteExact", "good 203.0.113.7 ä👍🏽", "good 203.0.113.7 ä👍🏽"},
        ShownCase{"lineBreaksAndTerminalEscapes", "a\r\nb\x1b[31m\x7f\t", "a\\r\\nb\\x1B[31m\\x7F\\t"},
        ShownCase{"c1AndLineSeparators", "a\u0085b\u009bc\u2028d\u2029", "a\\u0085b\\u009Bc\\u2028d\\u2029"},
        ShownCase{"invalidBytes", "a\xff\xc3", "a\\xFF\\xC3"},
        ShownCase{"sixtyFourCharactersWithAMultiByteOne", std::string(63, 'x') + "€",
                  std::string(63, 'x') + "€"},
        ShownCase{"sixtyFiveCut", std::string(63, 'x') + "€y", std::string(63, 'x') + "€…"},
        ShownCase{"anEscapeCountsAsShown", std::string(63, 'x') + "\n", std::string(63, 'x') + "…"},
        ShownCase{"oneLetterWithThousandsOfMarksStopsAtTheByteLimit", "a" + marks(32000),
                  "a" + marks(255) + "…"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UnicodeAsciiLower, FoldsOnlyAsciiLetters) {
    EXPECT_EQ(Unicode::asciiLower("BadAuth 911 NOCHG"), "badauth 911 nochg");
    EXPECT_EQ(Unicode::asciiLower("ÄÖÜ İ ＧＯＯＤ"), "ÄÖÜ İ ＧＯＯＤ");
    EXPECT_EQ(Unicode::asciiLower("@[`{"), "@[`{");
    EXPECT_EQ(Unicode::asciiLower(""), "");
}

} // namespace
