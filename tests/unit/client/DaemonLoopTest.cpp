// The daemon's loop through its edges, on scripted clocks: when the cycles come, that a settled
// network change or a sleep past the deadline brings one forward and says so, also when the pause is split
// for the name servers' second looks, the long pause after a permanent rejection that no change cuts short
// and that doubles with each further one, the longest interval, and idle mode. The pause's own rules are
// NetworkAwarePause's.
#include "commands/RunCommand.hpp"
#include "config/ClientPaths.hpp"
#include "status/StatusFile.hpp"

#include "../Scratch.hpp"
#include "ScriptedNetwork.hpp"
#include "support/BuildConstants.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Minutes = std::chrono::minutes;
using TimePoint = std::chrono::system_clock::time_point;
const TimePoint start = ScriptedClock().wall, earlier = start - 24h;
constexpr std::chrono::hours decades(24 * 365 * 40);

// `rounds` cycles or idle hours against a service that finds 203.0.113.7 and answers every update with
// `answer`, after an earlier daemon's status; the name servers keep serving an older address, so the pauses
// after an update are split for second looks. Each round loses status.json, as if someone had removed it.
struct Daemon final : ClientEdges, PublicIpResolving, DynDnsUpdating, HostConfirming {
    Daemon(int rounds, std::string config, std::string answer = {}, std::vector<Happening> network = {})
        : rounds(rounds), answer(std::move(answer)), network(std::move(network)) {
        ::setenv("KORVANE_CONFIG_DIR", dir.path.c_str(), 1);
        StatusFile(dir / "status.json").write({{}, "", {}, {}, {}, earlier, earlier, ""});
        if (!config.empty()) {
            dir.write("config.json", R"({"hostname": "h.example", "apiKey": "dyndns_k", )" + config + "}");
        }
    }
    ~Daemon() override { ::unsetenv("KORVANE_CONFIG_DIR"); }

    bool keepRunning() const override {
        if (asked++ >= rounds) {
            return false;
        }
        std::filesystem::remove(dir / "status.json");
        return true;
    }
    void startSelfUpdater() const override { ++selfUpdaters; }
    std::shared_ptr<PublicIpResolving> resolver(const ClientConfiguration&) const override { return self(); }
    std::shared_ptr<DynDnsUpdating> updateClient(const ClientConfiguration&) const override { return self(); }
    // Shared without an owner: the daemon outlives its loop.
    std::shared_ptr<Daemon> self() const { return {std::shared_ptr<void>(), const_cast<Daemon*>(this)}; }
    std::shared_ptr<HostConfirming> hostConfirmer(const ClientConfiguration&) const override {
        return self();
    }
    DnsObservation observe(const AddressPair&) override { return {true, true, false, {}, {}}; }
    RouterSighting askRouter() const override {
        ++routerQuestions;
        return router;
    }
    std::unique_ptr<NetworkChangeSource> networkChangeSource() const override {
        return std::make_unique<SnapshotComparison>(std::make_unique<ScriptedNetwork>(clocks, network));
    }
    std::optional<std::string> resolveIpv4() noexcept override {
        cycles.push_back(clocks.wall - start);
        return script.empty() ? ipv4 : script.at(cycles.size() - 1).first;
    }
    std::optional<std::string> resolveIpv6() noexcept override { return std::nullopt; }
    Expected<DynDnsResponse> send(const std::optional<std::string>&,
                                  const std::optional<std::string>&) override {
        return DynDnsResponseParser::parse(script.empty() ? answer : script.at(cycles.size() - 1).second);
    }
    DaemonStatus status() const { return StatusFile(dir / "status.json").load().value(); }

