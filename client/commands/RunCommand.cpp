#include "commands/RunCommand.hpp"

#include "Pause.hpp"
#include "ProcessExit.hpp"
#include "config/ClientPaths.hpp"
#include "config/ConfigDirectory.hpp"
#include "config/ConfigurationStore.hpp"
#include "cycle/HttpDynDnsUpdateClient.hpp"
#include "cycle/HttpPublicIpResolver.hpp"
#include "cycle/IpStateCache.hpp"
#include "network/NetworkAwarePause.hpp"
#include "status/DaemonStatus.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <thread>

namespace RunCommand {
namespace {

// A permanent rejection will not pass by itself; asking again every few minutes only hammers the service.
constexpr std::int64_t fatalPauseMinutes = 30;
constexpr std::chrono::hours idlePause(1);

using TimePoint = std::chrono::system_clock::time_point;

// What the menu bar shows for a cycle's outcome.
DaemonStatus::State stateFor(UpdateCycleStatus status) {
    switch (status) {
    case UpdateCycleStatus::updated:
    case UpdateCycleStatus::unchanged:
        return DaemonStatus::State::ok;
    case UpdateCycleStatus::fatalError:
        return DaemonStatus::State::error;
    case UpdateCycleStatus::noPublicIp:
    case UpdateCycleStatus::transientError:
        return DaemonStatus::State::warning;
    }
    return DaemonStatus::State::warning;
}

// The validated configuration, or the reason the daemon has to idle.
struct LoadOutcome {
    std::optional<ClientConfiguration> config;
    std::string idleReason;
};

LoadOutcome loadConfiguration() {
    ConfigurationStore store(ClientPaths::configFile());
    std::optional<ClientConfiguration> config;
    try {
        config = store.loadValidated();
    } catch (const std::exception& error) {
        return {std::nullopt, std::string("Konfiguration unbrauchbar: ") + error.what()};
    }
    if (!config) {
        return {std::nullopt, "Keine Konfiguration gefunden (" + store.path().string() +
                                  "). Bitte mit 'sudo korvane-client configure' einrichten."};
    }
    return {config, {}};
}

// The update loop's pause: on the wall clock, and ended early by a settled network change unless the cycle
// was permanently rejected (a wrong key must not hammer the service). Says why when a cycle comes early.
void pauseBeforeNextCycle(const Dependencies& deps, NetworkAwarePause* watched, std::chrono::minutes length,
                          UpdateCycleStatus status) {
    if (watched == nullptr) {
        Pause::tolerant(deps.sleep, length);
        return;
    }
    switch (watched->wait(length, status != UpdateCycleStatus::fatalError)) {
    case NetworkAwarePause::End::networkChange:
        deps.logLine(ClientLog::Level::info, "Netzwerkänderung erkannt — Aktualisierung vorgezogen.");
        break;
    case NetworkAwarePause::End::wake:
        deps.logLine(ClientLog::Level::info, "Ruhezustand beendet — Aktualisierung vorgezogen.");
        break;
    case NetworkAwarePause::End::interval:
        break;
    }
}

std::optional<TimePoint> previousLastSuccess(const StatusFile& statusFile) {
    std::optional<DaemonStatus> previous = statusFile.load();
    return previous ? previous->lastSuccessAt : std::nullopt;
}

int idle(const std::string& reason, const Dependencies& deps) {
    deps.logLine(ClientLog::Level::error, "korvane-client läuft im Leerlauf — " + reason);
    StatusFile statusFile(ClientPaths::statusFile());
    DaemonStatus status{DaemonStatus::State::idle, reason, std::nullopt, std::nullopt, std::nullopt,
                        previousLastSuccess(statusFile),
                        // Whole seconds, as the file holds them, so the record compares equal to its reading.
                        std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()),
                        std::string(ClientVersion::current)};
    statusFile.write(status);
    while (deps.keepRunning()) {
        Pause::tolerant(deps.sleep, idlePause);
        ConfigDirectory::sweepLeftovers(ClientPaths::configDir());
        // One failed write must not leave an older status on display for good.
        if (statusFile.load() != status) {
            statusFile.write(status);
        }
    }
    return 0;
}

int updateLoop(const ClientConfiguration& config, const Dependencies& deps) {
    StatusFile statusFile(ClientPaths::statusFile());
    std::optional<TimePoint> lastSuccessAt = previousLastSuccess(statusFile);

    ClientLog log = StdLog::withoutDebug(deps.logLine);
    auto cache = std::make_shared<IpStateCache>(ClientPaths::ipStateFile());
    Collaborators collaborators = deps.makeCollaborators(config, log);
    UpdateOrchestrator orchestrator(collaborators.resolver, collaborators.updateClient, cache, config, log);

    // The app-update worker runs on this path only, never in idle mode; it is never waited for.
    deps.startAppUpdateWorker();

    std::int64_t interval = pauseMinutes(config.updateIntervalMinutes, UpdateCycleStatus::unchanged);
    deps.logLine(ClientLog::Level::info, "Update-Worker gestartet (Intervall " + std::to_string(interval) +
                                             " min, Host " + config.hostname + ").");
    // Opened before the first cycle, so that a change during it is not missed.
    std::unique_ptr<NetworkAwarePause> watched;
    if (std::unique_ptr<NetworkChangeSource> source = deps.watchNetwork(deps.logLine)) {
        watched = std::make_unique<NetworkAwarePause>(std::move(source));
    }

    while (deps.keepRunning()) {
        // A daemon runs for months: what a later kill storm leaves must not wait for the next start.
        ConfigDirectory::sweepLeftovers(ClientPaths::configDir());
        UpdateCycleResult result = orchestrator.runOnce(false);
        if (result.isHealthy()) {
            lastSuccessAt = result.timestamp;
        }
        statusFile.write(DaemonStatus{stateFor(result.status), result.message, config.hostname,
                                      cache->lastIpv4(), cache->lastIpv6(), lastSuccessAt,
                                      std::chrono::system_clock::now(), std::string(ClientVersion::current)});
        std::int64_t minutes = pauseMinutes(config.updateIntervalMinutes, result.status);
        if (result.status == UpdateCycleStatus::fatalError) {
            deps.logLine(ClientLog::Level::error, "Fataler Fehler — nächster Versuch in " +
                                                      std::to_string(minutes) + " min: " + result.message);
        }
        // pauseMinutes keeps this within what std::chrono::nanoseconds can hold.
        pauseBeforeNextCycle(deps, watched.get(), std::chrono::minutes(minutes), result.status);
    }
    return 0;
}

} // namespace

