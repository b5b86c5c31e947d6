// `korvane-client status`: the version, the stored configuration with the key masked, the addresses last
// pushed, whether the published IPv4 reaches this Mac from outside, and the daemon's launchd state. Changes
// nothing and always ends with 0.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace StatusCommand {

inline constexpr std::string_view launchctlProgram = "/bin/launchctl";

// What the report reads; run() takes the program's own.
struct Dependencies {
    std::filesystem::path configFile;
    std::filesystem::path ipStateFile;
    std::filesystem::path launchdPlist;
    std::string launchctl{launchctlProgram};
    // A launchctl that hangs (launchd busy or wedged) must not hang the report.
    std::chrono::milliseconds launchctlLimit = std::chrono::seconds(10);
    uid_t effectiveUserId = 0;
    std::FILE* output = stdout;
    // The daemon's status file, for what the home router says of the published IPv4 address.
    std::filesystem::path statusFile{};
};

int execute(const Dependencies& deps);

[[noreturn]] void run();

// One line on the launchd job: not installed, loaded, installed but not loaded, or unknown.
std::string daemonState(const Dependencies& deps);

} // namespace StatusCommand
