// `korvane-client status`: the version, the stored configuration with the key masked, the addresses last
// pushed, whether the published IPv4 reaches this Mac from outside, and the daemon's launchd state. Changes
// nothing and always ends with 0.
#pragma once

#include "config/ClientPaths.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

namespace StatusCommand {

// The launchd job as the report asks after it: its plist, and the launchctl that says whether it is loaded
// within `limit` (a launchctl that hangs, launchd busy or wedged, must not hang the report).
struct LaunchdJob {
    std::filesystem::path plist{ClientPaths::launchdPlist};
    std::string launchctl = "/bin/launchctl";
    std::chrono::milliseconds limit = std::chrono::seconds(10);
};

// The report on the files in `configDir` and on `job`, each part written to `output` as soon as it is known.
int execute(const std::filesystem::path& configDir, const LaunchdJob& job, std::FILE* output);

[[noreturn]] void run();

// One line on the launchd job: not installed, loaded, installed but not loaded, or unknown.
std::string daemonState(const LaunchdJob& job);

} // namespace StatusCommand
