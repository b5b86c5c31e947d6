// Exact JSON types when reading (missing and null mean "default") and the house writing styles.
#include "support/JsonStrict.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace {

using nlohmann::json;

TEST(JsonStrictParse, AcceptsObjectsOnly) {
    EXPECT_TRUE(JsonStrict::parseObject("{}").empty());
    EXPECT_EQ(JsonStrict::parseObject(" \n\t{\"a\": [1, {\"b\": null}]}\r\n ").at("a").size(), 2u);
    for (const char* text : {"",
                             " ",
                             "[]",
                             "[{}]",
                             "1",
                             "\"{}\"",
                             "null",
                             "true",
                             "{",
                             "}",
                             "{} {}",
                             "{}x",
                             "{\"a\":1,}",
                             "{'a':1}",
                             "{a:1}",
                             "{\"a\":01}",
                             "{\"a\":NaN}",
                             "{/*c*/}",
                             "{\"a\":1} // c",
                             "{\"a\":\"\xc3\"}",
                             "{\"a\":\"\xed\xa0\x80\"}",
                             "{\"\xff\":1}",
                             "{\"a\":\"line\nbreak\"}"}) {
        EXPECT_THROW(JsonStrict::parseObject(text), JsonStrict::DecodeError) << text;
    }
    EXPECT_THROW(JsonStrict::parseObject(std::string_view("{}\0", 3)), JsonStrict::DecodeError);
}

TEST(JsonStrictRead, MissingAndNullAreNothing) {
    json object = json::parse(R"({"n": null})");
    for (const char* key : {"n", "absent"}) {
        EXPECT_EQ(JsonStrict::optionalString(object, key), std::nullopt);
        EXPECT_EQ(JsonStrict::optionalBool(object, key), std::nullopt);
        EXPECT_EQ(JsonStrict::optionalInt64(object, key), std::nullopt);
        EXPECT_EQ(JsonStrict::optionalStringArray(object, key), std::nullopt);
    }
}

TEST(JsonStrictRead, ValuesOfTheRightType) {
    json object = json::parse(R"({"s": "wert\/ü", "e": "", "t": true, "f": false, "z": 0, "m": -17,
        "max": 9223372036854775807, "min": -9223372036854775808, "l": ["a", "", "b"], "el": []})");
    EXPECT_EQ(JsonStrict::optionalString(object, "s"), "wert/ü");
    EXPECT_EQ(JsonStrict::optionalString(object, "e"), "");
    EXPECT_EQ(JsonStrict::optionalBool(object, "t"), true);
    EXPECT_EQ(JsonStrict::optionalBool(object, "f"), false);
    EXPECT_EQ(JsonStrict::optionalInt64(object, "z"), 0);
    EXPECT_EQ(JsonStrict::optionalInt64(object, "m"), -17);
    EXPECT_EQ(JsonStrict::optionalInt64(object, "max"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(JsonStrict::optionalInt64(object, "min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(JsonStrict::optionalStringArray(object, "l"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(JsonStrict::optionalStringArray(object, "el"), std::vector<std::string>{});
}

TEST(JsonStrictRead, AnyOtherTypeIsADecodeError) {
    json object = json::parse(R"({"s": "5", "b": true, "i": 5, "u": 9223372036854775808, "d": 5.0,
        "x": 1e3, "a": ["a"], "mixed": ["a", 1], "nulls": [null], "nested": [["a"]], "o": {}})");
    auto isDecodeError = [](auto call) {
        try {
            call();
        } catch (const JsonStrict::DecodeError&) {
            return true;
        }
        return false;
    };
    for (const char* key : {"b", "i", "d", "a", "o"}) {
        EXPECT_TRUE(isDecodeError([&] { JsonStrict::optionalString(object, key); })) << key;
    }
    for (const char* key : {"s", "i", "d", "a", "o"}) {
        EXPECT_TRUE(isDecodeError([&] { JsonStrict::optionalBool(object, key); })) << key;
    }
    for (const char* key : {"s", "b", "u", "d", "x", "a", "o"}) {
        EXPECT_TRUE(isDecodeError([&] { JsonStrict::optionalInt64(object, key); })) << key;
    }
    for (const char* key : {"s", "b", "i", "mixed", "nulls", "nested", "o"}) {
        EXPECT_TRUE(isDecodeError([&] { JsonStrict::optionalStringArray(object, key); })) << key;
    }
}

TEST(JsonStrictRead, ErrorNamesTheKey) {
    json object = json::parse(R"({"enableIpv4": 1})");
    try {
        JsonStrict::optionalBool(object, "enableIpv4");
        FAIL() << "a number read as a boolean";
    } catch (const JsonStrict::DecodeError& error) {
        EXPECT_NE(std::string(error.what()).find("enableIpv4"), std::string::npos) << error.what();
    }
}

TEST(JsonStrictWrite, PrettySortsKeysAndEscapesEverySlash) {
    json value = json::parse(R"({"zeta": "https://a.example/b", "alpha": {"y": 1, "b": ["/", "x"]},
        "mid": "back\\slash/", "q": "\"/\""})");
    std::string text = JsonStrict::writePretty(value);

    EXPECT_LT(text.find("\"alpha\""), text.find("\"mid\""));
    EXPECT_LT(text.find("\"mid\""), text.find("\"q\""));
    EXPECT_LT(text.find("\"q\""), text.find("\"zeta\""));
    EXPECT_LT(text.find("\"b\""), text.find("\"y\""));
    EXPECT_NE(text.find("\"https:\\/\\/a.example\\/b\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"back\\\\slash\\/\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"\\\"\\/\\\"\""), std::string::npos) << text;
    for (size_t i = text.find('/'); i != std::string::npos; i = text.find('/', i + 1)) {
        EXPECT_EQ(text[i - 1], '\\') << "plain slash at " << i << " in\n" << text;
    }
    // Pretty: one member or element per line, nested members indented deeper.
    EXPECT_NE(text.find("\n  \"alpha\": {\n    \"b\": [\n      \"\\/\",\n      \"x\"\n    ],"),
              std::string::npos)
        << text;
    EXPECT_EQ(json::parse(text), value);
}

TEST(JsonStrictWrite, PrettyRejectsTextThatIsNotUtf8) {
    json value = {{"k", std::string("\xff")}};
    EXPECT_THROW(JsonStrict::writePretty(value), nlohmann::json::exception);
}

TEST(JsonStrictWrite, CompactIsOneSortedLineWithPlainSlashes) {
    json value = json::parse(R"({"b": "/x/", "a": {"d": [1, 2], "c": null}, "ü": "ä"})");
    EXPECT_EQ(JsonStrict::writeCompact(value), R"({"a":{"c":null,"d":[1,2]},"b":"/x/","ü":"ä"})");
}

} // namespace
