// The confirmation on a scripted clock and scripted name servers: the outcome rule, the reading of hostile
// answers, the zone search and the questions per family, and dnscheck.json as its readers decode it.
#include "dnscheck/DnsCheckRule.hpp"
#include "dnscheck/DnsMessage.hpp"
#include "dnscheck/ResolverHostConfirmer.hpp"
#include "status/DnsCheckFile.hpp"
#include "support/Rfc3339.hpp"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <gtest/gtest.h>
#include <map>
#include <netdb.h>
#include <resolv.h>

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
    EXPECT_EQ(rule.afterCycle(false, other, t0), DnsOutcome::pending);
    EXPECT_FALSE(rule.takeRepair(t0)); // still the daemon's own update settling
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
    EXPECT_TRUE(rule.takeRepair(t0 + minutes(61)));
    rule.afterCycle(false, same, t0 + minutes(200));
    EXPECT_FALSE(rule.takeRepair(t0 + minutes(200)));
}

DnsMessage::Bytes wireName(const char* name) {
    DnsMessage::Bytes bytes(NS_MAXCDNAME);
    bytes.resize(static_cast<std::size_t>(dn_comp(name, bytes.data(), NS_MAXCDNAME, nullptr, nullptr)));
    return bytes;
}

DnsMessage::Bytes v6(const char* text) {
    DnsMessage::Bytes bytes(16);
    inet_pton(AF_INET6, text, bytes.data());
    return bytes;
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
    const DnsMessage::Bytes query = DnsMessage::query("home.example.net", ns_t_a);
    ASSERT_GT(query.size(), 12u);
    EXPECT_EQ(query[2] & 0x01, 0); // not recursive
    const unsigned char qrAa = 0x84, qr = 0x80, qrAaTc = 0x86;
    const DnsMessage::Bytes a1{203, 0, 113, 7}, a2{198, 51, 100, 7};
    std::vector<DnsMessage::Bytes> flood;
    for (unsigned char n = 0; n < 70; ++n) {
        flood.push_back({198, 51, 100, n});
    }
    DnsMessage::Bytes otherId = reply(query, qrAa, 0, {a1});
    otherId[0] ^= 0xff;
    DnsMessage::Bytes otherName = reply(DnsMessage::query("home.example.org", ns_t_a), qrAa, 0, {a1});
    DnsMessage::Bytes cut = reply(query, qrAa, 0, {a1});
    cut.pop_back();
    DnsMessage::Bytes headerOnly = reply(query, qrAa, 0, {}); // no question: a reply to nothing
    headerOnly.resize(NS_HFIXEDSZ);
    headerOnly[5] = 0;
    DnsMessage::Bytes loop = reply(query, qrAa, 0, {a1}); // the record's owner name points at itself
    loop[query.size() + 1] = static_cast<unsigned char>(query.size());
    using R = DnsMessage::AddressReply;
    using K = DnsMessage::Kind;
    const std::vector<std::pair<DnsMessage::Bytes, std::optional<R>>> table = {
        {reply(query, qrAa, 0, {a1, a2, a1}), R{K::answer, {"198.51.100.7", "203.0.113.7"}}},
        {reply(query, qrAa, 0, {v6("2001:db8::7")}, ns_t_aaaa), R{K::answer, {}}}, // not the type asked
        {reply(query, qrAa, 0, {a1, {1, 2, 3, 4, 5}}), R{K::noAnswer, {}}}, // a record that does not parse
        {loop, R{K::noAnswer, {}}},                                         // spoils the whole reply
        {reply(query, qrAa, 0, {{1, 2, 3, 4}}, ns_t_aaaa), R{K::noAnswer, {}}}, // of any type
        {reply(query, qr, 0, {a1}), R{K::noAnswer, {}}},                        // not authoritative
        {reply(query, qrAa, 5, {}), R{K::noAnswer, {}}},                        // REFUSED
        {reply(query, qrAaTc, 0, {}), R{K::truncated, {}}},
        {reply(query, 0x04, 0, {a1}), std::nullopt}, // a query, not a reply
        {otherId, std::nullopt},
        {otherName, std::nullopt},
        {cut, std::nullopt},
        {headerOnly, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& [bytes, expected] : table) {
        EXPECT_EQ(DnsMessage::readAddressReply(bytes, query), expected) << bytes.size();
    }
    // A flood of records is cut.
    EXPECT_EQ(DnsMessage::readAddressReply(reply(query, qrAa, 0, flood), query)->addresses.size(), 64u);
    // A resolver's reply: its records, none, or no answer at all (ask the next resolver).
    std::optional<DnsMessage::Records> records =
        DnsMessage::readRecords(reply(query, 0x81, 0x80, {a1}), "Home.Example.Net.", ns_t_a);
    ASSERT_TRUE(records);
    EXPECT_EQ(records->values, std::vector<std::string>{"203.0.113.7"});
    EXPECT_EQ(records->ttl, 60u);
    EXPECT_EQ(
        DnsMessage::readRecords(reply(query, 0x81, 0x83, {}), "home.example.net", ns_t_a)->values.size(), 0u);
    EXPECT_FALSE(DnsMessage::readRecords(reply(query, 0x83, 0x80, {a1}), "home.example.net", ns_t_a));
    EXPECT_FALSE(DnsMessage::readRecords(loop, "home.example.net", ns_t_a));
}

TEST(DnsCheckFile, WritesWhatItReadsAndRejectsAnythingElse) {
    DnsCheck check{"home.example.net",
                   DnsOutcome::pending,
                   {"198.51.100.7", "2001:db8::1"},
                   {{"ns1.example.net", "192.0.2.53"}},
                   t0};
    EXPECT_EQ(DnsCheckFile::decode(DnsCheckFile::encode(check)), check);
    const std::string host = R"({"hostname":"h.example",)", at = R"("checkedAt":"2026-01-31T08:00:00Z")";
    EXPECT_EQ(DnsCheckFile::decode(host + R"("outcome":"unknown",)" + at + "}"),
              (DnsCheck{"h.example", DnsOutcome::unknown, {}, {}, t0}));
    for (const std::string& text :
         {host + R"("outcome":"Confirmed",)" + at + "}", host + R"("outcome":"confirmed"})",
          host + R"("outcome":"confirmed","checkedAt":"gestern"})", R"({"outcome":"unknown",)" + at + "}",
          host + R"("outcome":"mismatch","served":["a\nb"],)" + at + "}",
          host + R"("outcome":"mismatch","servers":[{"name":1}],)" + at + "}", std::string("[]")}) {
        EXPECT_EQ(DnsCheckFile::decode(text), std::nullopt) << text;
    }
}

// "server type name" (the type's number) → flags, rcode and record data of its reply; none: silent.
struct Scripted {
    unsigned char flags, rcode;
    std::vector<DnsMessage::Bytes> rdatas;
};
using Script = std::map<std::string, Scripted>;

// Name servers that answer from `script`, behind a resolver that fails every question. It keeps the deadline
// each question was given, by its key, and its own clock: each answer takes `perAnswer` and none comes after
// its deadline; a silent server lets the deadline pass.
struct Wire : DnsWire {
    explicit Wire(const Script& script) : script(script) {}

    std::vector<DnsTransport::Peer> resolvers() override {
        return {*DnsTransport::peerAt("192.0.2.2"), *DnsTransport::peerAt("192.0.2.1")};
    }
    std::optional<DnsMessage::Bytes> exchange(const DnsTransport::Peer& to, const DnsMessage::Bytes& query,
                                              DnsTransport::Deadline deadline) override {
        char server[NI_MAXHOST] = {};
        getnameinfo(reinterpret_cast<const sockaddr*>(&to.address), to.length, server, sizeof server, nullptr,
                    0, NI_NUMERICHOST);
        ns_msg message;
        ns_rr question;
        ns_initparse(query.data(), static_cast<int>(query.size()), &message);
        ns_parserr(&message, ns_s_qd, 0, &question);
        const int type = ns_rr_type(question);
        const std::string key = std::string(server) + " " + std::to_string(type) + " " + ns_rr_name(question);
        deadlines[key] = deadline;
        const bool failing = key.starts_with("192.0.2.2 ");
        auto found = script.find(key);
        if ((!failing && found == script.end()) || clock + perAnswer > deadline) {
            clock = std::max(clock, deadline);
            return std::nullopt;
        }
        clock += perAnswer;
        return failing ? reply(query, 0x81, 0x82, {})
                       : reply(query, found->second.flags, found->second.rcode, found->second.rdatas, type);
    }
    DnsTransport::Deadline now() override { return clock; }

    const Script& script;
    std::map<std::string, DnsTransport::Deadline> deadlines;
    DnsTransport::Deadline clock{};
    std::chrono::milliseconds perAnswer{0};
};

// What the resolver says of the zone home.example.net belongs to.
const Script zone = {
    {"192.0.2.1 2 home.example.net", {0x81, 0x80, {}}}, // the host owns no NS records: ask its parent
    {"192.0.2.1 2 example.net", {0x81, 0x80, {wireName("ns1.example.net"), wireName("ns2.example.net")}}},
    {"192.0.2.1 1 ns1.example.net", {0x81, 0x80, {{192, 0, 2, 53}}}},
    {"192.0.2.1 1 ns2.example.net", {0x81, 0x80, {}}},
    {"192.0.2.1 28 ns2.example.net", {0x81, 0x80, {v6("2001:db8::53")}}},
};

TEST(ResolverHostConfirmer, FindsTheZoneAndJudgesEachFamilyOnItsOwn) {
    const std::string a1 = "192.0.2.53 1 home.example.net", aaaa1 = "192.0.2.53 28 home.example.net",
                      a2 = "2001:db8::53 1 home.example.net", aaaa2 = "2001:db8::53 28 home.example.net";
    const Scripted pushed4{0x84, 0, {{203, 0, 113, 7}}}, other4{0x84, 0, {{198, 51, 100, 7}}},
        pushed6{0x84, 0, {v6("2001:db8::7")}}, servfail{0x84, 2, {}}, nxdomain{0x84, 3, {}};
    const std::optional<std::string> ipv4 = "203.0.113.7", ipv6 = "2001:0db8::7";
    // The servers' answers, what was published; the outcome and the addresses served.
    // clang-format off
    const std::vector<std::tuple<Script, AddressPair, DnsOutcome, std::vector<std::string>>> table = {
        {{{a1, pushed4}, {aaaa1, pushed6}, {a2, pushed4}, {aaaa2, pushed6}}, {ipv4, ipv6}, DnsOutcome::confirmed,
         {"2001:db8::7", "203.0.113.7"}},
        {{{a1, pushed4}, {aaaa1, servfail}}, {ipv4, ipv6}, DnsOutcome::unknown, {"203.0.113.7"}},
        {{{a1, pushed4}, {aaaa1, pushed6}, {a2, other4}}, {ipv4, ipv6}, DnsOutcome::mismatch,
         {"198.51.100.7", "2001:db8::7", "203.0.113.7"}},
        {{{a1, other4}}, {ipv4, ipv6}, DnsOutcome::mismatch, {"198.51.100.7"}},
        {{{a2, pushed4}}, {ipv4, {}}, DnsOutcome::confirmed, {"203.0.113.7"}},
        {{{aaaa1, nxdomain}}, {{}, ipv6}, DnsOutcome::mismatch, {}},
        {{{a1, {0x84, 0, {{203, 0, 113, 7, 0}}}}}, {ipv4, {}}, DnsOutcome::unknown, {}}, // no reply that parses
    };
    // clang-format on
    for (const auto& [servers, published, outcome, served] : table) {
        Script script = zone;
        script.insert(servers.begin(), servers.end());
        Wire wire(script);
        DnsObservation seen = ResolverHostConfirmer("home.example.net", wire).observe(published);
        EXPECT_EQ(DnsCheckRule().afterCycle(false, seen, t0), outcome) << served.size();
        EXPECT_EQ(seen.served, served);
        EXPECT_EQ(seen.servers, (std::vector<DnsServer>{{"ns1.example.net", "192.0.2.53"},
                                                        {"ns2.example.net", "2001:db8::53"}}));
        if (published.ipv4 && published.ipv6) { // each family has its own share of a server's time
            EXPECT_EQ(wire.deadlines[aaaa1] - wire.deadlines[a1], std::chrono::seconds(1));
        }
    }
}

// A resolver that takes 0.9 s an answer and silent servers: the zone search and the questions share the
// bound.
TEST(ResolverHostConfirmer, TheZoneSearchAndTheQuestionsShareOneBound) {
    Wire wire(zone);
    wire.perAnswer = std::chrono::milliseconds(900);
    DnsObservation seen = ResolverHostConfirmer("home.example.net", wire).observe({"203.0.113.7", {}});
    EXPECT_EQ(DnsCheckRule().afterCycle(false, seen, t0), DnsOutcome::unknown);
    EXPECT_LE(wire.clock - DnsTransport::Deadline{}, ResolverHostConfirmer::total);
}

} // namespace
