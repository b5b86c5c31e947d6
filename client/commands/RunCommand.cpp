#include "commands/RunCommand.hpp"

#include "config/ClientPaths.hpp"
#include "config/ConfigDirectory.hpp"
#include "dnscheck/DnsConfirmation.hpp"
#include "process/Pause.hpp"
#include "process/ProcessExit.hpp"
#include "status/StatusFile.hpp"
#include "support/BuildConstants.hpp"

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

// The pause after a cycle, interrupted for the name servers' second looks after an update (a long interval
// must not leave a pending record unconfirmed for hours). On the wall clock, and ended early by a settled
// network change unless the cycle was permanently rejected (a wrong key must not hammer the service); says
// why when the next cycle comes early. A network change leaves what the router said to the network before.
void pauseWithRetries(const ClientLog& log, NetworkAwarePause& watch, DnsConfirmation& confirmation,
                      ReachabilityWatch& reachability) {
    for (;;) {
        switch (watch.wait(confirmation.nextRetry())) {
        case NetworkAwarePause::End::stop:
            confirmation.retry();
            break;
        case NetworkAwarePause::End::networkChange:
            log.info("Netzwerkänderung erkannt — Aktualisierung vorgezogen.");
            reachability.networkChanged();
            return;
        case NetworkAwarePause::End::wake:
            log.info("Ruhezustand beendet — Aktualisierung vorgezogen.");
            return;
        case NetworkAwarePause::End::interval:
            return;
        }
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
        root.clock().sleep(idlePause);
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
    ReachabilityWatch reachability = root.reachabilityWatch();

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
        const TimePoint finished = root.clock().now();
        if (result.isHealthy()) {
            lastSuccessAt = finished;
        }
        DaemonStatus status{stateFor(result.status),
                            result.message,
                            config.hostname,
                            cycle.cache->last().ipv4,
                            cycle.cache->last().ipv6,
                            lastSuccessAt,
                            finished,
                            std::string(ClientVersion::current),
                            reachability.verdict(),
                            reachability.routerIpv4()};
        statusFile.write(status);
        if (result.isHealthy()) {
            // An accepted answer means the service has the addresses now: give it time to publish them.
            confirmation.afterCycle(result.response.has_value(), cycle.orchestrator.lastFound());
        }
        std::int64_t minutes = pauseMinutes(config.updateIntervalMinutes, result.status);
        bool fatal = result.status == UpdateCycleStatus::fatalError;
        // pauseMinutes keeps this within what std::chrono::nanoseconds can hold.
        TimePoint end = watch.begin(std::chrono::minutes(minutes), !fatal);
        if (fatal) {
            root.log().error("Fataler Fehler — nächster Versuch in " + std::to_string(minutes) +
                             " min: " + result.message);
            confirmation.holdRepairsUntil(end);
        }
        // Inside the pause, after the cycle's record is out: a router that never answers moves no cycle, and
        // a network change while it is asked still ends the pause.
        if (reachability.afterCycle(cycle.orchestrator.lastFound().ipv4)) {
            status.reachability = reachability.verdict();
            status.routerIpv4 = reachability.routerIpv4();
            statusFile.write(status);
        }
        pauseWithRetries(root.log(), watch, confirmation, reachability);
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
    Expected<ClientConfiguration> loaded =
        root.loadConfiguration(". Bitte mit 'sudo korvane-client configure' einrichten.");
    if (!loaded) {
        return idle(loaded.failure().text, root);
    }
    return updateLoop(*loaded, root);
}

void run(const ClientRoot& root) {
    ProcessExit::exitWith(execute(root));
}

} // namespace RunCommand
