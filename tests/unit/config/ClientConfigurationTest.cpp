// The config.json format (strict decoding, the house writing style) and the seven validation rules.
#include "config/ClientConfiguration.hpp"

#include "config/ConfigurationError.hpp"
#include "support/JsonStrict.hpp"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace {

using Urls = std::vector<std::string>;

const Urls defaultIpv4 = {"https://api.ipify.org", "https://ipv4.icanhazip.com"};
const Urls defaultIpv6 = {"https://api6.ipify.org", "https://ipv6.icanhazip.com"};

// --- defaults and constants ------------------------------------------------------------------------------

TEST(ClientConfigurationDefaults, AreTheDocumentedValues) {
    ClientConfiguration config;
    EXPECT_EQ(config.hostname, "");
    EXPECT_EQ(config.apiKey, "");
    EXPECT_EQ(config.updateIntervalMinutes, 5);
    EXPECT_TRUE(config.enableIpv4);
    EXPECT_FALSE(config.enableIpv6);
    EXPECT_EQ(config.ipv4DiscoveryUrls, defaultIpv4);
    EXPECT_EQ(config.ipv6DiscoveryUrls, defaultIpv6);
    EXPECT_EQ(ClientConfiguration::defaultIpv4DiscoveryUrls(), defaultIpv4);
    EXPECT_EQ(ClientConfiguration::defaultIpv6DiscoveryUrls(), defaultIpv6);
}

TEST(ClientConfigurationDefaults, ConstantsHaveTheirFixedShape) {
    EXPECT_EQ(ClientConfiguration::updateCheckIntervalHours, 12);
    EXPECT_EQ(ClientConfiguration::minIntervalMinutes, 1);

    const std::string& base = ClientConfiguration::serverBaseUrl;
    ASSERT_TRUE(base.starts_with("https://")) << base;
    std::string host = base.substr(8);
    EXPECT_FALSE(host.empty());
    // Only a host: the update client appends "/nic/update" itself.
    EXPECT_EQ(host.find('/'), std::string::npos) << base;

    const std::string& manifest = ClientConfiguration::updateManifestUrl;
    EXPECT_TRUE(manifest.starts_with("https://")) << manifest;
    EXPECT_TRUE(manifest.ends_with("/downloads/macos/latest.json")) << manifest;
    EXPECT_GT(manifest.size(), std::string("https:///downloads/macos/latest.json").size());
}

// --- decoding --------------------------------------------------------------------------------------------

TEST(ClientConfigurationDecode, EmptyObjectIsTheDefaultAndLacksAHostname) {
    ClientConfiguration config = ClientConfiguration::fromJson("{}");
    EXPECT_EQ(config, ClientConfiguration());
    try {
        config.validate();
        FAIL() << "an empty configuration validated";
    } catch (const ConfigurationError& error) {
        EXPECT_STREQ(error.what(), "Hostname fehlt.");
    }
}

TEST(ClientConfigurationDecode, HostnameAndKeyAloneGetEveryOtherDefault) {
    ClientConfiguration config =
        ClientConfiguration::fromJson(R"({"hostname": "home.example.net", "apiKey": "dyndns_k"})");
    EXPECT_EQ(config.hostname, "home.example.net");
    EXPECT_EQ(config.apiKey, "dyndns_k");
    EXPECT_EQ(config.updateIntervalMinutes, 5);
    EXPECT_TRUE(config.enableIpv4);
    EXPECT_FALSE(config.enableIpv6);
    EXPECT_EQ(config.ipv4DiscoveryUrls, defaultIpv4);
    EXPECT_EQ(config.ipv6DiscoveryUrls, defaultIpv6);
    EXPECT_NO_THROW(config.validate());
}

