// `korvane-client once [--force]`: one update cycle in the foreground, its summary on standard output.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace OnceCommand {

// What a test may change; the defaults are the product's values.
struct Dependencies {
    std::chrono::milliseconds discoveryTimeout = std::chrono::seconds(10);
    std::chrono::milliseconds updateSessionTimeout = std::chrono::seconds(15);
    std::chrono::milliseconds updateRequestTimeout = std::chrono::seconds(60);
};

// The exit code: 0 healthy cycle, 1 failed cycle or unusable configuration, 64 unknown option.
int execute(const std::vector<std::string>& arguments, const Dependencies& deps = {});

[[noreturn]] void run(const std::vector<std::string>& arguments);

} // namespace OnceCommand
