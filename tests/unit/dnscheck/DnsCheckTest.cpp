// The confirmation's pure parts: the outcome rule on a scripted clock, the reading of hostile answers, and
// dnscheck.json as its readers decode it.
#include "dnscheck/DnsCheckRule.hpp"
#include "dnscheck/DnsMessage.hpp"
#include "status/DnsCheckFile.hpp"
#include "support/Rfc3339.hpp"

#include <arpa/nameser.h>
#include <gtest/gtest.h>

namespace {

using std::chrono::minutes;
using std::chrono::seconds;
const DnsCheckRule::TimePoint t0 = *Rfc3339::parse("2026-01-31T08:00:00Z");
const DnsObservation silent{};
const DnsObservation same{true, false, false, {"203.0.113.7"}, {}};
const DnsObservation other{true, true, false, {"198.51.100.7"}, {}};
const DnsObservation otherV6{true, false, true, {"2001:db8::9"}, {}};

TEST(DnsCheckRule, AnUpdateIsPendingThroughItsThreeRetriesThenMismatchWithoutRepair) {
    DnsCheckRule rule;
    EXPECT_EQ(rule.afterCycle(true, other, t0), DnsOutcome::pending);
    for (auto [delay, outcome] : {std::pair{seconds(15), DnsOutcome::pending},
                                  {seconds(60), DnsOutcome::pending},
                                  {seconds(300), DnsOutcome::mismatch}}) {
        EXPECT_EQ(rule.nextRetry(), t0 + delay);
        EXPECT_EQ(rule.afterRetry(other), outcome);
    }
    EXPECT_EQ(rule.nextRetry(), std::nullopt);
    EXPECT_FALSE(rule.takeRepair(t0 + minutes(6))); // the daemon pushed it itself
    EXPECT_EQ(rule.afterCycle(true, same, t0), DnsOutcome::confirmed);
    EXPECT_EQ(rule.nextRetry(), std::nullopt);
    EXPECT_EQ(rule.afterCycle(true, other, t0), DnsOutcome::pending);
    EXPECT_EQ(rule.afterRetry(silent), DnsOutcome::unknown);
    EXPECT_EQ(rule.afterRetry(same), DnsOutcome::confirmed);
    EXPECT_EQ(rule.nextRetry(), std::nullopt);
    EXPECT_EQ(rule.afterCycle(false, silent, t0), DnsOutcome::unknown);
}

TEST(DnsCheckRule, ARecordChangedBehindTheDaemonsBackIsRepairedOnceAnHourPerFamily) {
    DnsCheckRule rule;
    EXPECT_EQ(rule.afterCycle(false, other, t0), DnsOutcome::mismatch);
    EXPECT_TRUE(rule.takeRepair(t0));
    EXPECT_FALSE(rule.takeRepair(t0)); // once
    rule.afterCycle(false, other, t0 + minutes(30));
    EXPECT_FALSE(rule.takeRepair(t0 + minutes(30)));
    rule.afterCycle(false, otherV6, t0 + minutes(31)); // the other family has its own hour
    EXPECT_TRUE(rule.takeRepair(t0 + minutes(31)));
    rule.afterCycle(false, other, t0 + minutes(60));
    rule.holdRepairsUntil(t0 + minutes(90)); // a permanent rejection's pause
    EXPECT_FALSE(rule.takeRepair(t0 + minutes(61)));
    EXPECT_TRUE(rule.takeRepair(t0 + minutes(90)));
    rule.afterCycle(false, same, t0 + minutes(200));
    EXPECT_FALSE(rule.takeRepair(t0 + minutes(200)));
}

// A reply to `query` with the header flags and records given (owner compressed to the question's name).
DnsMessage::Bytes reply(const DnsMessage::Bytes& query, unsigned char flags, unsigned char rcode,
                        const std::vector<DnsMessage::Bytes>& rdatas, int type = ns_t_a) {
    DnsMessage::Bytes bytes = query;
    bytes[2] = flags;
    bytes[3] = rcode;
    bytes[7] = static_cast<unsigned char>(rdatas.size());
    for (const DnsMessage::Bytes& rdata : rdatas) {
        bytes.insert(bytes.end(), {0xc0, 0x0c, 0, static_cast<unsigned char>(type), 0, 1, 0, 0, 0, 60, 0,
                                   static_cast<unsigned char>(rdata.size())});
        bytes.insert(bytes.end(), rdata.begin(), rdata.end());
    }
    return bytes;
}

TEST(DnsMessage, OnlyAnAuthoritativeReplyToOurQuestionCountsAndItsAddressesAreRead) {
    const DnsMessage::Bytes query = DnsMessage::addressQuery("home.example.net", ns_t_a);
    ASSERT_GT(query.size(), 12u);
    EXPECT_EQ(query[2] & 0x01, 0); // not recursive
    const unsigned char qrAa = 0x84, qr = 0x80, qrAaTc = 0x86;
    const DnsMessage::Bytes a1{203, 0, 113, 7}, a2{198, 51, 100, 7};
    DnsMessage::Bytes otherId = reply(query, qrAa, 0, {a1});
    otherId[0] ^= 0xff;
    DnsMessage::Bytes otherName = reply(DnsMessage::addressQuery("home.example.org", ns_t_a), qrAa, 0, {a1});
    DnsMessage::Bytes cut = reply(query, qrAa, 0, {a1});
    cut.pop_back();
    using R = DnsMessage::AddressReply;
    using K = DnsMessage::Kind;
    const std::vector<std::pair<DnsMessage::Bytes, std::optional<R>>> table = {
        {reply(query, qrAa, 0, {a2, a1, a1}), R{K::answer, {"198.51.100.7", "203.0.113.7"}}},
        {reply(query, qrAa, 3, {}), R{K::answer, {}}},          // NXDOMAIN: no address at all
        {reply(query, qrAa, 0, {{1, 2, 3}}), R{K::answer, {}}}, // an A record of the wrong length is none
        {reply(query, qrAa, 0, {{1, 2, 3, 4}}, ns_t_aaaa), R{K::answer, {}}},
        {reply(query, qr, 0, {a1}), R{K::noAnswer, {}}}, // not authoritative
        {reply(query, qrAa, 5, {}), R{K::noAnswer, {}}}, // REFUSED
        {reply(query, qrAa, 2, {}), R{K::noAnswer, {}}}, // SERVFAIL
        {reply(query, qrAaTc, 0, {}), R{K::truncated, {}}},
        {reply(query, 0x04, 0, {a1}), std::nullopt}, // a query, not a reply
        {otherId, std::nullopt},
        {otherName, std::nullopt},
        {cut, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& [bytes, expected] : table) {
        EXPECT_EQ(DnsMessage::readAddressReply(bytes, query), expected) << bytes.size();
    }
    std::optional<DnsMessage::Records> records =
        DnsMessage::readRecords(reply(query, qrAa, 0, {a1}), "Home.Example.Net.", ns_t_a);
    ASSERT_TRUE(records);
    EXPECT_EQ(records->values, std::vector<std::string>{"203.0.113.7"});
    EXPECT_EQ(records->ttl, 60u);
}

TEST(DnsCheckFile, WritesWhatItReadsAndRejectsAnythingElse) {
    DnsCheck check{
        DnsOutcome::pending, {"198.51.100.7", "2001:db8::1"}, {{"ns1.example.net", "192.0.2.53"}}, t0};
    EXPECT_EQ(DnsCheckFile::decode(DnsCheckFile::encode(check)), check);
    EXPECT_EQ(DnsCheckFile::decode(R"({"outcome":"unknown","checkedAt":"2026-01-31T08:00:00Z"})"),
              (DnsCheck{DnsOutcome::unknown, {}, {}, t0}));
    for (const char* text :
         {R"({"outcome":"Confirmed","checkedAt":"2026-01-31T08:00:00Z"})", R"({"outcome":"confirmed"})",
          R"({"outcome":"confirmed","checkedAt":"gestern"})",
          R"({"outcome":"mismatch","checkedAt":"2026-01-31T08:00:00Z","served":["a\nb"]})",
          R"({"outcome":"mismatch","checkedAt":"2026-01-31T08:00:00Z","servers":[{"name":1}]})", "[]"}) {
        EXPECT_EQ(DnsCheckFile::decode(text), std::nullopt) << text;
    }
}

} // namespace
