#include "commands/OnceCommand.hpp"

#include "process/OutputStream.hpp"
#include "process/ProcessExit.hpp"

#include <cstdio>

namespace OnceCommand {
namespace {

void writeLine(std::FILE* stream, const std::string& text) {
    OutputStream::write(stream, text + "\n");
}

} // namespace

int execute(const ClientRoot& root, const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument != "--force") {
            writeLine(stderr, "Unbekannte Option: " + argument);
            return 64;
        }
    }
    bool force = !arguments.empty();

    Expected<ClientConfiguration> loaded = root.loadConfiguration(" — 'sudo korvane-client configure'.");
    if (!loaded) {
        writeLine(stderr, loaded.failure().text);
        return 1;
    }
    UpdateCycle cycle = root.updateCycle(*loaded);
    UpdateCycleResult result = cycle.orchestrator.runOnce(force);
    writeLine(stdout, result.message);
    // Its one line, when a router answered, comes through the log.
    root.reachabilityWatch().afterCycle(cycle.orchestrator.lastFound().ipv4);
    return result.isHealthy() ? 0 : 1;
}

void run(const ClientRoot& root, const std::vector<std::string>& arguments) {
    ProcessExit::exitWith(execute(root, arguments));
}

} // namespace OnceCommand
