// `korvane-client run`: the launchd daemon. One update cycle per interval, each outcome published in
// status.json; without a usable configuration it idles and publishes why.
#pragma once

#include "wiring/ClientRoot.hpp"

namespace RunCommand {

// Returns only when the edges' keepRunning says stop (tests); the exit code is then 0.
int execute(const ClientRoot& root);

// Never returns.
[[noreturn]] void run(const ClientRoot& root);

} // namespace RunCommand
