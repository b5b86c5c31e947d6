// The answer vocabulary of the update endpoint: words, reported addresses, classes and status fallback.
#include "cycle/DynDnsResponse.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

using Code = DynDnsResponseCode;
using DynDnsResponseParser::codeForStatus;
using DynDnsResponseParser::parse;

struct WordCase {
    const char* body;
    Code code;
};

class DynDnsResponseWords : public ::testing::TestWithParam<WordCase> {};

TEST_P(DynDnsResponseWords, FirstTokenSelectsTheCode) {
    std::string body = GetParam().body;
    EXPECT_EQ(parse(body).code, GetParam().code) << body;
    // Whatever follows the word does not change the code.
    EXPECT_EQ(parse(body + " 192.0.2.1").code, GetParam().code) << body;
    EXPECT_EQ(parse("\r\n  " + body + "\n").code, GetParam().code) << body;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DynDnsResponseWords,
    ::testing::Values(
        WordCase{"good", Code::good}, WordCase{"nochg", Code::noChange}, WordCase{"nohost", Code::noHost},
        WordCase{"badauth", Code::badAuth}, WordCase{"notfqdn", Code::notFqdn},
        WordCase{"abuse", Code::abuse}, WordCase{"911", Code::serverError},
        WordCase{"dnserr", Code::serverError}, WordCase{"badparam", Code::badParam},
        // Case does not matter.
        WordCase{"GOOD", Code::good}, WordCase{"Good", Code::good}, WordCase{"NoChg", Code::noChange},
        WordCase{"NOHOST", Code::noHost}, WordCase{"BADAUTH", Code::badAuth},
        WordCase{"NotFQDN", Code::notFqdn}, WordCase{"ABUSE", Code::abuse},
        WordCase{"DnsErr", Code::serverError}, WordCase{"BadParam", Code::badParam},
        // Anything added or missing is unknown.
        WordCase{"good.", Code::unknown}, WordCase{"good,", Code::unknown}, WordCase{"goo", Code::unknown},
        WordCase{"goods", Code::unknown}, WordCase{"nochange", Code::unknown},
        WordCase{"\"good\"", Code::unknown}, WordCase{"good\u200b", Code::unknown},
        WordCase{"\xef\xbc\xa7OOD", Code::unknown}, WordCase{"good\xff", Code::unknown},
        WordCase{"9111", Code::unknown}, WordCase{"-911", Code::unknown},
        // Words of the protocol family that are not in the table are unknown, not a rejection.
        WordCase{"!yours", Code::unknown}, WordCase{"numhost", Code::unknown},
        WordCase{"!donator", Code::unknown}, WordCase{"badagent", Code::unknown},
        WordCase{"badsys", Code::unknown}, WordCase{"nofqdn", Code::unknown}, WordCase{"ok", Code::unknown},
        WordCase{"<html>", Code::unknown}));

struct AnswerCase {
    const char* name;
    std::optional<std::string> body;
    DynDnsResponse expected;
};

class DynDnsResponseAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(DynDnsResponseAnswers, ParseGivesCodeRawAndReportedAddress) {
    EXPECT_EQ(parse(GetParam().body), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DynDnsResponseAnswers,
    ::testing::Values(
        AnswerCase{"goodWithAddress", "good 192.0.2.1\n", {Code::good, "good 192.0.2.1", "192.0.2.1"}},
        AnswerCase{"nochgAlone", "nochg", {Code::noChange, "nochg", std::nullopt}},
        AnswerCase{
            "ipv6Normalised", "good 2001:0DB8::0001", {Code::good, "good 2001:0DB8::0001", "2001:db8::1"}},
        AnswerCase{"hostNameIsNoAddress",
                   "good home.example.net",
                   {Code::good, "good home.example.net", std::nullopt}},
        AnswerCase{"brokenAddress", "nochg 192.0.2.256", {Code::noChange, "nochg 192.0.2.256", std::nullopt}},
        AnswerCase{
            "bracketedAddress", "good [2001:db8::1]", {Code::good, "good [2001:db8::1]", std::nullopt}},
        AnswerCase{"secondLineIgnored",
                   "good 192.0.2.1\ngood 2001:db8::1\n",
                   {Code::good, "good 192.0.2.1\ngood 2001:db8::1", "192.0.2.1"}},
        AnswerCase{
            "addressOnTheNextLine", "good\r\n192.0.2.7", {Code::good, "good\r\n192.0.2.7", "192.0.2.7"}},
        AnswerCase{"laterTokensIgnored",
                   "nochg 192.0.2.1 2001:db8::1 extra",
                   {Code::noChange, "nochg 192.0.2.1 2001:db8::1 extra", "192.0.2.1"}},
        AnswerCase{
            "tabsAndRuns", " \t good\t\t 192.0.2.1 \t", {Code::good, "good\t\t 192.0.2.1", "192.0.2.1"}},
        AnswerCase{"unicodeWhiteSpace",
                   "\u00a0good\u3000192.0.2.1\u2028",
                   {Code::good, "good\u3000192.0.2.1", "192.0.2.1"}},
        AnswerCase{
            "errorWordWithAddress", "badauth 192.0.2.1", {Code::badAuth, "badauth 192.0.2.1", "192.0.2.1"}},
        AnswerCase{"unknownKeepsItsText", "!yours\n", {Code::unknown, "!yours", std::nullopt}},
        AnswerCase{
            "unknownWithAddress", "numhost 192.0.2.1", {Code::unknown, "numhost 192.0.2.1", "192.0.2.1"}},
        AnswerCase{"absent", std::nullopt, {Code::unknown, "", std::nullopt}},
        AnswerCase{"empty", "", {Code::unknown, "", std::nullopt}},
        AnswerCase{"blanksAndLineEnds", " \r\n\t \n", {Code::unknown, "", std::nullopt}},
        AnswerCase{"invalidBytes", "\xff\xfe 192.0.2.1", {Code::unknown, "\xff\xfe 192.0.2.1", "192.0.2.1"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ClassCase {
    Code code;
    bool success;
    bool fatal;
};

class DynDnsResponseClasses : public ::testing::TestWithParam<ClassCase> {};

TEST_P(DynDnsResponseClasses, SuccessAndFatalAreExclusive) {
    DynDnsResponse response{GetParam().code, "", std::nullopt};
    EXPECT_EQ(response.isSuccess(), GetParam().success);
    EXPECT_EQ(response.isFatal(), GetParam().fatal);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DynDnsResponseClasses,
    ::testing::Values(ClassCase{Code::good, true, false}, ClassCase{Code::noChange, true, false},
                      ClassCase{Code::noHost, false, true}, ClassCase{Code::badAuth, false, true},
                      ClassCase{Code::notFqdn, false, true}, ClassCase{Code::abuse, false, true},
                      ClassCase{Code::serverError, false, false}, ClassCase{Code::badParam, false, true},
                      ClassCase{Code::unknown, false, false}));

TEST(DynDnsResponseStatus, EmptyAnswerIsClassifiedByItsStatus) {
    const std::pair<long, Code> table[] = {
        {0, Code::unknown},       {100, Code::unknown},     {200, Code::unknown},
        {204, Code::unknown},     {302, Code::unknown},     {399, Code::unknown},
        {400, Code::badParam},    {401, Code::badAuth},     {402, Code::unknown},
        {403, Code::abuse},       {404, Code::unknown},     {429, Code::unknown},
        {499, Code::unknown},     {500, Code::serverError}, {502, Code::serverError},
        {503, Code::serverError}, {599, Code::serverError}, {600, Code::serverError},
        {-1, Code::unknown},
    };
    for (const auto& [status, code] : table) {
        EXPECT_EQ(codeForStatus(status), code) << status;
    }
}

TEST(DynDnsResponse, EqualityComparesAllThreeFields) {
    DynDnsResponse base{Code::good, "good 192.0.2.1", "192.0.2.1"};
    EXPECT_EQ(base, (DynDnsResponse{Code::good, "good 192.0.2.1", "192.0.2.1"}));
    EXPECT_NE(base, (DynDnsResponse{Code::noChange, "good 192.0.2.1", "192.0.2.1"}));
    EXPECT_NE(base, (DynDnsResponse{Code::good, "good  192.0.2.1", "192.0.2.1"}));
    EXPECT_NE(base, (DynDnsResponse{Code::good, "good 192.0.2.1", std::nullopt}));
    EXPECT_NE(base, (DynDnsResponse{Code::good, "good 192.0.2.1", "192.0.2.2"}));
}

} // namespace
