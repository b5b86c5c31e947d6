#include "commands/RunCommand.hpp"

#include "ScratchDirectory.hpp"
#include "config/ClientPaths.hpp"
#include "config/ConfigurationStore.hpp"
#include "status/DaemonStatus.hpp"
#include "support/Rfc3339.hpp"
#include "support/ScopedEnvironment.hpp"

#include <algorithm>
#include <deque>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Address = std::optional<std::string>;
using Clock = std::chrono::system_clock;
using Level = ClientLog::Level;
using State = DaemonStatus::State;

// Everything the daemon does, in the order it does it, as short words.
using Events = std::vector<std::string>;

class FakeResolver : public PublicIpResolving {
public:
    explicit FakeResolver(Events& events) : events_(events) {}

    // One answer per cycle; the last one repeats.
    std::deque<Address> ipv4;
    std::function<void()> onResolve;

    Address resolveIpv4() override {
        events_.push_back("resolve");
        if (onResolve) {
            onResolve();
        }
        Address answer = ipv4.front();
        if (ipv4.size() > 1) {
            ipv4.pop_front();
        }
        return answer;
    }
    Address resolveIpv6() override { return std::nullopt; }

private:
    Events& events_;
};

class FakeUpdater : public DynDnsUpdating {
public:
    explicit FakeUpdater(Events& events) : events_(events) {}

    // One answer word per request; the last one repeats.
    std::deque<DynDnsResponseCode> codes{DynDnsResponseCode::good};
    std::vector<Address> sent;

    DynDnsResponse send(const Address& ipv4, const Address&) override {
        events_.push_back("send");
        sent.push_back(ipv4);
        DynDnsResponse response;
        response.code = codes.front();
        response.raw = rawFor(response.code, ipv4.value_or(""));
        if (codes.size() > 1) {
            codes.pop_front();
        }
        return response;
    }

private:
    static std::string rawFor(DynDnsResponseCode code, const std::string& ip) {
        switch (code) {
        case DynDnsResponseCode::good:
            return "good " + ip;
        case DynDnsResponseCode::noChange:
            return "nochg " + ip;
        case DynDnsResponseCode::badAuth:
            return "badauth";
        default:
            return "911";
        }
    }

    Events& events_;
};

Clock::time_point floorSeconds(Clock::time_point time) {
    return std::chrono::floor<std::chrono::seconds>(time);
}

Clock::time_point at(const std::string& text) {
    return Rfc3339::parse(text).value();
}

DaemonStatus earlierStatus() {
    return {State::ok,     "DynDNS aktualisiert: 198.51.100.1.", "old.example.org",          "198.51.100.1",
            "2001:db8::9", at("2020-01-01T00:00:00Z"),           at("2020-01-01T00:05:00Z"), "0.23.0"};
}

