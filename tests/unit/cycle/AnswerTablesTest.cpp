// What peers send, as tables: the update endpoint's answer words and addresses, and address normalisation;
// and how a value is written into the update's query.
#include "cycle/DynDnsResponse.hpp"
#include "cycle/HttpDynDnsUpdateClient.hpp"
#include "status/IpAddress.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

using Code = DynDnsResponseCode;
using DynDnsResponseParser::parse;

TEST(DynDnsResponse, TheFirstWordSelectsTheCodeWhateverItsCase) {
    // clang-format off
    const std::pair<const char*, Code> words[] = {
        {"good", Code::good}, {"NoChg", Code::noChange}, {"NOHOST", Code::noHost}, {"badauth", Code::badAuth},
        {"NotFQDN", Code::notFqdn}, {"abuse", Code::abuse}, {"911", Code::serverError},
        {"DnsErr", Code::serverError}, {"BadParam", Code::badParam}, {"good.", Code::unknown},
        {"goo", Code::unknown}, {"nochange", Code::unknown}, {"\"good\"", Code::unknown},
        {"good\u200b", Code::unknown}, {"\xef\xbc\xa7OOD", Code::unknown}, {"9111", Code::unknown},
        {"!yours", Code::unknown}, {"numhost", Code::unknown}, {"badagent", Code::unknown}};
    // clang-format on
    for (const auto& [word, code] : words) {
        EXPECT_EQ(parse(std::string(word)).code, code) << word;
        EXPECT_EQ(parse("\r\n  " + std::string(word) + " 192.0.2.1\n").code, code) << word;
    }
}

TEST(DynDnsResponse, ParseKeepsTheTrimmedTextAndTheSecondTokenAsAddress) {
    // clang-format off
    const std::pair<std::optional<std::string>, DynDnsResponse> cases[] = {
        {"good 192.0.2.1\n", {Code::good, "good 192.0.2.1", "192.0.2.1"}},
        {"nochg", {Code::noChange, "nochg", std::nullopt}},
        {"good 2001:0DB8::0001", {Code::good, "good 2001:0DB8::0001", "2001:db8::1"}},
        {"good home.example.net", {Code::good, "good home.example.net", std::nullopt}},
        {"good 192.0.2.1\ngood 2001:db8::1\n", {Code::good, "good 192.0.2.1\ngood 2001:db8::1", "192.0.2.1"}},
        {"good\r\n192.0.2.7", {Code::good, "good\r\n192.0.2.7", "192.0.2.7"}},
        {"\u00a0good\u3000192.0.2.1\u2028", {Code::good, "good\u3000192.0.2.1", "192.0.2.1"}},
        {"numhost 192.0.2.1", {Code::unknown, "numhost 192.0.2.1", "192.0.2.1"}},
        {std::nullopt, {Code::unknown, "", std::nullopt}},
        {" \r\n\t \n", {Code::unknown, "", std::nullopt}},
        {"\xff\xfe 192.0.2.1", {Code::unknown, "\xff\xfe 192.0.2.1", "192.0.2.1"}}};
    // clang-format on
    for (const auto& [body, expected] : cases) {
        EXPECT_EQ(parse(body), expected) << body.value_or("(none)");
    }
}

TEST(DynDnsResponse, AnEmptyAnswerIsClassifiedByItsStatus) {
    // clang-format off
    const std::pair<long, Code> statuses[] = {
        {0, Code::unknown},       {200, Code::unknown},     {399, Code::unknown},     {400, Code::badParam},
        {401, Code::badAuth},     {402, Code::unknown},     {403, Code::abuse},       {404, Code::unknown},
        {499, Code::unknown},     {500, Code::serverError}, {599, Code::serverError}, {600, Code::serverError},
        {-1, Code::unknown}};
    // clang-format on
    for (const auto& [status, code] : statuses) {
        EXPECT_EQ(DynDnsResponseParser::codeForStatus(status), code) << status;
    }
}

TEST(HttpDynDnsUpdateClient, AQueryValueKeepsOnlyUnreservedCharactersAndTheColon) {
    // Each kept range's neighbours are encoded, and nothing in a host name can add a parameter.
    EXPECT_EQ(HttpDynDnsUpdateClient::percentEncode("AZaz09-._~:/@[`{&= +?#%\xc3\xa4"),
              "AZaz09-._~:%2F%40%5B%60%7B%26%3D%20%2B%3F%23%25%C3%A4");
}

TEST(IpAddress, ValidityAndCanonicalForm) {
    // clang-format off
    const std::pair<const char*, const char*> valid[] = {
        {"192.0.2.1", "192.0.2.1"}, {"0.0.0.0", "0.0.0.0"}, {"255.255.255.255", "255.255.255.255"},
        {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1"}, {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"}, {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},
        {"2001:db8:0000:0:1::", "2001:db8:0:0:1::"}, {"::", "::"}};
    const char* invalid[] = {" 192.0.2.1", "192.0.2.1\n", "fe80::1%en0", "[2001:db8::1]", "192.0.2.256", "",
                             "1:2:3:4:5:6:7:8:9", "2001:db8::1::2", "0x7f.0.0.1", "127.1"};
    // clang-format on
    for (const auto& [text, normalized] : valid) {
        bool four = std::string(text).find(':') == std::string::npos;
        EXPECT_EQ(IpAddress::isValidIpv4(text), four) << text;
        EXPECT_EQ(IpAddress::isValidIpv6(text), !four) << text;
        EXPECT_EQ(IpAddress::normalize(text), normalized) << text;
    }
    for (const char* text : invalid) {
        EXPECT_FALSE(IpAddress::isValidIpv4(text) || IpAddress::isValidIpv6(text)) << text;
        EXPECT_EQ(IpAddress::normalize(text), std::nullopt) << text;
    }
    EXPECT_EQ(IpAddress::normalize(std::string("192.0.2.1\0x", 11)), std::nullopt);
}

} // namespace
