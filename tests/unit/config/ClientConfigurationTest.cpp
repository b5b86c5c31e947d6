// config.json: strict decoding with defaults for missing and null keys, writing it back, and the rules in
// order.
#include "config/ClientConfiguration.hpp"

#include "support/JsonStrict.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

namespace {

using C = ClientConfiguration;

TEST(ClientConfiguration, DecodesEveryKeyAndDefaultsMissingAndNullOnes) {
    C config = C::fromJson(R"({"hostname": "h.example", "apiKey": "dyndns_x", "updateIntervalMinutes": -3,
        "enableIpv4": false, "enableIpv6": true, "ipv4DiscoveryUrls": ["https:\/\/a.example", "b"],
        "ipv6DiscoveryUrls": [], "HostName": 7, "comment": {"n": [null]}})");
    EXPECT_EQ(config, (C{"h.example", "dyndns_x", -3, false, true, {"https://a.example", "b"}, {}}));
    EXPECT_EQ(
        C::fromJson(R"({"hostname": null, "apiKey": null, "updateIntervalMinutes": null, "enableIpv4": null,
        "enableIpv6": null, "ipv4DiscoveryUrls": null, "ipv6DiscoveryUrls": null})"),
        C());
    // clang-format off
    EXPECT_EQ(C(), (C{"", "", 5, true, false, {"https://api.ipify.org", "https://ipv4.icanhazip.com"},
                      {"https://api6.ipify.org", "https://ipv6.icanhazip.com"}}));
    // clang-format on
}