TEST(ClientConfigurationDecode, EveryFieldIsTakenFromItsKey) {
    ClientConfiguration config = ClientConfiguration::fromJson(R"({
        "hostname": "h.example", "apiKey": "dyndns_x", "updateIntervalMinutes": 17,
        "enableIpv4": false, "enableIpv6": true,
        "ipv4DiscoveryUrls": ["https:\/\/a.example", "https://b.example"],
        "ipv6DiscoveryUrls": ["https://c.example"]})");
    EXPECT_EQ(config.hostname, "h.example");
    EXPECT_EQ(config.apiKey, "dyndns_x");
    EXPECT_EQ(config.updateIntervalMinutes, 17);
    EXPECT_FALSE(config.enableIpv4);
    EXPECT_TRUE(config.enableIpv6);
    // Both the escaped and the plain slash are read.
    EXPECT_EQ(config.ipv4DiscoveryUrls, (Urls{"https://a.example", "https://b.example"}));
    EXPECT_EQ(config.ipv6DiscoveryUrls, (Urls{"https://c.example"}));
}

struct NullCase {
    const char* key;
};

class ClientConfigurationNull : public ::testing::TestWithParam<NullCase> {};

// Each key, set to null while every other key holds a non-default value, takes exactly its own default.
TEST_P(ClientConfigurationNull, NullTakesTheDefaultOfThatKeyOnly) {
    nlohmann::json object = {
        {"hostname", "h.example"},
        {"apiKey", "dyndns_x"},
        {"updateIntervalMinutes", 42},
        {"enableIpv4", false},
        {"enableIpv6", true},
        {"ipv4DiscoveryUrls", {"https://a.example"}},
        {"ipv6DiscoveryUrls", nlohmann::json::array()},
    };
    ClientConfiguration expected = ClientConfiguration::fromJson(object.dump());
    ASSERT_EQ(expected.updateIntervalMinutes, 42);

    std::string key = GetParam().key;
    object[key] = nullptr;
    ClientConfiguration defaults;
    if (key == "hostname") {
        expected.hostname = defaults.hostname;
    } else if (key == "apiKey") {
        expected.apiKey = defaults.apiKey;
    } else if (key == "updateIntervalMinutes") {
        expected.updateIntervalMinutes = defaults.updateIntervalMinutes;
    } else if (key == "enableIpv4") {
        expected.enableIpv4 = true;
    } else if (key == "enableIpv6") {
        expected.enableIpv6 = false;
    } else if (key == "ipv4DiscoveryUrls") {
        expected.ipv4DiscoveryUrls = defaultIpv4;
    } else if (key == "ipv6DiscoveryUrls") {
        expected.ipv6DiscoveryUrls = defaultIpv6;
    }
    EXPECT_EQ(ClientConfiguration::fromJson(object.dump()), expected) << object.dump();
}

INSTANTIATE_TEST_SUITE_P(EachKey, ClientConfigurationNull,
                         ::testing::Values(NullCase{"hostname"}, NullCase{"apiKey"},
                                           NullCase{"updateIntervalMinutes"}, NullCase{"enableIpv4"},
                                           NullCase{"enableIpv6"}, NullCase{"ipv4DiscoveryUrls"},
                                           NullCase{"ipv6DiscoveryUrls"}),
                         [](const auto& info) { return std::string(info.param.key); });

TEST(ClientConfigurationDecode, EmptyListsStayEmpty) {
    ClientConfiguration config = ClientConfiguration::fromJson(
        R"({"hostname": "h", "apiKey": "dyndns_k", "ipv4DiscoveryUrls": [], "ipv6DiscoveryUrls": []})");
    EXPECT_TRUE(config.ipv4DiscoveryUrls.empty());
    EXPECT_TRUE(config.ipv6DiscoveryUrls.empty());
    try {
        config.validate();
        FAIL() << "IPv4 without a discovery URL validated";
    } catch (const ConfigurationError& error) {
        EXPECT_STREQ(error.what(), "IPv4 ist aktiviert, aber es ist keine IPv4-Discovery-URL konfiguriert.");
    }
}

TEST(ClientConfigurationDecode, UnknownKeysAreIgnoredAndKeysAreCaseSensitive) {
    ClientConfiguration config = ClientConfiguration::fromJson(R"({
        "hostname": "h.example", "comment": {"nested": [1, 2, null]}, "version": 3,
        "enableIPv4": false, "HostName": 7, "ipv4discoveryurls": "not a list"})");
    ClientConfiguration expected;
    expected.hostname = "h.example";
    EXPECT_EQ(config, expected);
}

