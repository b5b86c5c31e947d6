// The daemon's second task: looks for a newer release every 12 hours, has it installed, and ends the
// process after a successful installation so that launchd starts the new program.
#pragma once

#include "Pause.hpp"
#include "ProcessExit.hpp"
#include "selfupdate/PkgAutoUpdater.hpp"

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace AppUpdateWorker {

// KORVANE_UPDATE_MANIFEST_URL when set and not empty, else the built-in manifest address.
std::string defaultManifestUrl();

// What a test may replace; the defaults are the product's behaviour.
struct Dependencies {
    std::function<void(std::chrono::nanoseconds)> sleep = Pause::sleepFor;
    std::chrono::nanoseconds startDelay = std::chrono::seconds(120);
    std::chrono::nanoseconds checkInterval = std::chrono::hours(12);
    // Does not return in the product; when a test's hook returns, the worker ends.
    // No static destructor may run while the update loop is in the middle of a cycle.
    std::function<void(int)> exit = ProcessExit::exitNow;
    std::string manifestUrl = defaultManifestUrl();
    PkgAutoUpdater::Options installer;
    // Asked before every check: false ends the worker (the daemon itself never stops it).
    std::function<bool()> keepRunning = [] { return true; };
};

// The worker's body; returns only when keepRunning says stop or the exit hook returned.
void autoUpdateLoop(const Dependencies& deps = {});

// Runs autoUpdateLoop on one detached thread and returns at once.
void start(Dependencies deps = {});

} // namespace AppUpdateWorker
