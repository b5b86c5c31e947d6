// `korvane-client run`: the launchd daemon. One update cycle per interval, each outcome published in
// status.json; without a usable configuration it idles and publishes why.
#pragma once

#include "ClientRoot.hpp"
#include "cycle/UpdateOrchestrator.hpp"

#include <chrono>
#include <cstdint>

namespace RunCommand {

// Longest pause the daemon sleeps: the most whole minutes whose nanoseconds fit std::chrono::nanoseconds.
inline constexpr std::int64_t maxPauseMinutes =
    std::chrono::nanoseconds::max().count() / std::chrono::nanoseconds(std::chrono::minutes(1)).count();

// The pause after a cycle, in whole minutes: the interval (at least the configuration's minimum), at least
// 30 after a permanent rejection, never more than maxPauseMinutes.
std::int64_t pauseMinutes(std::int64_t intervalMinutes, UpdateCycleStatus status);

// Returns only when the root's keepRunning says stop (tests); the exit code is then 0.
int execute(const ClientRoot& root);

// Never returns.
[[noreturn]] void run();

} // namespace RunCommand
