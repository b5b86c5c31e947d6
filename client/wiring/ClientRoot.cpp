#include "wiring/ClientRoot.hpp"

#include "config/ClientPaths.hpp"
#include "config/ConfigurationStore.hpp"
#include "process/StdLog.hpp"

#include <utility>

ClientRoot::ClientRoot(ClientLog log, const Clock& clock, const ClientEdges& edges)
    : log_(std::move(log)), clock_(clock), edges_(edges) {}

ClientRoot::ClientRoot(ClientLog log, std::unique_ptr<const ClientEdges> edges)
    : log_(std::move(log)), clock_(Clock::system()), ownEdges_(std::move(edges)), edges_(*ownEdges_) {}

ClientRoot ClientRoot::withSystemEdges(ClientLog log) {
    auto edges = std::make_unique<SystemEdges>(log, Clock::system(), ServiceEndpoints::fromEnvironment(),
                                               HttpTrust::fromEnvironment());
    return ClientRoot(std::move(log), std::move(edges));
}

ClientRoot ClientRoot::forCommand() {
    return withSystemEdges(StdLog::clientLog());
}

ClientRoot ClientRoot::forDaemon() {
    return withSystemEdges(StdLog::daemonLog(ClientPaths::daemonLogFile()));
}

Expected<ClientConfiguration> ClientRoot::loadConfiguration(std::string_view missingHint) const {
    ConfigurationStore store(ClientPaths::configFile());
    Expected<std::optional<ClientConfiguration>> config = store.loadValidated();
    if (!config) {
        return Failure{"Konfiguration unbrauchbar: " + config.failure().text};
    }
    if (!*config) {
        return Failure{"Keine Konfiguration gefunden (" + store.path().string() + ")" +
                       std::string(missingHint)};
    }
    return **config;
}

UpdateCycle ClientRoot::updateCycle(const ClientConfiguration& config) const {
    auto cache = std::make_shared<IpStateCache>(ClientPaths::ipStateFile(), config.hostname);
    return {cache,
            UpdateOrchestrator(edges_.resolver(config), edges_.updateClient(config), cache, config, log_)};
}

NetworkAwarePause ClientRoot::networkWatch() const {
    return NetworkAwarePause(edges_.networkChangeSource(), clock_);
}

DnsConfirmation ClientRoot::dnsConfirmation(const ClientConfiguration& config) const {
    return DnsConfirmation(config.hostname, edges_.hostConfirmer(config),
                           DnsCheckFile(ClientPaths::dnsCheckFile()), log_, clock_);
}

ReachabilityWatch ClientRoot::reachabilityWatch() const {
    return ReachabilityWatch(edges_, clock_, log_);
}
