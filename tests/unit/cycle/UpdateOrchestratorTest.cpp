#include "cycle/UpdateOrchestrator.hpp"

#include "ScratchDirectory.hpp"
#include "TestFiles.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using Address = std::optional<std::string>;
using Level = ClientLog::Level;
using LogLine = std::pair<Level, std::string>;

class FakeResolver : public PublicIpResolving {
public:
    Address ipv4;
    Address ipv6;
    bool ipv4Throws = false;
    std::vector<std::string> calls;

    Address resolveIpv4() override {
        calls.push_back("ipv4");
        if (ipv4Throws) {
            throw std::runtime_error("resolver broke its promise");
        }
        return ipv4;
    }
    Address resolveIpv6() override {
        calls.push_back("ipv6");
        return ipv6;
    }
};

class FakeUpdater : public DynDnsUpdating {
public:
    struct Call {
        Address ipv4;
        Address ipv6;
    };

    DynDnsResponse answer;
    // When set, send throws this instead of answering.
    std::function<void()> failure;
    std::vector<Call> calls;

    DynDnsResponse send(const Address& ipv4, const Address& ipv6) override {
        calls.push_back({ipv4, ipv6});
        if (failure) {
            failure();
        }
        return answer;
    }
};

DynDnsResponse answer(DynDnsResponseCode code, std::string raw) {
    DynDnsResponse response;
    response.code = code;
    response.raw = std::move(raw);
    return response;
}

// One orchestrator on fakes, a file-backed cache in a scratch directory and a log that records every line.
class OrchestratorTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
    std::filesystem::path stateFile = dir / "ipstate.json";
    std::shared_ptr<FakeResolver> resolver = std::make_shared<FakeResolver>();
    std::shared_ptr<FakeUpdater> updater = std::make_shared<FakeUpdater>();
    std::shared_ptr<std::vector<LogLine>> lines = std::make_shared<std::vector<LogLine>>();
    std::shared_ptr<IpStateCache> cache;

    std::unique_ptr<UpdateOrchestrator> make(bool enableIpv4, bool enableIpv6) {
        cache = std::make_shared<IpStateCache>(stateFile);
        ClientConfiguration config;
        config.hostname = "home.example.net";
        config.apiKey = "k3y";
        config.enableIpv4 = enableIpv4;
        config.enableIpv6 = enableIpv6;
        auto sink = lines;
        ClientLog log(
            [sink](Level level, const std::string& message) { sink->emplace_back(level, message); });
        return std::make_unique<UpdateOrchestrator>(resolver, updater, cache, config, log);
    }

    void plantState(const std::string& json) { std::ofstream(stateFile, std::ios::binary) << json; }
};

// --- the answer table ----------------------------------------------------------------------------------

struct AnswerCase {
    const char* name;
    DynDnsResponseCode code;
    const char* raw;
    UpdateCycleStatus status;
    const char* message;
    Level level;
    const char* logLine;
    bool recorded;
};

void PrintTo(const AnswerCase& c, std::ostream* out) {
    *out << c.name;
}

class OrchestratorAnswers : public OrchestratorTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(OrchestratorAnswers, ClassifyLogAndRecordOnlyAcceptedUpdates) {
    const AnswerCase& c = GetParam();
    resolver->ipv4 = "203.0.113.7";
    resolver->ipv6 = "2001:db8::1";
    updater->answer = answer(c.code, c.raw);
    auto orchestrator = make(true, true);

    UpdateCycleResult result = orchestrator->runOnce(false);

    ASSERT_EQ(updater->calls.size(), 1u);
    EXPECT_EQ(updater->calls[0].ipv4, "203.0.113.7");
    EXPECT_EQ(updater->calls[0].ipv6, "2001:db8::1");
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(result.response, updater->answer);
    EXPECT_EQ(*lines, (std::vector<LogLine>{{c.level, c.logLine}}));
    EXPECT_EQ(orchestrator->lastResult(), result);
    if (c.recorded) {
        EXPECT_EQ(cache->lastIpv4(), "203.0.113.7");
        EXPECT_EQ(cache->lastIpv6(), "2001:db8::1");
        EXPECT_EQ(readFile(stateFile), R"({"ipv4":"203.0.113.7","ipv6":"2001:db8::1"})");
    } else {
        EXPECT_EQ(cache->lastIpv4(), std::nullopt);
        EXPECT_EQ(cache->lastIpv6(), std::nullopt);
        EXPECT_FALSE(std::filesystem::exists(stateFile));
    }

