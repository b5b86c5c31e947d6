// `korvane-client configure`: creates or changes config.json from the stored values, the options and
// what is asked for interactively, then forgets the last pushed addresses so the next cycle pushes, and the
// last DNS outcome, which may be another host's.
#pragma once

#include "config/ClientPaths.hpp"

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace ConfigureCommand {

struct Dependencies {
    std::filesystem::path configDir = ClientPaths::configDir();
    std::filesystem::path configFile = ClientPaths::configFile();
    std::filesystem::path ipStateFile = ClientPaths::ipStateFile();
    std::filesystem::path dnsCheckFile = ClientPaths::dnsCheckFile();
    // Only whether it exists matters: it decides if the restart hint is shown.
    std::filesystem::path launchdPlist{ClientPaths::launchdPlist};
    uid_t effectiveUserId = ::geteuid();
    int input = STDIN_FILENO;
    std::FILE* output = stdout;
    std::FILE* errors = stderr;
};

// The arguments after "configure". Returns 0 (saved), 1 (invalid or not saved) or 64 (usage error).
int execute(const std::vector<std::string>& arguments, const Dependencies& deps = {});

[[noreturn]] void run(const std::vector<std::string>& arguments);

} // namespace ConfigureCommand