TEST(ClientConfigurationDecode, IntervalCoversTheWholeSigned64BitRange) {
    EXPECT_EQ(ClientConfiguration::fromJson(R"({"updateIntervalMinutes": 9223372036854775807})")
                  .updateIntervalMinutes,
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(ClientConfiguration::fromJson(R"({"updateIntervalMinutes": -9223372036854775808})")
                  .updateIntervalMinutes,
              std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(ClientConfiguration::fromJson(R"({"updateIntervalMinutes": 0})").updateIntervalMinutes, 0);
    EXPECT_EQ(ClientConfiguration::fromJson(R"({"updateIntervalMinutes": -3})").updateIntervalMinutes, -3);
}

struct RejectCase {
    const char* name;
    std::string text;
};

class ClientConfigurationReject : public ::testing::TestWithParam<RejectCase> {};

TEST_P(ClientConfigurationReject, FailsTheWholeDocument) {
    EXPECT_THROW(ClientConfiguration::fromJson(GetParam().text), JsonStrict::DecodeError) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClientConfigurationReject,
    ::testing::Values(
        RejectCase{"empty", ""}, RejectCase{"blank", " \n"}, RejectCase{"notJson", "hostname=h"},
        RejectCase{"truncated", R"({"hostname": "h")"}, RejectCase{"trailingGarbage", "{} {}"},
        RejectCase{"trailingComma", R"({"hostname": "h",})"}, RejectCase{"topArray", "[]"},
        RejectCase{"topString", R"("{}")"}, RejectCase{"topNull", "null"}, RejectCase{"topNumber", "5"},
        RejectCase{"invalidUtf8", "{\"hostname\": \"h\xff\"}"},
        RejectCase{"stringInterval", R"({"hostname": "h", "updateIntervalMinutes": "5"})"},
        RejectCase{"floatInterval", R"({"updateIntervalMinutes": 5.5})"},
        RejectCase{"wholeFloatInterval", R"({"updateIntervalMinutes": 5.0})"},
        RejectCase{"exponentInterval", R"({"updateIntervalMinutes": 1e2})"},
        RejectCase{"intervalAboveInt64", R"({"updateIntervalMinutes": 9223372036854775808})"},
        RejectCase{"intervalFarAboveInt64", R"({"updateIntervalMinutes": 18446744073709551615})"},
        RejectCase{"intervalBelowInt64", R"({"updateIntervalMinutes": -9223372036854775809})"},
        RejectCase{"boolInterval", R"({"updateIntervalMinutes": true})"},
        RejectCase{"numberBool", R"({"enableIpv4": 1})"}, RejectCase{"zeroBool", R"({"enableIpv6": 0})"},
        RejectCase{"stringBool", R"({"enableIpv6": "false"})"},
        RejectCase{"numberHostname", R"({"hostname": 5})"}, RejectCase{"arrayApiKey", R"({"apiKey": []})"},
        RejectCase{"objectHostname", R"({"hostname": {}})"},
        RejectCase{"arrayWithNumber", R"({"ipv4DiscoveryUrls": ["https://a.example", 1]})"},
        RejectCase{"arrayWithNull", R"({"ipv6DiscoveryUrls": [null]})"},
        RejectCase{"arrayWithArray", R"({"ipv4DiscoveryUrls": [["https://a.example"]]})"},
        RejectCase{"stringList", R"({"ipv4DiscoveryUrls": "https://a.example"})"},
        RejectCase{"objectList", R"({"ipv6DiscoveryUrls": {}})"},
        // A wrong type late in the document fails it even after good keys.
        RejectCase{
            "wrongTypeAfterGoodKeys",
            R"({"hostname": "h", "apiKey": "dyndns_k", "updateIntervalMinutes": 5, "enableIpv6": "yes"})"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- encoding --------------------------------------------------------------------------------------------

// Position of `"key":` in the text, npos when absent.
size_t keyPosition(const std::string& text, const std::string& key) {
    return text.find("\"" + key + "\":");
}

TEST(ClientConfigurationEncode, WritesAllSevenKeysSortedAndPretty) {
    std::string text = ClientConfiguration().toJson();
    const std::vector<std::string> sortedKeys = {"apiKey",
                                                 "enableIpv4",
                                                 "enableIpv6",
                                                 "hostname",
                                                 "ipv4DiscoveryUrls",
                                                 "ipv6DiscoveryUrls",
                                                 "updateIntervalMinutes"};
    size_t previous = 0;
    for (const std::string& key : sortedKeys) {
        size_t position = keyPosition(text, key);
        ASSERT_NE(position, std::string::npos) << key << " missing in\n" << text;
        EXPECT_GT(position, previous) << key << " out of order in\n" << text;
        previous = position;
    }
    nlohmann::json parsed = nlohmann::json::parse(text);
    EXPECT_EQ(parsed.size(), 7u);

    // One key per line and one array element per line.
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    auto lineHolding = [&](const std::string& needle) {
        int count = 0;
        for (const std::string& line : lines) {
            count += line.find(needle) != std::string::npos ? 1 : 0;
        }
        return count;
    };
    for (const std::string& key : sortedKeys) {
        EXPECT_EQ(lineHolding("\"" + key + "\""), 1) << key;
    }
    for (const char* url :
         {"api.ipify.org\"", "ipv4.icanhazip.com\"", "api6.ipify.org\"", "ipv6.icanhazip.com\""}) {
        EXPECT_EQ(lineHolding(url), 1) << url;
    }
    EXPECT_GE(lines.size(), 7u + 4u + 2u);
    // Nested values are indented deeper than the keys.
    EXPECT_TRUE(text.find("\n  \"apiKey\"") != std::string::npos) << text;
}

TEST(ClientConfigurationEncode, EscapesEverySlash) {
    ClientConfiguration config;
    config.hostname = "a/b";
    config.apiKey = "dyndns_/\\/";
    std::string text = config.toJson();
    EXPECT_NE(text.find("\"https:\\/\\/api.ipify.org\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"a\\/b\""), std::string::npos) << text;
    // A backslash in the value stays escaped on its own, and the slash after it is escaped too.
    EXPECT_NE(text.find("\"dyndns_\\/\\\\\\/\""), std::string::npos) << text;
    for (size_t i = text.find('/'); i != std::string::npos; i = text.find('/', i + 1)) {
        EXPECT_EQ(text[i - 1], '\\') << "plain slash at " << i << " in\n" << text;
    }
    EXPECT_EQ(ClientConfiguration::fromJson(text), config);
}

TEST(ClientConfigurationEncode, ReadingBackGivesAnEqualConfiguration) {
    std::vector<ClientConfiguration> samples(4);
    samples[1].hostname = "müller.example.de";
    samples[1].apiKey = "dyndns_ключ-密钥-🙂";
    samples[1].updateIntervalMinutes = std::numeric_limits<std::int64_t>::max();
    samples[1].enableIpv4 = false;
    samples[1].enableIpv6 = true;
    samples[1].ipv4DiscoveryUrls = {};
    samples[1].ipv6DiscoveryUrls = {"https://例え.jp/ip?x=1&y=\"2\"", "", "  spaced  "};
    samples[2].hostname = " surrounded\tby\nwhite space ";
    samples[2].apiKey = "dyndns_\u0001\u001f\"\\";
    samples[2].updateIntervalMinutes = std::numeric_limits<std::int64_t>::min();
    samples[3].hostname = "h.example";
    samples[3].updateIntervalMinutes = -1;
    samples[3].ipv4DiscoveryUrls = {"https://a.example/path/"};
    samples[3].ipv6DiscoveryUrls = {};
    for (const ClientConfiguration& config : samples) {
        std::string text = config.toJson();
        EXPECT_EQ(ClientConfiguration::fromJson(text), config) << text;
        // Writing is deterministic: the same configuration, the same bytes.
        EXPECT_EQ(ClientConfiguration::fromJson(text).toJson(), text);
    }
}

TEST(ClientConfigurationEncode, TextThatIsNotUtf8CannotBeWritten) {
    ClientConfiguration config;
    config.hostname = "h\xff";
    EXPECT_ANY_THROW(config.toJson());
}

// --- equality --------------------------------------------------------------------------------------------

TEST(ClientConfigurationEquality, ComparesEveryFieldAndListOrder) {
    const std::vector<std::function<void(ClientConfiguration&)>> changes = {
        [](ClientConfiguration& c) { c.hostname = "x"; },
        [](ClientConfiguration& c) { c.apiKey = "x"; },
        [](ClientConfiguration& c) { c.updateIntervalMinutes = 6; },
        [](ClientConfiguration& c) { c.enableIpv4 = false; },
        [](ClientConfiguration& c) { c.enableIpv6 = true; },
        [](ClientConfiguration& c) { std::swap(c.ipv4DiscoveryUrls[0], c.ipv4DiscoveryUrls[1]); },
        [](ClientConfiguration& c) { c.ipv6DiscoveryUrls.pop_back(); },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        ClientConfiguration changed;
        changes[i](changed);
        EXPECT_NE(changed, ClientConfiguration()) << "change " << i;
    }
}

// --- validation ------------------------------------------------------------------------------------------

const std::string missingHostname = "Hostname fehlt.";
const std::string missingKey = "API-Key fehlt.";
const std::string badPrefix =
    "API-Key muss mit 'dyndns_' beginnen — Account-Passwörter werden vom Server abgelehnt.";
const std::string shortInterval = "Update-Intervall muss mindestens 1 Minute(n) betragen.";
const std::string noFamily = "Mindestens eine Adressfamilie (IPv4 oder IPv6) muss aktiviert sein.";
const std::string noIpv4Url = "IPv4 ist aktiviert, aber es ist keine IPv4-Discovery-URL konfiguriert.";
const std::string noIpv6Url = "IPv6 ist aktiviert, aber es ist keine IPv6-Discovery-URL konfiguriert.";

struct RuleCase {
    const char* name;
    std::function<void(ClientConfiguration&)> change;
    std::optional<std::string> message; // nothing: the configuration is valid
};

class ClientConfigurationValidate : public ::testing::TestWithParam<RuleCase> {};

TEST_P(ClientConfigurationValidate, ReportsTheFirstFailingRule) {
    ClientConfiguration config;
    config.hostname = "home.example.net";
    config.apiKey = "dyndns_0123456789";
    GetParam().change(config);
    const ClientConfiguration before = config;

    std::optional<std::string> message;
    try {
        config.validate();
    } catch (const ConfigurationError& error) {
        message = error.what();
        EXPECT_EQ(error.message(), *message);
    }
    EXPECT_EQ(message, GetParam().message);
    EXPECT_EQ(config, before) << "validation changed the configuration";
}

using C = ClientConfiguration;

INSTANTIATE_TEST_SUITE_P(
    Rules, ClientConfigurationValidate,
    ::testing::Values(
        RuleCase{"valid", [](C&) {}, std::nullopt},
        RuleCase{"emptyHostname", [](C& c) { c.hostname = ""; }, missingHostname},
        RuleCase{"blankHostname", [](C& c) { c.hostname = " \t\r\n "; }, missingHostname},
        RuleCase{"unicodeBlankHostname", [](C& c) { c.hostname = "\u00a0\u3000\u2028\u0085"; },
                 missingHostname},
        RuleCase{"hostnameWithBlanksPasses", [](C& c) { c.hostname = "  home.example.net \n"; },
                 std::nullopt},
        RuleCase{"anyNonBlankHostnamePasses", [](C& c) { c.hostname = "not a host name!"; }, std::nullopt},
        RuleCase{"hostnameBeforeKey",
                 [](C& c) {
                     c.hostname = "";
                     c.apiKey = "";
                     c.updateIntervalMinutes = 0;
                     c.enableIpv4 = false;
                 },
                 missingHostname},
        RuleCase{"emptyKey", [](C& c) { c.apiKey = ""; }, missingKey},
        RuleCase{"blankKeyIsMissingNotBadPrefix", [](C& c) { c.apiKey = "   \t"; }, missingKey},
        RuleCase{"unicodeBlankKey", [](C& c) { c.apiKey = "\u3000\n"; }, missingKey},
        RuleCase{"keyBeforeInterval",
                 [](C& c) {
                     c.apiKey = "";
                     c.updateIntervalMinutes = -1;
                 },
                 missingKey},
        RuleCase{"blankBeforePrefix", [](C& c) { c.apiKey = " dyndns_abc"; }, badPrefix},
        RuleCase{"upperCasePrefix", [](C& c) { c.apiKey = "DYNDNS_abc"; }, badPrefix},
        RuleCase{"mixedCasePrefix", [](C& c) { c.apiKey = "Dyndns_abc"; }, badPrefix},
        RuleCase{"prefixWithoutUnderscore", [](C& c) { c.apiKey = "dyndns"; }, badPrefix},
        RuleCase{"accountPassword", [](C& c) { c.apiKey = "hunter2"; }, badPrefix},
        RuleCase{"prefixBeforeInterval",
                 [](C& c) {
                     c.apiKey = "secret";
                     c.updateIntervalMinutes = 0;
                 },
                 badPrefix},
        RuleCase{"prefixAlonePasses", [](C& c) { c.apiKey = "dyndns_"; }, std::nullopt},
        RuleCase{"trailingBlankInKeyPasses", [](C& c) { c.apiKey = "dyndns_abc \n"; }, std::nullopt},
        RuleCase{"intervalZero", [](C& c) { c.updateIntervalMinutes = 0; }, shortInterval},
        RuleCase{"intervalNegative", [](C& c) { c.updateIntervalMinutes = -5; }, shortInterval},
        RuleCase{"intervalMinimum",
                 [](C& c) { c.updateIntervalMinutes = std::numeric_limits<std::int64_t>::min(); },
                 shortInterval},
        RuleCase{"intervalOnePasses", [](C& c) { c.updateIntervalMinutes = 1; }, std::nullopt},
        RuleCase{"intervalMaximumPasses",
                 [](C& c) { c.updateIntervalMinutes = std::numeric_limits<std::int64_t>::max(); },
                 std::nullopt},
        RuleCase{"intervalBeforeFamilies",
                 [](C& c) {
                     c.updateIntervalMinutes = 0;
                     c.enableIpv4 = false;
                 },
                 shortInterval},
        RuleCase{"noFamily", [](C& c) { c.enableIpv4 = false; }, noFamily},
        RuleCase{"noFamilyWithEmptyLists",
                 [](C& c) {
                     c.enableIpv4 = false;
                     c.ipv4DiscoveryUrls.clear();
                     c.ipv6DiscoveryUrls.clear();
                 },
                 noFamily},
        RuleCase{"ipv4WithoutUrl", [](C& c) { c.ipv4DiscoveryUrls.clear(); }, noIpv4Url},
        RuleCase{"ipv6WithoutUrl",
                 [](C& c) {
                     c.enableIpv4 = false;
                     c.enableIpv6 = true;
                     c.ipv6DiscoveryUrls.clear();
                 },
                 noIpv6Url},
        RuleCase{"bothOnIpv6WithoutUrl",
                 [](C& c) {
                     c.enableIpv6 = true;
                     c.ipv6DiscoveryUrls.clear();
                 },
                 noIpv6Url},
        RuleCase{"bothOnBothWithoutUrlNamesIpv4First",
                 [](C& c) {
                     c.enableIpv6 = true;
                     c.ipv4DiscoveryUrls.clear();
                     c.ipv6DiscoveryUrls.clear();
                 },
                 noIpv4Url},
        RuleCase{"disabledFamilyMayLackUrls",
                 [](C& c) {
                     c.enableIpv4 = false;
                     c.enableIpv6 = true;
                     c.ipv4DiscoveryUrls.clear();
                 },
                 std::nullopt},
        RuleCase{"ipv6ListIgnoredWhenOff", [](C& c) { c.ipv6DiscoveryUrls.clear(); }, std::nullopt},
        RuleCase{"urlEntriesAreNotChecked",
                 [](C& c) {
                     c.ipv4DiscoveryUrls = {"", "ftp://x"};
                 },
                 std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
