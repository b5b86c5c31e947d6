// `korvane-client run`: the launchd daemon. One update cycle per interval, each outcome published in
// status.json; without a usable configuration it idles and publishes why.
#pragma once

#include "Pause.hpp"
#include "StdLog.hpp"
#include "config/ClientConfiguration.hpp"
#include "config/ClientLog.hpp"
#include "cycle/DynDnsUpdating.hpp"
#include "cycle/PublicIpResolving.hpp"
#include "cycle/UpdateOrchestrator.hpp"
#include "dnscheck/HostConfirmer.hpp"
#include "network/NetworkChangeSource.hpp"
#include "selfupdate/AppUpdateWorker.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace RunCommand {

// The orchestrator's network side, built once per process from the loaded configuration.
struct Collaborators {
    std::shared_ptr<PublicIpResolving> resolver;
    std::shared_ptr<DynDnsUpdating> updateClient;
};

// HttpPublicIpResolver and HttpDynDnsUpdateClient with the product's timeouts.
Collaborators httpCollaborators(const ClientConfiguration& config, const ClientLog& log);

// Asks the host's authoritative name servers through the system's resolver library.
std::shared_ptr<HostConfirming> resolverConfirmer(const ClientConfiguration& config);

// What a test may replace; the defaults are the product's behaviour.
struct Dependencies {
    std::function<void(std::chrono::nanoseconds)> sleep = Pause::sleepFor;
    std::function<Collaborators(const ClientConfiguration&, const ClientLog&)> makeCollaborators =
        httpCollaborators;
    // Asked before every cycle and every idle sleep; the daemon itself never stops.
    std::function<bool()> keepRunning = [] { return true; };
    // Started once, after a valid configuration was loaded and before the first cycle; never in idle mode.
    std::function<void()> startAppUpdateWorker = [] { AppUpdateWorker::start(); };
    // The daemon's own lines; the core objects get the same sink without debug.
    std::function<void(ClientLog::Level, std::string_view)> logLine = StdLog::line;
    // Watched between cycles so that a network change brings the next cycle forward; opened once, before
    // the first cycle. Without a source the pause is one plain `sleep`.
    std::function<std::unique_ptr<NetworkChangeSource>(
        const std::function<void(ClientLog::Level, std::string_view)>&)>
        watchNetwork = openNetworkChangeSource;
    // Confirms after each healthy cycle what the name servers serve for the host.
    std::function<std::shared_ptr<HostConfirming>(const ClientConfiguration&)> makeConfirmer =
        resolverConfirmer;
};

// Longest pause the daemon sleeps: the most whole minutes whose nanoseconds fit std::chrono::nanoseconds.
inline constexpr std::int64_t maxPauseMinutes =
    std::chrono::nanoseconds::max().count() / std::chrono::nanoseconds(std::chrono::minutes(1)).count();

// The pause after a cycle, in whole minutes: the interval (at least 1), at least 30 after a permanent
// rejection, never more than maxPauseMinutes.
std::int64_t pauseMinutes(std::int64_t intervalMinutes, UpdateCycleStatus status);

// Returns only when keepRunning says stop (tests); the exit code is then 0.
int execute(const Dependencies& deps = {});

// Never returns.
[[noreturn]] void run();

} // namespace RunCommand
