// `korvane-client once [--force]`: one update cycle in the foreground, its summary on standard output.
#pragma once

#include "wiring/ClientRoot.hpp"

#include <string>
#include <vector>

namespace OnceCommand {

// The exit code: 0 healthy cycle, 1 failed cycle or unusable configuration, 64 unknown option.
int execute(const ClientRoot& root, const std::vector<std::string>& arguments);

[[noreturn]] void run(const ClientRoot& root, const std::vector<std::string>& arguments);

} // namespace OnceCommand
