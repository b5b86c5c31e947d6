// The daemon's loop through ClientRoot's seams, on a scripted clock: when the cycles come, what ends a
// pause early, the long pause after a permanent rejection, and idle mode.
#include "commands/RunCommand.hpp"
#include "config/ClientPaths.hpp"
#include "status/DaemonStatus.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using TimePoint = std::chrono::system_clock::time_point;
const TimePoint start{std::chrono::hours(24 * 365 * 50)}, earlier = start - 24h;

// The first wait sees a change, or the machine sleeps `asleep` during it; each wait moves the clock on.
struct Network final : NetworkChangeSource {
    Network(TimePoint& now, bool change, std::chrono::minutes asleep)
        : now(now), change(change), asleep(asleep) {}
    bool waitForChange(std::chrono::milliseconds timeout) override {
        now += timeout + std::exchange(asleep, 0min);
        return std::exchange(change, false);
    }
    TimePoint& now;
    bool change;
    std::chrono::minutes asleep;
};

// Runs `rounds` cycles or idle hours against a service that finds 203.0.113.7 and answers every update with
// `answer`. An earlier daemon's status is there at the start; each sleep loses status.json, as if another
// process had removed it.
struct Daemon final : ClientRoot, PublicIpResolving, DynDnsUpdating {
    Daemon(int rounds, std::string config, std::string answer = {}, bool change = false,
           std::chrono::minutes asleep = 0min)
        : ClientRoot(ClientLog([this](ClientLog::Level level, const std::string& message) {
                         if (level != ClientLog::Level::debug) {
                             lines.push_back(std::string(ClientLog::rawValue(level)) + " " + message);
                         }
                     }),
                     Pause::Clock{[this] { return now; },
                                  [this](std::chrono::nanoseconds length) {
                                      now += std::chrono::duration_cast<TimePoint::duration>(length);
                                      std::filesystem::remove(dir / "status.json");
                                  }}),
          rounds(rounds), answer(std::move(answer)), change(change), asleep(asleep) {
        ::setenv("KORVANE_CONFIG_DIR", dir.path.c_str(), 1);
        StatusFile(dir / "status.json")
            .write({DaemonStatus::State::ok, "m", {}, {}, {}, earlier, earlier, "0"});
        if (!config.empty()) {
            dir.write("config.json", R"({"hostname": "h.example", "apiKey": "dyndns_k", )" + config + "}");
        }
    }
    ~Daemon() override { ::unsetenv("KORVANE_CONFIG_DIR"); }

    bool keepRunning() const override { return asked++ < rounds; }
    void startSelfUpdater() const override { ++selfUpdaters; }
    std::shared_ptr<PublicIpResolving> resolver(const ClientConfiguration&) const override { return self(); }
    std::shared_ptr<DynDnsUpdating> updateClient(const ClientConfiguration&) const override { return self(); }
    std::unique_ptr<NetworkChangeSource> networkChangeSource() const override {
        return std::make_unique<Network>(now, change, asleep);
    }
    // Shared without an owner: the daemon outlives the loop.
    std::shared_ptr<Daemon> self() const { return {std::shared_ptr<void>(), const_cast<Daemon*>(this)}; }
    std::optional<std::string> resolveIpv4() override {
        cycles.push_back(now - start);
        return "203.0.113.7";
    }
    std::optional<std::string> resolveIpv6() override { return std::nullopt; }
    DynDnsResponse send(const std::optional<std::string>&, const std::optional<std::string>&) override {
        return DynDnsResponseParser::parse(answer);
    }

    Scratch dir;
    mutable TimePoint now = start;
    mutable int asked = 0, selfUpdaters = 0;
    std::vector<TimePoint::duration> cycles;
    std::vector<std::string> lines;
    int rounds;
    std::string answer;
    bool change;
    std::chrono::minutes asleep;
};

const std::string started =
    "INFO korvane-client " + std::string(ClientVersion::current) + " startet (Daemon-Modus).";
const std::string updated = "INFO DynDNS aktualisiert: 203.0.113.7.";
const std::string rejected = "ERROR DynDNS-Update dauerhaft abgewiesen: badauth.";
std::string fatal(int minutes) {
    return "ERROR Fataler Fehler — nächster Versuch in " + std::to_string(minutes) +
           " min: Authentifizierung fehlgeschlagen — API-Key prüfen.";
}

TEST(DaemonLoop, CyclesFollowTheIntervalNetworkChangesAndWakesButNotAfterAPermanentRejection) {
    using Cycles = std::vector<TimePoint::duration>;
    const std::tuple<int, std::string, bool, std::chrono::minutes, Cycles, std::vector<std::string>> cases[] =
        {// interval, answer, change, asleep; when the cycles begin, the lines after the worker's
         {5,
          "good 203.0.113.7",
          true,
          0min,
          {0s, 62s, 362s},
          {updated, "INFO Netzwerkänderung erkannt — Aktualisierung vorgezogen."}},
         {5,
          "good 203.0.113.7",
          false,
          60min,
          {0s, 61min},
          {updated, "INFO Ruhezustand beendet — Aktualisierung vorgezogen."}},
         {5, "badauth", true, 0min, {0s, 30min}, {rejected, fatal(30), rejected, fatal(30)}},
         {45, "badauth", false, 0min, {0s, 45min}, {rejected, fatal(45), rejected, fatal(45)}}};
    for (const auto& [interval, answer, change, asleep, cycles, lines] : cases) {
        Daemon daemon(static_cast<int>(cycles.size()),
                      "\"updateIntervalMinutes\": " + std::to_string(interval), answer, change, asleep);
        EXPECT_EQ(RunCommand::execute(daemon), 0);
        EXPECT_EQ(daemon.cycles, cycles) << answer;
        std::vector<std::string> expected = {started, "INFO Update-Worker gestartet (Intervall " +
                                                          std::to_string(interval) +
                                                          " min, Host h.example)."};
        expected.insert(expected.end(), lines.begin(), lines.end());
        EXPECT_EQ(daemon.lines, expected);
        EXPECT_EQ(daemon.selfUpdaters, 1);
        DaemonStatus status = StatusFile(ClientPaths::statusFile()).load().value();
        EXPECT_EQ(status.state, answer == "badauth" ? DaemonStatus::State::error : DaemonStatus::State::ok);
        EXPECT_EQ(status.lastSuccessAt == earlier, answer == "badauth") << "kept until a cycle succeeds";
        EXPECT_EQ(status.updatedAt - start, cycles.back()) << "written after the last cycle";
    }
}

TEST(DaemonLoop, WithoutAConfigurationItIdlesAndPutsItsStatusBackEveryHour) {
    Daemon daemon(2, "");
    EXPECT_EQ(RunCommand::execute(daemon), 0);
    const std::string reason = "Keine Konfiguration gefunden (" + (daemon.dir / "config.json").string() +
                               "). Bitte mit 'sudo korvane-client configure' einrichten.";
    EXPECT_EQ(daemon.lines,
              (std::vector<std::string>{started, "ERROR korvane-client läuft im Leerlauf — " + reason}));
    EXPECT_EQ(std::make_tuple(daemon.now - start, daemon.selfUpdaters, daemon.cycles.size()),
              std::make_tuple(TimePoint::duration(2h), 0, std::size_t(0)));
    DaemonStatus status = StatusFile(ClientPaths::statusFile()).load().value();
    EXPECT_EQ(std::tie(status.state, status.message, status.lastSuccessAt, status.updatedAt),
              std::make_tuple(DaemonStatus::State::idle, reason, std::optional(earlier), start));
}

} // namespace
