// `korvane-client status`: the version, the stored configuration with the key masked, the addresses last
// pushed and the daemon's launchd state. Changes nothing and always ends with 0.
#pragma once

#include "config/ClientPaths.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>

namespace StatusCommand {

inline constexpr std::string_view launchctlProgram = "/bin/launchctl";

struct Dependencies {
    std::filesystem::path configFile = ClientPaths::configFile();
    std::filesystem::path ipStateFile = ClientPaths::ipStateFile();
    std::filesystem::path launchdPlist{ClientPaths::launchdPlist};
    std::string launchctl{launchctlProgram};
    // A launchctl that hangs (launchd busy or wedged) must not hang the report.
    std::chrono::milliseconds launchctlLimit = std::chrono::seconds(10);
    uid_t effectiveUserId = ::geteuid();
    std::FILE* output = stdout;
};

int execute(const Dependencies& deps = {});

[[noreturn]] void run();

// One line on the launchd job: not installed, loaded, installed but not loaded, or unknown.
std::string daemonState(const Dependencies& deps);

} // namespace StatusCommand
