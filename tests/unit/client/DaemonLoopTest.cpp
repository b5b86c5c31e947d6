// The daemon's loop on a scripted clock, wired by a ClientRoot whose network edges are fakes: when the
// cycles come, what ends a pause early, the long pause after a permanent rejection, and idle mode.
#include "ClientRoot.hpp"
#include "commands/RunCommand.hpp"
#include "config/ClientPaths.hpp"
#include "status/DaemonStatus.hpp"

#include "../Scratch.hpp"
#include "ScriptedNetwork.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;
using TimePoint = std::chrono::system_clock::time_point;

const std::string updated = "INFO DynDNS aktualisiert: 203.0.113.7.";
const std::string rejected = "ERROR DynDNS-Update dauerhaft abgewiesen: badauth.";
std::string fatal(int minutes) {
    return "ERROR Fataler Fehler — nächster Versuch in " + std::to_string(minutes) +
           " min: Authentifizierung fehlgeschlagen — API-Key prüfen.";
}

struct Resolver final : PublicIpResolving {
    Resolver(const TimePoint& now, std::vector<Ms>& cycles) : now(now), start(now), cycles(cycles) {}
    std::optional<std::string> resolveIpv4() override {
        cycles.push_back(std::chrono::duration_cast<Ms>(now - start));
        return "203.0.113.7";
    }
    std::optional<std::string> resolveIpv6() override { return std::nullopt; }
    const TimePoint& now;
    TimePoint start;
    std::vector<Ms>& cycles;
};

struct UpdateClient final : DynDnsUpdating {
    explicit UpdateClient(std::string answer) : answer(std::move(answer)) {}
    DynDnsResponse send(const std::optional<std::string>&, const std::optional<std::string>&) override {
        return DynDnsResponseParser::parse(answer);
    }
    std::string answer;
};

// A daemon that runs `rounds` cycles (or idle sleeps), then stops; its lines without debug in `lines`.
struct Daemon final : ClientRoot {
    Daemon(int rounds, std::string answer = {}, std::vector<Happening> network = {})
        : ClientRoot(ClientLog([this](ClientLog::Level level, const std::string& message) {
                         if (level != ClientLog::Level::debug) {
                             lines.push_back(std::string(ClientLog::rawValue(level)) + " " + message);
                         }
                     }),
                     Pause::Clock{[this] { return now; }, [this](std::chrono::nanoseconds d) { sleep(d); }},
                     ServiceEndpoints{}),
          rounds(rounds), answer(std::move(answer)), network(std::move(network)) {}

    bool keepRunning() const override { return asked++ < rounds; }
    void startSelfUpdater() const override { ++selfUpdaters; }
    std::shared_ptr<PublicIpResolving> resolver(const ClientConfiguration&) const override {
        return std::make_shared<Resolver>(now, cycles);
    }
    std::shared_ptr<DynDnsUpdating> updateClient(const ClientConfiguration&) const override {
        return std::make_shared<UpdateClient>(answer);
    }
    std::unique_ptr<NetworkChangeSource> networkChangeSource() const override {
        return std::make_unique<ScriptedNetwork>(now, network);
    }
    // Each sleep loses status.json, as if another process had removed it.
    void sleep(std::chrono::nanoseconds length) {
        now += std::chrono::duration_cast<TimePoint::duration>(length);
        std::filesystem::remove(ClientPaths::statusFile());
    }

    const TimePoint start{std::chrono::hours(24 * 365 * 50)};
    mutable TimePoint now = start;
    mutable int asked = 0, selfUpdaters = 0;
    mutable std::vector<Ms> cycles;
    mutable std::vector<std::string> lines;
    int rounds;
    std::string answer;
    std::vector<Happening> network;
};

// Each test's configuration directory, through the variable that moves it.
struct ConfigDir : Scratch {
    ConfigDir() { ::setenv("KORVANE_CONFIG_DIR", path.c_str(), 1); }
    ~ConfigDir() { ::unsetenv("KORVANE_CONFIG_DIR"); }
};