// The daemon on fakes in a scratch configuration directory. The sleep records the pause and the status
// file as it stands then, which is the status written by the cycle just finished.
class RunCommandTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
    ScopedEnvironment env;
    Events events;
    std::vector<std::pair<Level, std::string>> lines;
    std::vector<std::chrono::nanoseconds> pauses;
    std::vector<std::optional<DaemonStatus>> statusAtPause;
    std::shared_ptr<FakeResolver> resolver = std::make_shared<FakeResolver>(events);
    std::shared_ptr<FakeUpdater> updater = std::make_shared<FakeUpdater>(events);
    StatusFile statusFile{dir / "status.json"};
    int collaboratorBuilds = 0;
    int workerStarts = 0;
    std::function<void()> sleepFailure;

    RunCommandTest() {
        env.set("KORVANE_CONFIG_DIR", dir.path().string());
        resolver->ipv4 = {"203.0.113.7"};
    }

    void writeConfig(std::int64_t interval, bool ipv4 = true) {
        ClientConfiguration config;
        config.hostname = "home.example.org";
        config.apiKey = "dyndns_k3yNeverLogged";
        config.updateIntervalMinutes = interval;
        config.enableIpv4 = ipv4;
        ConfigurationStore(dir / "config.json").save(config);
    }

    // Runs the daemon until it has asked keepRunning `rounds` times with a yes.
    int runDaemon(int rounds) {
        RunCommand::Dependencies deps;
        deps.sleep = [this](std::chrono::nanoseconds pause) {
            events.push_back("sleep");
            pauses.push_back(pause);
            statusAtPause.push_back(statusFile.load());
            if (sleepFailure) {
                sleepFailure();
            }
        };
        deps.makeCollaborators = [this](const ClientConfiguration& config, const ClientLog&) {
            EXPECT_EQ(config.hostname, "home.example.org");
            ++collaboratorBuilds;
            return RunCommand::Collaborators{resolver, updater};
        };
        deps.keepRunning = [rounds, asked = 0]() mutable { return asked++ < rounds; };
        deps.watchNetwork = [](const auto&) { return nullptr; };
        deps.startAppUpdateWorker = [this] {
            events.push_back("worker");
            ++workerStarts;
        };
        deps.logLine = [this](Level level, std::string_view message) {
            events.push_back("line");
            lines.emplace_back(level, std::string(message));
            // The fatal line must describe a status that is already on disk.
            if (message.starts_with("Fataler Fehler")) {
                std::optional<DaemonStatus> written = statusFile.load();
                ASSERT_TRUE(written.has_value());
                EXPECT_EQ(written->state, State::error);
                EXPECT_EQ(written->message, "Authentifizierung fehlgeschlagen — API-Key prüfen.");
                EXPECT_EQ(written->updatedAt, floorSeconds(written->updatedAt));
                EXPECT_EQ(statusAtPause.size() + 1, static_cast<std::size_t>(updater->sent.size()));
            }
        };
        return RunCommand::execute(deps);
    }

    std::vector<std::string> messagesAt(Level level) const {
        std::vector<std::string> found;
        for (const auto& [lineLevel, message] : lines) {
            if (lineLevel == level) {
                found.push_back(message);
            }
        }
        return found;
    }
};

TEST_F(RunCommandTest, CyclesRunBackToBackAndEachPublishesItsOutcome) {
    writeConfig(5);
    resolver->ipv4 = {"203.0.113.7", "203.0.113.42", "203.0.113.42"};
    Clock::time_point before = floorSeconds(Clock::now());

    EXPECT_EQ(runDaemon(3), 0);

    Clock::time_point after = Clock::now();
    // The first cycle starts at once; each pause follows a cycle; the unchanged third cycle sends nothing.
    EXPECT_EQ(events, (Events{"line", "worker", "line", "resolve", "send", "line", "sleep", "resolve", "send",
                              "line", "sleep", "resolve", "sleep"}));
    EXPECT_EQ(updater->sent, (std::vector<Address>{"203.0.113.7", "203.0.113.42"}));
    EXPECT_EQ(collaboratorBuilds, 1);
    EXPECT_EQ(workerStarts, 1);
    EXPECT_EQ(messagesAt(Level::info),
              (std::vector<std::string>{"korvane-client 0.24.0 startet (Daemon-Modus).",
                                        "Update-Worker gestartet (Intervall 5 min, Host home.example.org).",
                                        "DynDNS aktualisiert: 203.0.113.7.",
                                        "DynDNS aktualisiert: 203.0.113.42."}));
    // The unchanged cycle's debug line is dropped like StdLog::clientLog drops it.
    EXPECT_EQ(lines.size(), 4u);

    struct Expected {
        State state;
        std::string message;
    };
    std::vector<Expected> expected{{State::ok, "DynDNS aktualisiert: 203.0.113.7."},
                                   {State::ok, "DynDNS aktualisiert: 203.0.113.42."},
                                   {State::ok, "IP unverändert (203.0.113.42)."}};
    ASSERT_EQ(statusAtPause.size(), expected.size());
    for (std::size_t cycle = 0; cycle < expected.size(); ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle + 1));
        const std::optional<DaemonStatus>& status = statusAtPause[cycle];
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(status->state, expected[cycle].state);
        EXPECT_EQ(status->message, expected[cycle].message);
        EXPECT_EQ(status->hostname, "home.example.org");
        EXPECT_EQ(status->lastIpv4, cycle == 0 ? "203.0.113.7" : "203.0.113.42");
        EXPECT_EQ(status->lastIpv6, std::nullopt);
        EXPECT_EQ(status->daemonVersion, "0.24.0");
        ASSERT_TRUE(status->lastSuccessAt.has_value());
        EXPECT_GE(*status->lastSuccessAt, before);
        EXPECT_LE(*status->lastSuccessAt, after);
        EXPECT_GE(status->updatedAt, before);
        EXPECT_LE(status->updatedAt, after);
    }
    for (const auto& [level, message] : lines) {
        EXPECT_EQ(message.find("dyndns_k3yNeverLogged"), std::string::npos) << message;
    }
}

