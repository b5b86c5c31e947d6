// The daemon's second task: looks for a newer release every 12 hours, has it installed, and ends the
// process after a successful installation so that launchd starts the new program.
#pragma once

#include "support/ClientLog.hpp"
#include "support/Clock.hpp"
#include "support/HttpTrust.hpp"

#include <string>

namespace AppUpdateWorker {

// What the worker is built from (ClientRoot).
struct Settings {
    std::string manifestUrl;
    ClientLog log;
    HttpTrust trust;
    const Clock& clock;
};

// Runs the worker on one detached thread and returns at once. The worker never returns: after a successful
// installation it ends the process, without static destructors, while the update loop may be mid-cycle.
void start(Settings settings);

} // namespace AppUpdateWorker