TEST(ClientConfiguration, AWrongTypeAnywhereFailsTheWholeDocument) {
    // clang-format off
    const char* rejected[] = {
        "", "hostname=h", R"({"hostname": "h",})", "[]", "null", "{\"hostname\": \"h\xff\"}",
        R"({"updateIntervalMinutes": "5"})", R"({"updateIntervalMinutes": 5.0})",
        R"({"updateIntervalMinutes": 9223372036854775808})", R"({"updateIntervalMinutes": true})",
        R"({"enableIpv4": 1})", R"({"enableIpv6": "false"})", R"({"hostname": 5})", R"({"apiKey": []})",
        R"({"ipv4DiscoveryUrls": ["https://a.example", 1]})", R"({"ipv6DiscoveryUrls": [null]})",
        R"({"ipv4DiscoveryUrls": "https://a.example"})", R"({"hostname": "h", "enableIpv6": "yes"})"};
    // clang-format on
    for (const char* text : rejected) {
        EXPECT_THROW(C::fromJson(text), JsonStrict::DecodeError) << text;
    }
}

TEST(ClientConfiguration, WritesSortedPrettyJsonThatReadsBackEqual) {
    C config{"a/b", "dyndns_\u0001\"\\/🙂", INT64_MAX, false, true, {}, {"https://例え.jp/ip?x=1", ""}};
    std::string text = config.toJson();
    EXPECT_EQ(text, "{\n  \"apiKey\": \"dyndns_\\u0001\\\"\\\\\\/🙂\",\n  \"enableIpv4\": false,\n"
                    "  \"enableIpv6\": true,\n  \"hostname\": \"a\\/b\",\n  \"ipv4DiscoveryUrls\": [],\n"
                    "  \"ipv6DiscoveryUrls\": [\n    \"https:\\/\\/例え.jp\\/ip?x=1\",\n    \"\"\n  ],\n"
                    "  \"updateIntervalMinutes\": 9223372036854775807\n}");
    EXPECT_EQ(C::fromJson(text), config);
    config.hostname = "h\xff";
    EXPECT_ANY_THROW(config.toJson());
}

TEST(ClientConfiguration, ValidationReportsTheFirstFailingRule) {
    const std::string
        host = "Hostname fehlt.",
        key = "API-Key fehlt.",
        prefix = "API-Key muss mit 'dyndns_' beginnen — Account-Passwörter werden vom Server abgelehnt.",
        interval = "Update-Intervall muss mindestens 1 Minute(n) betragen.",
        family = "Mindestens eine Adressfamilie (IPv4 oder IPv6) muss aktiviert sein.",
        url4 = "IPv4 ist aktiviert, aber es ist keine IPv4-Discovery-URL konfiguriert.",
        url6 = "IPv6 ist aktiviert, aber es ist keine IPv6-Discovery-URL konfiguriert.";
    // clang-format off
    const std::pair<std::function<void(C&)>, std::optional<std::string>> rules[] = {
        {[](C&) {}, std::nullopt},
        {[](C& c) { c.hostname = "\u00a0\u3000\u2028\u0085 \t"; }, host},
        {[](C& c) { c.hostname = "  not a host name! "; }, std::nullopt},
        {[](C& c) { c = C(); }, host},
        {[](C& c) { c.apiKey = "\u3000\n"; }, key},
        {[](C& c) { c.apiKey = ""; c.updateIntervalMinutes = -1; }, key},
        {[](C& c) { c.apiKey = " dyndns_abc"; }, prefix},
        {[](C& c) { c.apiKey = "Dyndns_abc"; }, prefix},
        {[](C& c) { c.apiKey = "dyndns"; c.updateIntervalMinutes = 0; }, prefix},
        {[](C& c) { c.apiKey = "dyndns_"; }, std::nullopt},
        {[](C& c) { c.updateIntervalMinutes = 0; c.enableIpv4 = false; }, interval},
        {[](C& c) { c.updateIntervalMinutes = INT64_MIN; }, interval},
        {[](C& c) { c.updateIntervalMinutes = 1; }, std::nullopt},
        {[](C& c) { c.enableIpv4 = false; c.ipv4DiscoveryUrls.clear(); }, family},
        {[](C& c) { c.ipv4DiscoveryUrls.clear(); }, url4},
        {[](C& c) { c.enableIpv6 = true; c.ipv6DiscoveryUrls.clear(); }, url6},
        {[](C& c) { c.enableIpv6 = true; c.ipv4DiscoveryUrls.clear(); c.ipv6DiscoveryUrls.clear(); }, url4},
        {[](C& c) { c.enableIpv4 = false; c.enableIpv6 = true; c.ipv4DiscoveryUrls.clear(); }, std::nullopt},
        {[](C& c) { c.ipv6DiscoveryUrls.clear(); c.ipv4DiscoveryUrls = {"", "ftp://x"}; }, std::nullopt}};
    // clang-format on
    for (std::size_t i = 0; i < std::size(rules); ++i) {
        C config;
        config.hostname = "home.example.net";
        config.apiKey = "dyndns_0123456789";
        rules[i].first(config);
        Expected<void> valid = config.validate();
        EXPECT_EQ(valid ? std::nullopt : std::optional(valid.failure().text), rules[i].second)
            << "rule row " << i;
    }
}

// A service may echo the credential in any of the forms a request carries it; each is masked before the text
// is made inert and cut.
TEST(ClientConfiguration, ServiceTextShowsTheKeyInNoForm) {
    C config;
    config.hostname = "home.example.net";
    config.apiKey = "dyndns_testkey123456";
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"badauth dyndns_testkey123456x", "badauth dyndns_test…x"}, {"x\r\ndyndns_testkey123456", "x\\r\\ndyndns_test…"},
        {"911 aG9tZS5leGFtcGxlLm5ldDpkeW5kbnNfdGVzdGtleTEyMzQ1Ng==", "911 dyndns_test…"},
        {"aG9tZS5leGFtcGxlLm5ldDpkeW5kbnNfdGVzdGtleTEyMzQ1Ng%3d%3D", "dyndns_test…"},
        {"911 ZHluZG5zX3Rlc3RrZXkxMjM0NTY=", "911 dyndns_test…"}, {"ZHluZG5zX3Rlc3RrZXkxMjM0NTY%3D", "dyndns_test…%3D"},
        {"k=%64%79%6e%64%6e%73%5f%74%65%73%74%6b%65%79%31%32%33%34%35%36", "k=dyndns_test…"},
        {"dyndns%5Ftestkey%31%32%33456&", "dyndns_test…&"},
        // Inside a longer Base64 text, at each of the three offsets: the groups the key shares go too.
        {"QmFzaWMgZHluZG5zX3Rlc3RrZXkxMjM0NTY=", "QmFzaWMgdyndns_test…"},
        {"eGR5bmRuc190ZXN0a2V5MTIzNDU2eQ==", "dyndns_test…eQ=="}, {"YWJkeW5kbnNfdGVzdGtleTEyMzQ1Ng==", "dyndns_test…"}};
    // clang-format on
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(config.shownServiceText(text), shown) << text;
    }
    // Nothing beyond the text is read: a "%3" at its end is no percent-encoding, Base64 ending mid-group ends
    // there, and the key cut short is not the key.
    for (const auto& [buffer, size, shown] :
         {std::tuple{"dyndns_testkey12345%36", 21, "dyndns_testkey12345%3"},
          {"ZHluZG5zX3Rlc3RrZXkxMjM0NTZ4eXo=", 25, "dyndns_test…"},
          {"dyndns_testkey123456", 19, "dyndns_testkey12345"}}) {
        EXPECT_EQ(config.shownServiceText(std::string_view(buffer).substr(0, size)), shown) << buffer;
    }
}

} // namespace