    Scratch dir;
    ScriptedClock clocks;
    mutable int asked = 0, selfUpdaters = 0, routerQuestions = 0;
    RouterSighting router;
    std::string ipv4 = "203.0.113.7";
    std::vector<TimePoint::duration> cycles;
    std::vector<std::string> lines;
    int rounds;
    std::string answer;
    std::vector<Happening> network;
    // When given, per cycle: the address found and the answer to its update.
    std::vector<std::pair<std::string, std::string>> script;
    ClientRoot root{ClientLog([this](ClientLog::Level level, const std::string& message) {
                        if (level != ClientLog::Level::debug && !message.starts_with("DNS ")) {
                            lines.push_back(std::string(ClientLog::rawValue(level)) + " " + message);
                        }
                    }),
                    clocks, *this};
};

const std::string started =
    "INFO korvane-client " + std::string(ClientVersion::current) + " startet (Daemon-Modus).";
const std::string updated = "INFO DynDNS aktualisiert: 203.0.113.7.";
const std::string rejected = "ERROR DynDNS-Update dauerhaft abgewiesen: badauth.";
const std::string change = "INFO Netzwerkänderung erkannt — Aktualisierung vorgezogen.";
const std::string wake = "INFO Ruhezustand beendet — Aktualisierung vorgezogen.";
std::string fatal(int minutes) {
    return "ERROR Fataler Fehler — nächster Versuch in " + std::to_string(minutes) +
           " min: Authentifizierung fehlgeschlagen — API-Key prüfen.";
}

TEST(DaemonLoop, CyclesFollowTheIntervalSettledNetworkChangesAndWakesButNotAfterAPermanentRejection) {
    using Cycles = std::vector<TimePoint::duration>;
    // Interval, answer, network; cycle starts on the wall clock (a change settles in 2 s); lines after the
    // worker's.
    // clang-format off
    const std::tuple<std::int64_t, std::string, std::vector<Happening>, Cycles, std::vector<std::string>> cases[] = {
        {5, "good 203.0.113.7", {{10s}, {11500ms}}, {0s, 13500ms, 313500ms}, {updated, change}},
        {5, "good 203.0.113.7", {{30s, What::sleep, 60min}}, {0s, 60min + 30s}, {updated, wake}},
        {5, "badauth", {{60s}}, {0s, 30min}, {rejected, fatal(30), rejected, fatal(60)}},
        {45, "badauth", {}, {0s, 45min}, {rejected, fatal(45), rejected, fatal(60)}},
        // A change the minute holds back still counts after the pause was split for a second look (15 s and
        // 60 s after the update).
        {5, "good 203.0.113.7", {{5s}, {10s}}, {0s, 7s, 67s}, {updated, change, change}},
        // An interval beyond a century pauses for one; a clock set back by decades and a pause begun there.
        {INT64_MAX, "good 203.0.113.7", {{10s, What::setBack, decades}, {30s}, {100s}}, {0s, 32s - decades},
         {updated, change, change}}};
    // clang-format on
    for (const auto& [interval, answer, network, cycles, lines] : cases) {
        Daemon daemon(int(cycles.size()), "\"updateIntervalMinutes\": " + std::to_string(interval), answer,
                      network);
        EXPECT_EQ(RunCommand::execute(daemon.root), 0);
        EXPECT_EQ(daemon.cycles, cycles) << answer;
        std::vector<std::string> expected{started, "INFO Update-Worker gestartet (Intervall " +
                                                       std::to_string(interval) + " min, Host h.example)."};
        expected.insert(expected.end(), lines.begin(), lines.end());
        EXPECT_EQ(daemon.lines, expected);
        EXPECT_EQ(daemon.selfUpdaters, 1);
        // Written after the last cycle, in whole seconds; the last success is kept until a cycle succeeds.
        bool failed = answer == "badauth";
        DaemonStatus status = daemon.status();
        EXPECT_EQ(std::make_tuple(status.state, status.lastSuccessAt == earlier, status.updatedAt),
                  std::make_tuple(failed ? DaemonStatus::State::error : DaemonStatus::State::ok, failed,
                                  std::chrono::floor<std::chrono::seconds>(start + cycles.back())));
    }
}