Collaborators httpCollaborators(const ClientConfiguration& config, const ClientLog& log) {
    return {std::make_shared<HttpPublicIpResolver>(config, log),
            std::make_shared<HttpDynDnsUpdateClient>(config, log)};
}

std::int64_t pauseMinutes(std::int64_t intervalMinutes, UpdateCycleStatus status) {
    std::int64_t minutes = std::clamp<std::int64_t>(intervalMinutes, 1, maxPauseMinutes);
    if (status == UpdateCycleStatus::fatalError) {
        minutes = std::max(minutes, fatalPauseMinutes);
    }
    return minutes;
}

int execute(const Dependencies& deps) {
    deps.logLine(ClientLog::Level::info,
                 "korvane-client " + std::string(ClientVersion::current) + " startet (Daemon-Modus).");
    std::filesystem::path configDir = ClientPaths::configDir();
    // Said, not repaired: the administrator may have opened it on purpose.
    if (ConfigDirectory::othersMayWrite(configDir)) {
        deps.logLine(ClientLog::Level::warn, "Konfigurationsverzeichnis für andere Benutzer beschreibbar: " +
                                                 configDir.string() + " — Rechte prüfen.");
    }
    ConfigDirectory::sweepLeftovers(configDir);
    LoadOutcome loaded = loadConfiguration();
    if (!loaded.config) {
        return idle(loaded.idleReason, deps);
    }
    return updateLoop(*loaded.config, deps);
}

void run() {
    ProcessExit::exitWith(execute());
}

} // namespace RunCommand
