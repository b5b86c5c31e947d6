#include "commands/OnceCommand.hpp"

#include "OutputStream.hpp"
#include "ProcessExit.hpp"
#include "StdLog.hpp"
#include "config/ClientPaths.hpp"
#include "config/ConfigurationStore.hpp"
#include "cycle/HttpDynDnsUpdateClient.hpp"
#include "cycle/HttpPublicIpResolver.hpp"
#include "cycle/IpStateCache.hpp"
#include "cycle/UpdateOrchestrator.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

namespace OnceCommand {
namespace {

void writeLine(std::FILE* stream, const std::string& text) {
    OutputStream::write(stream, text + "\n");
}

// The validated configuration, or nothing after the error message has been written.
std::optional<ClientConfiguration> loadConfiguration() {
    ConfigurationStore store(ClientPaths::configFile());
    std::optional<ClientConfiguration> config;
    try {
        config = store.loadValidated();
    } catch (const std::exception& error) {
        writeLine(stderr, std::string("Konfiguration unbrauchbar: ") + error.what());
        return std::nullopt;
    }
    if (!config) {
        writeLine(stderr, "Keine Konfiguration gefunden (" + store.path().string() +
                              ") — 'sudo korvane-client configure'.");
    }
    return config;
}

} // namespace

int execute(const std::vector<std::string>& arguments, const Dependencies& deps) {
    for (const std::string& argument : arguments) {
        if (argument != "--force") {
            writeLine(stderr, "Unbekannte Option: " + argument);
            return 64;
        }
    }
    bool force = !arguments.empty();

    std::optional<ClientConfiguration> config = loadConfiguration();
    if (!config) {
        return 1;
    }
    ClientLog log = StdLog::clientLog();
    auto resolver = std::make_shared<HttpPublicIpResolver>(*config, log, deps.discoveryTimeout);
    auto updateClient = std::make_shared<HttpDynDnsUpdateClient>(*config, log, deps.updateSessionTimeout,
                                                                 deps.updateRequestTimeout);
    auto cache = std::make_shared<IpStateCache>(ClientPaths::ipStateFile());
    UpdateOrchestrator orchestrator(resolver, updateClient, cache, *config, log);

    UpdateCycleResult result = orchestrator.runOnce(force);
    writeLine(stdout, result.message);
    return result.isHealthy() ? 0 : 1;
}

void run(const std::vector<std::string>& arguments) {
    ProcessExit::exitWith(execute(arguments));
}

} // namespace OnceCommand
