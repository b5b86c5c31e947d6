#include "commands/RunCommand.hpp"

#include "Pause.hpp"
#include "ProcessExit.hpp"
#include "config/ClientPaths.hpp"
#include "config/ConfigDirectory.hpp"
#include "config/ConfigurationStore.hpp"
#include "cycle/HttpDynDnsUpdateClient.hpp"
#include "cycle/HttpPublicIpResolver.hpp"
#include "cycle/IpStateCache.hpp"
#include "dnscheck/DnsConfirmation.hpp"
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
// was permanently rejected (a wrong key must not hammer the service). Says why when a cycle comes early, and
// returns true then.
bool pauseBeforeNextCycle(const Dependencies& deps, NetworkAwarePause* watched,
                          std::chrono::nanoseconds length, UpdateCycleStatus status) {
    if (watched == nullptr) {
        Pause::tolerant(deps.sleep, length);
        return false;
    }
    switch (watched->wait(length, status != UpdateCycleStatus::fatalError)) {
    case NetworkAwarePause::End::networkChange:
        deps.logLine(ClientLog::Level::info, "Netzwerkänderung erkannt — Aktualisierung vorgezogen.");
        return true;
    case NetworkAwarePause::End::wake:
        deps.logLine(ClientLog::Level::info, "Ruhezustand beendet — Aktualisierung vorgezogen.");
        return true;
    case NetworkAwarePause::End::interval:
        break;
    }
    return false;
}

// The end of a pause starting now; the clock's last moment for one that reaches past it (the longest
// interval is centuries).
TimePoint endOfPause(std::chrono::nanoseconds length) {
    const TimePoint now = std::chrono::system_clock::now();
    const auto span = std::chrono::duration_cast<TimePoint::duration>(length);
    return span >= TimePoint::max() - now ? TimePoint::max() : now + span;
}

// The pause, interrupted for the name servers' second looks after an update: a long interval must not
// leave a pending record unconfirmed for hours.
void pauseWithRetries(const Dependencies& deps, NetworkAwarePause* watched, std::chrono::minutes length,
                      UpdateCycleStatus status, DnsConfirmation& confirmation) {
    const TimePoint end = endOfPause(length);
    while (std::optional<TimePoint> due = confirmation.nextRetry()) {
        if (*due >= end) {
            break;
        }
        std::chrono::nanoseconds wait = *due - std::chrono::system_clock::now();
        if (wait.count() > 0 && pauseBeforeNextCycle(deps, watched, wait, status)) {
            return;
        }
        confirmation.retry();
    }
    std::chrono::nanoseconds rest = end - std::chrono::system_clock::now();
    if (rest.count() > 0) {
        pauseBeforeNextCycle(deps, watched, rest, status);
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
    DnsConfirmation confirmation(deps.makeConfirmer(config), DnsCheckFile(ClientPaths::dnsCheckFile()), log);

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
        if (confirmation.takeRepair()) {
            orchestrator.requestRepush();
        }
        UpdateCycleResult result = orchestrator.runOnce(false);
        if (result.isHealthy()) {
            lastSuccessAt = result.timestamp;
        }
        statusFile.write(DaemonStatus{stateFor(result.status), result.message, config.hostname,
                                      cache->lastIpv4(), cache->lastIpv6(), lastSuccessAt,
                                      std::chrono::system_clock::now(), std::string(ClientVersion::current)});
        if (result.isHealthy()) {
            // An accepted answer means the service has the addresses now: give it time to publish them.
            confirmation.afterCycle(result.response.has_value(), orchestrator.lastFound());
        }
        std::int64_t minutes = pauseMinutes(config.updateIntervalMinutes, result.status);
        if (result.status == UpdateCycleStatus::fatalError) {
            deps.logLine(ClientLog::Level::error, "Fataler Fehler — nächster Versuch in " +
                                                      std::to_string(minutes) + " min: " + result.message);
            confirmation.holdRepairsUntil(endOfPause(std::chrono::minutes(minutes)));
        }
        // pauseMinutes keeps this within what std::chrono::nanoseconds can hold.
        pauseWithRetries(deps, watched.get(), std::chrono::minutes(minutes), result.status, confirmation);
    }
    return 0;
}

} // namespace

std::shared_ptr<HostConfirming> resolverConfirmer(const ClientConfiguration& config) {
    return std::make_shared<ResolverHostConfirmer>(config.hostname);
}

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