TEST_F(RunCommandTest, PauseFollowsIntervalAndBacksOffAfterPermanentRejection) {
    constexpr std::int64_t huge = std::numeric_limits<std::int64_t>::max();
    // 9,223,372,036,854,775,807 ns / 60,000,000,000 ns per minute, rounded down.
    constexpr std::int64_t longestMinutes = 153722867;
    struct Case {
        std::int64_t interval;
        DynDnsResponseCode answer;
        std::chrono::nanoseconds pause;
        std::string fatalLine; // empty: no ERROR line of the daemon
    };
    const std::string badAuth = "Authentifizierung fehlgeschlagen — API-Key prüfen.";
    std::vector<Case> cases{
        {5, DynDnsResponseCode::good, 300s, ""},
        {1, DynDnsResponseCode::good, 60s, ""},
        {1, DynDnsResponseCode::serverError, 60s, ""},
        {5, DynDnsResponseCode::badAuth, 1800s, "Fataler Fehler — nächster Versuch in 30 min: " + badAuth},
        {1, DynDnsResponseCode::badAuth, 1800s, "Fataler Fehler — nächster Versuch in 30 min: " + badAuth},
        {30, DynDnsResponseCode::badAuth, 1800s, "Fataler Fehler — nächster Versuch in 30 min: " + badAuth},
        {45, DynDnsResponseCode::badAuth, 2700s, "Fataler Fehler — nächster Versuch in 45 min: " + badAuth},
        {huge, DynDnsResponseCode::good, std::chrono::minutes(longestMinutes), ""},
        {huge, DynDnsResponseCode::badAuth, std::chrono::minutes(longestMinutes),
         "Fataler Fehler — nächster Versuch in 153722867 min: " + badAuth},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("interval " + std::to_string(c.interval) + ", answer " + std::to_string(int(c.answer)));
        events.clear();
        lines.clear();
        pauses.clear();
        statusAtPause.clear();
        updater->sent.clear();
        updater->codes = {c.answer};
        std::filesystem::remove(dir / "ipstate.json");
        writeConfig(c.interval);

        runDaemon(2);

        EXPECT_EQ(pauses, (std::vector<std::chrono::nanoseconds>{c.pause, c.pause}));
        std::vector<std::string> errors = messagesAt(Level::error);
        std::erase_if(errors, [](const std::string& line) { return !line.starts_with("Fataler Fehler"); });
        std::vector<std::string> expectedErrors;
        if (!c.fatalLine.empty()) {
            expectedErrors = {c.fatalLine, c.fatalLine};
        }
        EXPECT_EQ(errors, expectedErrors);
    }
    EXPECT_EQ(RunCommand::maxPauseMinutes, longestMinutes);
    EXPECT_GT(std::chrono::nanoseconds(std::chrono::minutes(longestMinutes)).count(),
              std::numeric_limits<std::int64_t>::max() - std::chrono::nanoseconds(1min).count());
}

TEST_F(RunCommandTest, PauseMinutesClampsToWhatTheSleepCanHold) {
    struct Case {
        std::int64_t interval;
        UpdateCycleStatus status;
        std::int64_t minutes;
    };
    std::vector<Case> cases{
        {0, UpdateCycleStatus::unchanged, 1},
        {-7, UpdateCycleStatus::transientError, 1},
        {std::numeric_limits<std::int64_t>::min(), UpdateCycleStatus::fatalError, 30},
        {29, UpdateCycleStatus::fatalError, 30},
        {31, UpdateCycleStatus::fatalError, 31},
        {31, UpdateCycleStatus::noPublicIp, 31},
        {RunCommand::maxPauseMinutes + 1, UpdateCycleStatus::updated, RunCommand::maxPauseMinutes},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RunCommand::pauseMinutes(c.interval, c.status), c.minutes) << c.interval;
    }
}