    // The next cycle sends again exactly when nothing was recorded.
    lines->clear();
    UpdateCycleResult next = orchestrator->runOnce(false);
    if (c.recorded) {
        EXPECT_EQ(updater->calls.size(), 1u);
        EXPECT_EQ(next.status, UpdateCycleStatus::unchanged);
        EXPECT_EQ(next.message, "IP unverändert (203.0.113.7 / 2001:db8::1).");
        EXPECT_EQ(next.response, std::nullopt);
    } else {
        EXPECT_EQ(updater->calls.size(), 2u);
        EXPECT_EQ(next.status, c.status);
    }
    EXPECT_EQ(orchestrator->lastResult(), next);
}

constexpr auto good = DynDnsResponseCode::good;

INSTANTIATE_TEST_SUITE_P(
    Table, OrchestratorAnswers,
    ::testing::Values(
        AnswerCase{"good", good, "good 203.0.113.7", UpdateCycleStatus::updated,
                   "DynDNS aktualisiert: 203.0.113.7 / 2001:db8::1.", Level::info,
                   "DynDNS aktualisiert: 203.0.113.7 / 2001:db8::1.", true},
        AnswerCase{"noChange", DynDnsResponseCode::noChange, "nochg 203.0.113.7",
                   UpdateCycleStatus::unchanged, "DynDNS unverändert: 203.0.113.7 / 2001:db8::1.",
                   Level::info, "DynDNS unverändert: 203.0.113.7 / 2001:db8::1.", true},
        AnswerCase{"serverError", DynDnsResponseCode::serverError, "911", UpdateCycleStatus::transientError,
                   "Vorübergehender Serverfehler (911). Erneuter Versuch im nächsten Intervall.", Level::warn,
                   "DynDNS-Update vorübergehend fehlgeschlagen: 911.", false},
        AnswerCase{"dnsErr", DynDnsResponseCode::serverError, "dnserr", UpdateCycleStatus::transientError,
                   "Vorübergehender Serverfehler (dnserr). Erneuter Versuch im nächsten Intervall.",
                   Level::warn, "DynDNS-Update vorübergehend fehlgeschlagen: dnserr.", false},
        AnswerCase{"unknown", DynDnsResponseCode::unknown, "what is this", UpdateCycleStatus::transientError,
                   "Vorübergehender Serverfehler (what is this). Erneuter Versuch im nächsten Intervall.",
                   Level::warn, "DynDNS-Update vorübergehend fehlgeschlagen: what is this.", false},
        AnswerCase{
            "echoedLogLine", DynDnsResponseCode::unknown, "x\n[INFO] good\x1b[2J",
            UpdateCycleStatus::transientError,
            "Vorübergehender Serverfehler (x\\n[INFO] good\\x1B[2J). Erneuter Versuch im nächsten Intervall.",
            Level::warn, "DynDNS-Update vorübergehend fehlgeschlagen: x\\n[INFO] good\\x1B[2J.", false},
        AnswerCase{"emptyAnswer", DynDnsResponseCode::unknown, "", UpdateCycleStatus::transientError,
                   "Vorübergehender Serverfehler (). Erneuter Versuch im nächsten Intervall.", Level::warn,
                   "DynDNS-Update vorübergehend fehlgeschlagen: .", false},
        AnswerCase{"noHost", DynDnsResponseCode::noHost, "nohost", UpdateCycleStatus::fatalError,
                   "Hostname nicht gefunden oder nicht diesem Key zugeordnet.", Level::error,
                   "DynDNS-Update dauerhaft abgewiesen: nohost.", false},
        AnswerCase{"badAuth", DynDnsResponseCode::badAuth, "badauth", UpdateCycleStatus::fatalError,
                   "Authentifizierung fehlgeschlagen — API-Key prüfen.", Level::error,
                   "DynDNS-Update dauerhaft abgewiesen: badauth.", false},
        AnswerCase{"notFqdn", DynDnsResponseCode::notFqdn, "notfqdn", UpdateCycleStatus::fatalError,
                   "Hostname ist kein gültiger FQDN.", Level::error,
                   "DynDNS-Update dauerhaft abgewiesen: notfqdn.", false},
        AnswerCase{"abuse", DynDnsResponseCode::abuse, "abuse", UpdateCycleStatus::fatalError,
                   "Vom Server als Missbrauch abgewiesen (gesperrt oder unzulässige Ziel-IP).", Level::error,
                   "DynDNS-Update dauerhaft abgewiesen: abuse.", false},
        AnswerCase{"badParam", DynDnsResponseCode::badParam, "badparam", UpdateCycleStatus::fatalError,
                   "Ungültige Parameter im Update-Request.", Level::error,
                   "DynDNS-Update dauerhaft abgewiesen: badparam.", false}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

// --- transport failures --------------------------------------------------------------------------------

struct FailureCase {
    const char* name;
    std::function<void()> raise;
    const char* reason;
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class OrchestratorSendFailure : public OrchestratorTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(OrchestratorSendFailure, BecomesATransientErrorWithTheReason) {
    const FailureCase& c = GetParam();
    resolver->ipv4 = "203.0.113.7";
    updater->failure = c.raise;
    auto orchestrator = make(true, false);

    UpdateCycleResult result = orchestrator->runOnce(false);

    EXPECT_EQ(updater->calls.size(), 1u);
    EXPECT_EQ(result.status, UpdateCycleStatus::transientError);
    EXPECT_EQ(result.message, std::string("Update fehlgeschlagen: ") + c.reason);
    EXPECT_EQ(result.response, std::nullopt);
    EXPECT_EQ(*lines, (std::vector<LogLine>{
                          {Level::warn,
                           std::string("Update-Request fehlgeschlagen (Netzwerkfehler?): ") + c.reason}}));
    EXPECT_FALSE(std::filesystem::exists(stateFile));
    EXPECT_TRUE(cache->needsUpdate("203.0.113.7", std::nullopt));
    EXPECT_EQ(orchestrator->lastResult(), result);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OrchestratorSendFailure,
    ::testing::Values(FailureCase{"transport",
                                  [] {
                                      throw TransportError("Could not resolve host: update.korvane.example");
                                  },
                                  "Could not resolve host: update.korvane.example"},
                      FailureCase{"otherException", [] { throw std::runtime_error("Timeout was reached"); },
                                  "Timeout was reached"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// --- discovery -----------------------------------------------------------------------------------------

struct MissingFamilyCase {
    const char* name;
    Address ipv4;
    Address ipv6;
    Address sent4;
    Address sent6;
    const char* warning;
    const char* addresses;
};

void PrintTo(const MissingFamilyCase& c, std::ostream* out) {
    *out << c.name;
}

class OrchestratorMissingFamily : public OrchestratorTest,
                                  public ::testing::WithParamInterface<MissingFamilyCase> {};

TEST_P(OrchestratorMissingFamily, LeavesTheUnresolvedFamilyOutOfTheRequest) {
    const MissingFamilyCase& c = GetParam();
    resolver->ipv4 = c.ipv4;
    resolver->ipv6 = c.ipv6;
    updater->answer = answer(good, "good");
    auto orchestrator = make(true, true);

    UpdateCycleResult result = orchestrator->runOnce(false);

    EXPECT_EQ(resolver->calls, (std::vector<std::string>{"ipv4", "ipv6"}));
    ASSERT_EQ(updater->calls.size(), 1u);
    EXPECT_EQ(updater->calls[0].ipv4, c.sent4);
    EXPECT_EQ(updater->calls[0].ipv6, c.sent6);
    std::string text = std::string("DynDNS aktualisiert: ") + c.addresses + ".";
    EXPECT_EQ(result.message, text);
    EXPECT_EQ(*lines, (std::vector<LogLine>{{Level::warn, c.warning}, {Level::info, text}}));
    EXPECT_EQ(cache->lastIpv4(), c.sent4);
    EXPECT_EQ(cache->lastIpv6(), c.sent6);
}

const char* const noIpv4 = "IPv4 aktiviert, aber keine öffentliche Adresse ermittelbar.";
const char* const noIpv6 = "IPv6 aktiviert, aber keine öffentliche Adresse ermittelbar.";

INSTANTIATE_TEST_SUITE_P(
    Table, OrchestratorMissingFamily,
    ::testing::Values(MissingFamilyCase{"ipv4Absent", std::nullopt, "2001:db8::1", std::nullopt,
                                        "2001:db8::1", noIpv4, "2001:db8::1"},
                      MissingFamilyCase{"ipv4Empty", "", "2001:db8::1", std::nullopt, "2001:db8::1", noIpv4,
                                        "2001:db8::1"},
                      MissingFamilyCase{"ipv6Absent", "203.0.113.7", std::nullopt, "203.0.113.7",
                                        std::nullopt, noIpv6, "203.0.113.7"},
                      MissingFamilyCase{"ipv6Empty", "203.0.113.7", "", "203.0.113.7", std::nullopt, noIpv6,
                                        "203.0.113.7"}),
    [](const ::testing::TestParamInfo<MissingFamilyCase>& info) { return std::string(info.param.name); });

struct NoAddressCase {
    const char* name;
    bool enableIpv4;
    bool enableIpv6;
    Address ipv4;
    Address ipv6;
    std::vector<std::string> lookups;
    std::vector<std::string> warnings;
};

void PrintTo(const NoAddressCase& c, std::ostream* out) {
    *out << c.name;
}

class OrchestratorNoAddress : public OrchestratorTest, public ::testing::WithParamInterface<NoAddressCase> {};

TEST_P(OrchestratorNoAddress, SkipsTheCycleWithoutTouchingCacheOrService) {
    const NoAddressCase& c = GetParam();
    resolver->ipv4 = c.ipv4;
    resolver->ipv6 = c.ipv6;
    plantState(R"({"ipv4":"198.51.100.1"})");
    auto orchestrator = make(c.enableIpv4, c.enableIpv6);

    UpdateCycleResult result = orchestrator->runOnce(true);

    EXPECT_EQ(resolver->calls, c.lookups);
    EXPECT_TRUE(updater->calls.empty());
    EXPECT_EQ(result.status, UpdateCycleStatus::noPublicIp);
    EXPECT_EQ(result.message, "Keine öffentliche IP-Adresse ermittelbar.");
    EXPECT_EQ(result.response, std::nullopt);
    std::vector<LogLine> expected;
    for (const auto& warning : c.warnings) {
        expected.emplace_back(Level::warn, warning);
    }
    expected.emplace_back(Level::warn, "Keine öffentliche IP ermittelbar — Zyklus übersprungen.");
    EXPECT_EQ(*lines, expected);
    EXPECT_EQ(readFile(stateFile), R"({"ipv4":"198.51.100.1"})");
}

INSTANTIATE_TEST_SUITE_P(
    Table, OrchestratorNoAddress,
    ::testing::Values(
        NoAddressCase{
            "bothAbsent", true, true, std::nullopt, std::nullopt, {"ipv4", "ipv6"}, {noIpv4, noIpv6}},
        NoAddressCase{"bothEmpty", true, true, "", "", {"ipv4", "ipv6"}, {noIpv4, noIpv6}},
        NoAddressCase{"neitherEnabled", false, false, "203.0.113.7", "2001:db8::1", {}, {}},
        NoAddressCase{
            "onlyIpv6EnabledAndAbsent", false, true, "203.0.113.7", std::nullopt, {"ipv6"}, {noIpv6}}),
    [](const ::testing::TestParamInfo<NoAddressCase>& info) { return std::string(info.param.name); });

TEST_F(OrchestratorTest, DisabledFamilyIsNeitherLookedUpNorSent) {
    resolver->ipv4 = "203.0.113.7";
    resolver->ipv6 = "2001:db8::1";
    updater->answer = answer(good, "good 2001:db8::1");
    auto orchestrator = make(false, true);

    UpdateCycleResult result = orchestrator->runOnce(false);

    EXPECT_EQ(resolver->calls, (std::vector<std::string>{"ipv6"}));
    ASSERT_EQ(updater->calls.size(), 1u);
    EXPECT_EQ(updater->calls[0].ipv4, std::nullopt);
    EXPECT_EQ(result.message, "DynDNS aktualisiert: 2001:db8::1.");
    EXPECT_EQ(*lines, (std::vector<LogLine>{{Level::info, "DynDNS aktualisiert: 2001:db8::1."}}));
}

TEST_F(OrchestratorTest, ResolverThatThrowsCountsAsNoAddress) {
    resolver->ipv4Throws = true;
    resolver->ipv6 = "2001:db8::1";
    updater->answer = answer(good, "good 2001:db8::1");
    auto orchestrator = make(true, true);

    UpdateCycleResult result = orchestrator->runOnce(false);

    ASSERT_EQ(updater->calls.size(), 1u);
    EXPECT_EQ(updater->calls[0].ipv4, std::nullopt);
    EXPECT_EQ(result.status, UpdateCycleStatus::updated);
    EXPECT_EQ(*lines, (std::vector<LogLine>{{Level::warn, noIpv4},
                                            {Level::info, "DynDNS aktualisiert: 2001:db8::1."}}));
}

// --- the cache and force -------------------------------------------------------------------------------

TEST_F(OrchestratorTest, UnchangedAddressSendsNothingAndLeavesTheFileAlone) {
    resolver->ipv4 = "203.0.113.7";
    // Spaced out on purpose: a rewrite by the cache would come out compact.
    plantState(R"({ "ipv4" : "203.0.113.7" })");
    auto orchestrator = make(true, false);

    UpdateCycleResult result = orchestrator->runOnce(false);

    EXPECT_TRUE(updater->calls.empty());
    EXPECT_EQ(resolver->calls, (std::vector<std::string>{"ipv4"}));
    EXPECT_EQ(result.status, UpdateCycleStatus::unchanged);
    EXPECT_EQ(result.message, "IP unverändert (203.0.113.7).");
    EXPECT_EQ(result.response, std::nullopt);
    EXPECT_TRUE(result.isHealthy());
    EXPECT_EQ(*lines,
              (std::vector<LogLine>{{Level::debug, "IP unverändert (203.0.113.7) — kein Update nötig."}}));
    EXPECT_EQ(readFile(stateFile), R"({ "ipv4" : "203.0.113.7" })");
}

TEST_F(OrchestratorTest, ForceSendsEvenWhenUnchangedAndRecordsAgain) {
    resolver->ipv4 = "203.0.113.7";
    plantState(R"({ "ipv4" : "203.0.113.7" })");
    updater->answer = answer(DynDnsResponseCode::noChange, "nochg 203.0.113.7");
    auto orchestrator = make(true, false);

    UpdateCycleResult result = orchestrator->runOnce(true);

    ASSERT_EQ(updater->calls.size(), 1u);
    EXPECT_EQ(updater->calls[0].ipv4, "203.0.113.7");
    EXPECT_EQ(updater->calls[0].ipv6, std::nullopt);
    EXPECT_EQ(result.status, UpdateCycleStatus::unchanged);
    EXPECT_EQ(result.message, "DynDNS unverändert: 203.0.113.7.");
    EXPECT_EQ(result.response, updater->answer);
    EXPECT_EQ(*lines, (std::vector<LogLine>{{Level::info, "DynDNS unverändert: 203.0.113.7."}}));
    EXPECT_EQ(readFile(stateFile), R"({"ipv4":"203.0.113.7"})");
}

TEST_F(OrchestratorTest, ChangedAddressIsSentAndReplacesTheRecordedOne) {
    resolver->ipv4 = "203.0.113.8";
    resolver->ipv6 = "2001:db8::1";
    plantState(R"({"ipv4":"203.0.113.7","ipv6":"2001:DB8::1"})");
    updater->answer = answer(good, "good 203.0.113.8");
    auto orchestrator = make(true, true);

    UpdateCycleResult result = orchestrator->runOnce(false);

    ASSERT_EQ(updater->calls.size(), 1u);
    EXPECT_EQ(result.status, UpdateCycleStatus::updated);
    EXPECT_EQ(readFile(stateFile), R"({"ipv4":"203.0.113.8","ipv6":"2001:db8::1"})");
}

// --- result record -------------------------------------------------------------------------------------

TEST(UpdateCycleResultHealth, OnlyUpdatedAndUnchangedAreHealthy) {
    const std::pair<UpdateCycleStatus, bool> table[] = {
        {UpdateCycleStatus::updated, true},         {UpdateCycleStatus::unchanged, true},
        {UpdateCycleStatus::noPublicIp, false},     {UpdateCycleStatus::fatalError, false},
        {UpdateCycleStatus::transientError, false},
    };
    for (const auto& [status, healthy] : table) {
        EXPECT_EQ(UpdateCycleResult(status, "m", std::nullopt).isHealthy(), healthy)
            << static_cast<int>(status);
    }
}

TEST(UpdateCycleResultTime, IsTakenAtConstruction) {
    auto before = std::chrono::system_clock::now();
    UpdateCycleResult result(UpdateCycleStatus::updated, "m", std::nullopt);
    auto after = std::chrono::system_clock::now();
    EXPECT_LE(before, result.timestamp);
    EXPECT_LE(result.timestamp, after);
}

TEST_F(OrchestratorTest, LastResultIsAbsentFirstAndThenTheLatestCycle) {
    resolver->ipv4 = "203.0.113.7";
    updater->answer = answer(good, "good 203.0.113.7");
    auto orchestrator = make(true, false);
    EXPECT_EQ(orchestrator->lastResult(), std::nullopt);

    UpdateCycleResult first = orchestrator->runOnce(false);
    ASSERT_EQ(orchestrator->lastResult(), first);
    UpdateCycleResult second = orchestrator->runOnce(false);

    EXPECT_EQ(first.status, UpdateCycleStatus::updated);
    EXPECT_EQ(second.status, UpdateCycleStatus::unchanged);
    EXPECT_EQ(orchestrator->lastResult(), second);
    EXPECT_LE(first.timestamp, second.timestamp);
}

} // namespace
