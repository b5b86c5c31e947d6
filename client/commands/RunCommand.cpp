#include "commands/RunCommand.hpp"

#include "Pause.hpp"
#include "ProcessExit.hpp"
#include "config/ClientPaths.hpp"
#include "config/ConfigDirectory.hpp"
#include "dnscheck/DnsConfirmation.hpp"
#include "status/DaemonStatus.hpp"

#include <algorithm>
#include <optional>
#include <string>

namespace RunCommand {
namespace {

// A permanent rejection will not pass by itself; asking again every few minutes only hammers the service.
constexpr std::int64_t fatalPauseMinutes = 30;
constexpr std::chrono::hours idlePause(1);

// Longest pause the daemon sleeps: the most whole minutes whose nanoseconds fit std::chrono::nanoseconds.
constexpr std::int64_t maxPauseMinutes =
    std::chrono::nanoseconds::max().count() / std::chrono::nanoseconds(std::chrono::minutes(1)).count();

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

// The pause after a cycle, in whole minutes: the interval (at least the configuration's minimum), at least
// 30 after a permanent rejection, never more than maxPauseMinutes.
std::int64_t pauseMinutes(std::int64_t intervalMinutes, UpdateCycleStatus status) {
    std::int64_t minutes =
        std::clamp<std::int64_t>(intervalMinutes, ClientConfiguration::minIntervalMinutes, maxPauseMinutes);
    if (status == UpdateCycleStatus::fatalError) {
        minutes = std::max(minutes, fatalPauseMinutes);
    }
    return minutes;
}

// The update loop's pause: on the wall clock, and ended early by a settled network change unless the cycle
// was permanently rejected (a wrong key must not hammer the service). Says why when a cycle comes early, and
// returns true then.
bool pauseBeforeNextCycle(const ClientLog& log, NetworkAwarePause& watch, std::chrono::nanoseconds length,
                          UpdateCycleStatus status) {
    switch (watch.wait(length, status != UpdateCycleStatus::fatalError)) {
    case NetworkAwarePause::End::networkChange:
        log.info("Netzwerkänderung erkannt — Aktualisierung vorgezogen.");
        return true;
    case NetworkAwarePause::End::wake:
        log.info("Ruhezustand beendet — Aktualisierung vorgezogen.");
        return true;
    case NetworkAwarePause::End::interval:
        break;
    }
    return false;
}

// The end of a pause starting at `now`; the clock's last moment for one that reaches past it (the longest
// interval is centuries).
TimePoint endOfPause(TimePoint now, std::chrono::nanoseconds length) {
    const auto span = std::chrono::duration_cast<TimePoint::duration>(length);
    return span >= TimePoint::max() - now ? TimePoint::max() : now + span;
}

// The pause, interrupted for the name servers' second looks after an update: a long interval must not
// leave a pending record unconfirmed for hours.
void pauseWithRetries(const ClientRoot& root, NetworkAwarePause& watch, std::chrono::minutes length,
                      UpdateCycleStatus status, DnsConfirmation& confirmation) {
    const TimePoint end = endOfPause(root.clock().now(), length);
    while (std::optional<TimePoint> due = confirmation.nextRetry()) {
        if (*due >= end) {
            break;
        }
        std::chrono::nanoseconds wait = *due - root.clock().now();
        if (wait.count() > 0 && pauseBeforeNextCycle(root.log(), watch, wait, status)) {
            return;
        }
        confirmation.retry();
    }
    std::chrono::nanoseconds rest = end - root.clock().now();
    if (rest.count() > 0) {
        pauseBeforeNextCycle(root.log(), watch, rest, status);
    }
}

std::optional<TimePoint> previousLastSuccess(const StatusFile& statusFile) {
    std::optional<DaemonStatus> previous = statusFile.load();
    return previous ? previous->lastSuccessAt : std::nullopt;
}

int idle(const std::string& reason, const ClientRoot& root) {
    root.log().error("korvane-client läuft im Leerlauf — " + reason);
    StatusFile statusFile(ClientPaths::statusFile());
    DaemonStatus status{DaemonStatus::State::idle, reason, std::nullopt, std::nullopt, std::nullopt,
                        previousLastSuccess(statusFile),
                        // Whole seconds, as the file holds them, so the record compares equal to its reading.
                        std::chrono::floor<std::chrono::seconds>(root.clock().now()),
                        std::string(ClientVersion::current)};
    statusFile.write(status);
    while (root.keepRunning()) {
        Pause::tolerant(root.clock().sleep, idlePause);
        ConfigDirectory::sweepLeftovers(ClientPaths::configDir());
        // One failed write must not leave an older status on display for good.
        if (statusFile.load() != status) {
            statusFile.write(status);
        }
    }
    return 0;
}

int updateLoop(const ClientConfiguration& config, const ClientRoot& root) {
    StatusFile statusFile(ClientPaths::statusFile());
    std::optional<TimePoint> lastSuccessAt = previousLastSuccess(statusFile);
    UpdateCycle cycle = root.updateCycle(config);
    DnsConfirmation confirmation = root.dnsConfirmation(config);

    // The app-update worker runs on this path only, never in idle mode; it is never waited for.
    root.startSelfUpdater();

    std::int64_t interval = pauseMinutes(config.updateIntervalMinutes, UpdateCycleStatus::unchanged);
    root.log().info("Update-Worker gestartet (Intervall " + std::to_string(interval) + " min, Host " +
                    config.hostname + ").");
    NetworkAwarePause watch = root.networkWatch();

    while (root.keepRunning()) {
        // A daemon runs for months: what a later kill storm leaves must not wait for the next start.
        ConfigDirectory::sweepLeftovers(ClientPaths::configDir());
        if (confirmation.takeRepair()) {
            cycle.orchestrator.requestRepush();
        }
        UpdateCycleResult result = cycle.orchestrator.runOnce(false);
        if (result.isHealthy()) {
            lastSuccessAt = result.timestamp;
        }
        statusFile.write(DaemonStatus{stateFor(result.status), result.message, config.hostname,
                                      cycle.cache->lastIpv4(), cycle.cache->lastIpv6(), lastSuccessAt,
                                      root.clock().now(), std::string(ClientVersion::current)});
        if (result.isHealthy()) {
            // An accepted answer means the service has the addresses now: give it time to publish them.
            confirmation.afterCycle(result.response.has_value(), cycle.orchestrator.lastFound());
        }
        std::int64_t minutes = pauseMinutes(config.updateIntervalMinutes, result.status);
        if (result.status == UpdateCycleStatus::fatalError) {
            root.log().error("Fataler Fehler — nächster Versuch in " + std::to_string(minutes) +
                             " min: " + result.message);
            confirmation.holdRepairsUntil(endOfPause(root.clock().now(), std::chrono::minutes(minutes)));
        }
        // pauseMinutes keeps this within what std::chrono::nanoseconds can hold.
        pauseWithRetries(root, watch, std::chrono::minutes(minutes), result.status, confirmation);
    }
    return 0;
}

} // namespace

int execute(const ClientRoot& root) {
    root.log().info("korvane-client " + std::string(ClientVersion::current) + " startet (Daemon-Modus).");
    std::filesystem::path configDir = ClientPaths::configDir();
    // Said, not repaired: the administrator may have opened it on purpose.
    if (ConfigDirectory::othersMayWrite(configDir)) {
        root.log().warn("Konfigurationsverzeichnis für andere Benutzer beschreibbar: " + configDir.string() +
                        " — Rechte prüfen.");
    }
    ConfigDirectory::sweepLeftovers(configDir);
    LoadedConfiguration loaded =
        root.loadConfiguration(". Bitte mit 'sudo korvane-client configure' einrichten.");
    if (!loaded.config) {
        return idle(loaded.problem, root);
    }
    return updateLoop(*loaded.config, root);
}

void run() {
    ProcessExit::exitWith(execute(ClientRoot()));
}

} // namespace RunCommand