TEST_F(RunCommandTest, LastSuccessIsCarriedFromTheFileAndThroughFailingCycles) {
    writeConfig(5);
    statusFile.write(earlierStatus());
    // 911, then good, then 911 again: the old time until the healthy cycle, then the healthy cycle's.
    updater->codes = {DynDnsResponseCode::serverError, DynDnsResponseCode::good,
                      DynDnsResponseCode::serverError};
    resolver->ipv4 = {"203.0.113.7", "203.0.113.7", "203.0.113.42"};
    // Nothing is written at start-up: the first cycle still finds the earlier status.
    resolver->onResolve = [this] {
        if (events.size() == 4) { // start line, worker, worker line, resolve
            EXPECT_EQ(statusFile.load(), earlierStatus());
        }
    };
    Clock::time_point before = floorSeconds(Clock::now());

    runDaemon(3);

    ASSERT_EQ(statusAtPause.size(), 3u);
    ASSERT_TRUE(statusAtPause[0] && statusAtPause[1] && statusAtPause[2]);
    EXPECT_EQ(statusAtPause[0]->state, State::warning);
    EXPECT_EQ(statusAtPause[0]->message,
              "Vorübergehender Serverfehler (911). Erneuter Versuch im nächsten Intervall.");
    EXPECT_EQ(statusAtPause[0]->lastSuccessAt, at("2020-01-01T00:00:00Z"));
    // The cache never held an address, so the earlier file's addresses are not repeated.
    EXPECT_EQ(statusAtPause[0]->lastIpv4, std::nullopt);
    EXPECT_EQ(statusAtPause[0]->lastIpv6, std::nullopt);

    EXPECT_EQ(statusAtPause[1]->state, State::ok);
    ASSERT_TRUE(statusAtPause[1]->lastSuccessAt.has_value());
    EXPECT_GE(*statusAtPause[1]->lastSuccessAt, before);

    EXPECT_EQ(statusAtPause[2]->state, State::warning);
    EXPECT_EQ(statusAtPause[2]->lastSuccessAt, statusAtPause[1]->lastSuccessAt);
    // The address last pushed, not the one the failing cycle discovered.
    EXPECT_EQ(statusAtPause[2]->lastIpv4, "203.0.113.7");
    EXPECT_EQ(pauses, (std::vector<std::chrono::nanoseconds>{300s, 300s, 300s}));
}

TEST_F(RunCommandTest, DamagedOrMissingEarlierStatusGivesNoLastSuccess) {
    writeConfig(5);
    updater->codes = {DynDnsResponseCode::serverError};
    for (const std::string& earlier : {std::string(), std::string("{\"state\": \"OK\"}")}) {
        statusAtPause.clear();
        std::filesystem::remove(dir / "status.json");
        if (!earlier.empty()) {
            std::ofstream(dir / "status.json") << earlier;
        }
        runDaemon(1);
        ASSERT_EQ(statusAtPause.size(), 1u);
        ASSERT_TRUE(statusAtPause[0].has_value());
        EXPECT_EQ(statusAtPause[0]->state, State::warning);
        EXPECT_EQ(statusAtPause[0]->lastSuccessAt, std::nullopt) << earlier;
    }
}

TEST_F(RunCommandTest, SleepErrorsAreIgnored) {
    writeConfig(2);
    sleepFailure = [] { throw std::runtime_error("cancelled"); };
    resolver->ipv4 = {"203.0.113.7", "203.0.113.42", "203.0.113.43"};

    EXPECT_EQ(runDaemon(3), 0);

    EXPECT_EQ(updater->sent, (std::vector<Address>{"203.0.113.7", "203.0.113.42", "203.0.113.43"}));
    EXPECT_EQ(pauses, (std::vector<std::chrono::nanoseconds>{120s, 120s, 120s}));
}

