#include "commands/RunCommand.hpp"

#include "config/ClientPaths.hpp"
#include "config/ConfigDirectory.hpp"
#include "dnscheck/DnsConfirmation.hpp"
#include "process/ProcessExit.hpp"
#include "process/StdLog.hpp"
#include "status/StatusFile.hpp"
#include "support/BuildConstants.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

namespace RunCommand {
namespace {

// A permanent rejection will not pass by itself; asking again every few minutes only hammers the service,
// and services lock an account that keeps failing: each further rejection doubles the pause, up to a day.
constexpr std::int64_t fatalPauseMinutes = 30;
constexpr std::int64_t longestFatalPauseMinutes = 24 * 60;
constexpr std::chrono::hours idlePause(1);

// A longer interval is as good as none; a century keeps every pause's end within the clock's range
// (nanoseconds reach the year 2262).
constexpr std::int64_t longestIntervalMinutes = 100 * 365 * 24 * 60;

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

// The pause after a cycle, in whole minutes: the interval; after `rejections` permanent rejections in a row
// at least 30, doubled for each one after the first, up to a day.
std::int64_t pauseMinutes(std::int64_t minutes, int rejections) {
    if (rejections == 0) {
        return minutes;
    }
    std::int64_t least = fatalPauseMinutes;
    for (int further = 1; further < rejections && least < longestFatalPauseMinutes; ++further) {
        least *= 2;
    }
    return std::max(minutes, std::min(least, longestFatalPauseMinutes));
}

// When the next cycle comes, in local time and the words of the status's messages.
std::string nextTry(TimePoint end) {
    const std::tm then = StdLog::localTime(end);
    char text[64];
    std::snprintf(text, sizeof text, " Nächster Versuch am %02d.%02d. um %02d:%02d.", then.tm_mday,
                  then.tm_mon + 1, then.tm_hour, then.tm_min);
    return text;
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
    while (root.edges().keepRunning()) {
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
    root.edges().startSelfUpdater();

    // At least the least interval (validated); logged as configured, the pauses use the bound.
    const std::int64_t interval = std::min(config.updateIntervalMinutes, longestIntervalMinutes);
    root.log().info("Update-Worker gestartet (Intervall " + std::to_string(config.updateIntervalMinutes) +
                    " min, Host " + config.hostname + ").");
    NetworkAwarePause watch = root.networkWatch();
    // Permanent rejections in a row. Only an accepted answer ends the row: the loop holds one configuration
    // for its life, and a new one comes with a new start.
    int rejections = 0;

    while (root.edges().keepRunning()) {
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
        const bool fatal = result.status == UpdateCycleStatus::fatalError;
        if (fatal) {
            ++rejections;
        } else if (result.isHealthy() && result.response) {
            rejections = 0;
        }
        const std::int64_t minutes = pauseMinutes(interval, fatal ? rejections : 0);
        // After a rejection the pause begins before the status is written, which says when it ends.
        std::optional<TimePoint> fatalEnd;
        if (fatal) {
            fatalEnd = watch.begin(std::chrono::minutes(minutes), false);
        }
        DaemonStatus status{stateFor(result.status),
                            result.message + (fatal ? nextTry(*fatalEnd) : ""),
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
        if (fatal) {
            root.log().error("Fataler Fehler — nächster Versuch in " + std::to_string(minutes) +
                             " min: " + result.message);
        } else {
            watch.begin(std::chrono::minutes(minutes), true);
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