TEST(DaemonLoop, AsksTheRouterAtTheStartAndAfterANetworkChangeAndPublishesANewVerdictOnce) {
    Daemon daemon(3, "\"updateIntervalMinutes\": 5", "good 80.1.1.9", {{10s}, {11500ms}});
    daemon.ipv4 = "80.1.1.9";
    daemon.router = {{RouterAnswer::Kind::address, "100.64.0.2"}, {"192.168.1.20"}};
    EXPECT_EQ(RunCommand::execute(daemon.root), 0);
    EXPECT_EQ(daemon.routerQuestions, 2);
    EXPECT_EQ(
        std::count(daemon.lines.begin(), daemon.lines.end(),
                   "INFO IPv4 von außen nicht erreichbar: Carrier-NAT des Anbieters (Router: 100.64.0.2)."),
        1);
    DaemonStatus status = daemon.status();
    EXPECT_EQ(
        std::tie(status.reachability, status.routerIpv4),
        std::make_tuple(std::optional(Reachability::carrierNat), std::optional<std::string>("100.64.0.2")));
}

TEST(DaemonLoop, EachFurtherPermanentRejectionDoublesThePauseUpToADayUntilAnAnswerIsAccepted) {
    ::setenv("TZ", "CET-1", 1);
    ::tzset();
    // A network change in a pause of a day does not cut it short. Only an accepted answer begins the row
    // anew, not a cycle that had nothing to send (203.0.113.9 was pushed before).
    Daemon daemon(13, "\"updateIntervalMinutes\": 5", "", {{2000min}});
    daemon.dir.write("ipstate.json", R"({"hostname":"h.example","ipv4":"203.0.113.9"})");
    const std::pair<std::string, std::string> rejected{"203.0.113.7", "badauth"};
    daemon.script.assign(8, rejected);
    daemon.script.insert(daemon.script.end(), {{"203.0.113.9", "-"},
                                               rejected,
                                               {"203.0.113.7", "good"},
                                               {"203.0.113.8", "abuse"},
                                               {"203.0.113.8", "nohost"}});
    EXPECT_EQ(RunCommand::execute(daemon.root), 0);
    std::vector<Minutes> pauses;
    for (std::size_t i = 1; i < daemon.cycles.size(); ++i) {
        pauses.push_back(std::chrono::round<Minutes>(daemon.cycles[i] - daemon.cycles[i - 1]));
    }
    EXPECT_EQ(pauses, (std::vector<Minutes>{30min, 60min, 120min, 240min, 480min, 960min, 1440min, 1440min,
                                            5min, 1440min, 5min, 30min}));
    // The status says when the next try comes, in local time (an hour east of UTC): the last rejection came
    // at 08:10 UTC on the fifth day, 2019-12-24.
    EXPECT_EQ(
        daemon.status().message,
        "Hostname nicht gefunden oder nicht diesem Key zugeordnet. Nächster Versuch am 24.12. um 10:10.");
    ::unsetenv("TZ");
    ::tzset();
}

TEST(DaemonLoop, WithoutAConfigurationItIdlesAndPutsItsStatusBackEveryHour) {
    Daemon daemon(2, "");
    EXPECT_EQ(RunCommand::execute(daemon.root), 0);
    const std::string reason = "Keine Konfiguration gefunden (" + (daemon.dir / "config.json").string() +
                               "). Bitte mit 'sudo korvane-client configure' einrichten.";
    EXPECT_EQ(daemon.lines,
              (std::vector<std::string>{started, "ERROR korvane-client läuft im Leerlauf — " + reason}));
    EXPECT_EQ(std::make_tuple(daemon.clocks.wall - start, daemon.selfUpdaters, daemon.cycles.size()),
              std::make_tuple(TimePoint::duration(2h), 0, std::size_t(0)));
    DaemonStatus status = daemon.status();
    EXPECT_EQ(std::tie(status.state, status.message, status.lastSuccessAt, status.updatedAt),
              std::make_tuple(DaemonStatus::State::idle, reason, std::optional(earlier), start));
}

} // namespace