TEST_F(RunCommandTest, UnusableConfigurationIdlesAndSaysWhy) {
    std::string configPath = (dir / "config.json").string();
    struct Case {
        std::string name;
        std::function<void()> prepare;
        std::string reason;
    };
    std::vector<Case> cases{
        {"missing", [] {},
         "Keine Konfiguration gefunden (" + configPath +
             "). Bitte mit 'sudo korvane-client configure' einrichten."},
        {"a directory", [&] { std::filesystem::create_directory(configPath); },
         "Konfiguration unbrauchbar: " + configPath + ": Is a directory"},
        {"not JSON", [&] { std::ofstream(configPath) << "{hostname"; },
         "Konfiguration unbrauchbar: Konfigurationsdatei ist leer oder ungültig: " + configPath},
        {"both families off", [&] { writeConfig(5, false); },
         "Konfiguration unbrauchbar: Mindestens eine Adressfamilie (IPv4 oder IPv6) muss aktiviert sein."},
        {"interval zero", [&] { writeConfig(0); },
         "Konfiguration unbrauchbar: Update-Intervall muss mindestens 1 Minute(n) betragen."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(configPath);
        c.prepare();
        statusFile.write(earlierStatus());
        events.clear();
        lines.clear();
        pauses.clear();
        statusAtPause.clear();
        Clock::time_point before = floorSeconds(Clock::now());

        EXPECT_EQ(runDaemon(3), 0);

        EXPECT_EQ(lines, (std::vector<std::pair<Level, std::string>>{
                             {Level::info, "korvane-client 0.24.0 startet (Daemon-Modus)."},
                             {Level::error, "korvane-client läuft im Leerlauf — " + c.reason}}));
        EXPECT_EQ(events, (Events{"line", "line", "sleep", "sleep", "sleep"}));
        EXPECT_EQ(pauses, (std::vector<std::chrono::nanoseconds>{1h, 1h, 1h}));
        EXPECT_EQ(collaboratorBuilds, 0);
        EXPECT_EQ(workerStarts, 0);
        ASSERT_EQ(statusAtPause.size(), 3u);
        const std::optional<DaemonStatus>& status = statusAtPause[0];
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(status->state, State::idle);
        EXPECT_EQ(status->message, c.reason);
        EXPECT_EQ(status->hostname, std::nullopt);
        EXPECT_EQ(status->lastIpv4, std::nullopt);
        EXPECT_EQ(status->lastIpv6, std::nullopt);
        EXPECT_EQ(status->lastSuccessAt, at("2020-01-01T00:00:00Z"));
        EXPECT_GE(status->updatedAt, before);
        EXPECT_EQ(status->daemonVersion, "0.24.0");
        // Written once on entering idle mode, never again.
        EXPECT_EQ(statusAtPause[1], status);
        EXPECT_EQ(statusAtPause[2], status);
    }
}

TEST_F(RunCommandTest, IdleRewritesItsStatusWhenTheFileLostIt) {
    sleepFailure = [this] { std::filesystem::remove(dir / "status.json"); };
    EXPECT_EQ(runDaemon(3), 0);
    ASSERT_TRUE(statusAtPause.at(0).has_value());
    EXPECT_EQ(statusAtPause.at(1), statusAtPause[0]);
    EXPECT_EQ(statusAtPause.at(2), statusAtPause[0]);
}

TEST_F(RunCommandTest, IdleSleepsOnThroughSleepErrorsWithoutEarlierStatus) {
    sleepFailure = [] { throw std::runtime_error("cancelled"); };

    EXPECT_EQ(runDaemon(4), 0);

    EXPECT_EQ(pauses, (std::vector<std::chrono::nanoseconds>{1h, 1h, 1h, 1h}));
    ASSERT_TRUE(statusAtPause.at(0).has_value());
    EXPECT_EQ(statusAtPause[0]->state, State::idle);
    EXPECT_EQ(statusAtPause[0]->lastSuccessAt, std::nullopt);
    EXPECT_EQ(events.front(), "line");
    EXPECT_EQ(std::count(events.begin(), events.end(), "resolve"), 0);
}

} // namespace
