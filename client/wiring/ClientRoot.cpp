#include "wiring/ClientRoot.hpp"

#include "config/ClientPaths.hpp"
#include "config/ConfigurationStore.hpp"
#include "cycle/HttpDynDnsUpdateClient.hpp"
#include "cycle/HttpPublicIpResolver.hpp"
#include "dnscheck/ResolverHostConfirmer.hpp"
#include "process/StdLog.hpp"
#include "support/Environment.hpp"
#include "updater/AppUpdateWorker.hpp"

#include <chrono>
#include <utility>

namespace {

// Each discovery request as a whole, so that a peer dripping its answer cannot keep the next endpoint
// from being tried.
constexpr std::chrono::seconds discoveryTimeout(10);
// The update request: the longest wait for data, and the whole request.
constexpr std::chrono::seconds updateIdleTimeout(15);
constexpr std::chrono::seconds updateTotalTimeout(60);

} // namespace

ServiceEndpoints ServiceEndpoints::fromEnvironment() {
    return {
        Environment::value("KORVANE_SERVER_BASE_URL").value_or(ClientConfiguration::serverBaseUrl),
        Environment::value("KORVANE_UPDATE_MANIFEST_URL").value_or(ClientConfiguration::updateManifestUrl)};
}

ClientRoot::ClientRoot(ClientLog log, Pause::Clock clock, ServiceEndpoints endpoints, HttpTrust trust)
    : log_(std::move(log)), clock_(std::move(clock)), endpoints_(std::move(endpoints)),
      trust_(std::move(trust)) {}

ClientRoot ClientRoot::forCommand() {
    return {StdLog::clientLog(), {}, ServiceEndpoints::fromEnvironment(), HttpTrust::fromEnvironment()};
}

ClientRoot ClientRoot::forDaemon() {
    return {StdLog::daemonLog(ClientPaths::daemonLogFile()),
            {},
            ServiceEndpoints::fromEnvironment(),
            HttpTrust::fromEnvironment()};
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
    return {cache, UpdateOrchestrator(resolver(config), updateClient(config), cache, config, log_)};
}

NetworkAwarePause ClientRoot::networkWatch() const {
    return NetworkAwarePause(networkChangeSource(), clock_.now, clock_.monotonic);
}

DnsConfirmation ClientRoot::dnsConfirmation(const ClientConfiguration& config) const {
    return DnsConfirmation(config.hostname, hostConfirmer(config), DnsCheckFile(ClientPaths::dnsCheckFile()),
                           log_, clock_.now);
}

ReachabilityWatch ClientRoot::reachabilityWatch() const {
    return ReachabilityWatch([this] { return askRouter(); }, clock_.now, log_);
}

void ClientRoot::startSelfUpdater() const {
    AppUpdateWorker::start({endpoints_.updateManifestUrl, log_, trust_, clock_.sleep});
}

std::shared_ptr<PublicIpResolving> ClientRoot::resolver(const ClientConfiguration& config) const {
    return std::make_shared<HttpPublicIpResolver>(config, log_, discoveryTimeout, trust_,
                                                  RouteReading::system());
}

std::shared_ptr<DynDnsUpdating> ClientRoot::updateClient(const ClientConfiguration& config) const {
    return std::make_shared<HttpDynDnsUpdateClient>(config, log_, endpoints_.serverBaseUrl, updateIdleTimeout,
                                                    updateTotalTimeout, trust_);
}

std::unique_ptr<NetworkChangeSource> ClientRoot::networkChangeSource() const {
    return openNetworkChangeSource(log_);
}

std::shared_ptr<HostConfirming> ClientRoot::hostConfirmer(const ClientConfiguration& config) const {
    return std::make_shared<ResolverHostConfirmer>(config.hostname, DnsWire::system());
}

RouterSighting ClientRoot::askRouter() const {
    return RouterAddress::ask();
}