TEST(DaemonLoop, CyclesFollowTheIntervalNetworkChangesAndWakesButNotAfterAPermanentRejection) {
    struct Case {
        int interval;
        std::string answer;
        std::vector<Happening> network;
        std::vector<Ms> cycles;
        std::vector<std::string> lines; // after the start and worker lines
        DaemonStatus::State state;
    };
    const Case cases[] = {{5,
                           "good 203.0.113.7",
                           {{60s}},
                           {0s, 62s, 362s},
                           {updated, "INFO Netzwerkänderung erkannt — Aktualisierung vorgezogen."},
                           DaemonStatus::State::ok},
                          {5,
                           "good 203.0.113.7",
                           {{30s, 60min}},
                           {0s, 61min},
                           {updated, "INFO Ruhezustand beendet — Aktualisierung vorgezogen."},
                           DaemonStatus::State::ok},
                          {5,
                           "badauth",
                           {{60s}},
                           {0s, 30min},
                           {rejected, fatal(30), rejected, fatal(30)},
                           DaemonStatus::State::error},
                          {45,
                           "badauth",
                           {},
                           {0s, 45min},
                           {rejected, fatal(45), rejected, fatal(45)},
                           DaemonStatus::State::error}};
    for (const Case& c : cases) {
        ConfigDir dir;
        dir.write("config.json", R"({"hostname": "home.example.net", "apiKey": "dyndns_testkey123456", )"
                                 R"("updateIntervalMinutes": )" +
                                     std::to_string(c.interval) + "}");
        Daemon daemon(static_cast<int>(c.cycles.size()), c.answer, c.network);
        EXPECT_EQ(RunCommand::execute(daemon), 0);
        EXPECT_EQ(daemon.cycles, c.cycles) << c.answer;
        std::vector<std::string> lines = {"INFO korvane-client " + std::string(ClientVersion::current) +
                                              " startet (Daemon-Modus).",
                                          "INFO Update-Worker gestartet (Intervall " +
                                              std::to_string(c.interval) + " min, Host home.example.net)."};
        lines.insert(lines.end(), c.lines.begin(), c.lines.end());
        EXPECT_EQ(daemon.lines, lines);
        EXPECT_EQ(daemon.selfUpdaters, 1);
        std::optional<DaemonStatus> status = StatusFile(ClientPaths::statusFile()).load();
        ASSERT_TRUE(status);
        EXPECT_EQ(status->state, c.state);
        EXPECT_EQ(status->updatedAt - daemon.start, c.cycles.back()) << "written after the last cycle";
    }
}

TEST(DaemonLoop, WithoutAConfigurationItIdlesAndPutsItsStatusBackEveryHour) {
    ConfigDir dir;
    Daemon daemon(2);
    EXPECT_EQ(RunCommand::execute(daemon), 0);
    const std::string reason = "Keine Konfiguration gefunden (" + (dir / "config.json").string() +
                               "). Bitte mit 'sudo korvane-client configure' einrichten.";
    EXPECT_EQ(daemon.lines,
              (std::vector<std::string>{"INFO korvane-client " + std::string(ClientVersion::current) +
                                            " startet (Daemon-Modus).",
                                        "ERROR korvane-client läuft im Leerlauf — " + reason}));
    EXPECT_EQ(daemon.now - daemon.start, 2h);
    EXPECT_EQ(daemon.selfUpdaters, 0);
    EXPECT_EQ(daemon.cycles, std::vector<Ms>{});
    std::optional<DaemonStatus> status = StatusFile(ClientPaths::statusFile()).load();
    ASSERT_TRUE(status);
    EXPECT_EQ(std::tie(status->state, status->message, status->updatedAt),
              std::make_tuple(DaemonStatus::State::idle, reason, daemon.start));
}

} // namespace
