#include "wiring/ClientEdges.hpp"

#include "cycle/HttpDynDnsUpdateClient.hpp"
#include "cycle/HttpPublicIpResolver.hpp"
#include "dnscheck/ResolverHostConfirmer.hpp"
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

SystemEdges::SystemEdges(ClientLog log, const Clock& clock, ServiceEndpoints endpoints, HttpTrust trust)
    : log_(std::move(log)), clock_(clock), endpoints_(std::move(endpoints)), trust_(std::move(trust)) {}

std::shared_ptr<PublicIpResolving> SystemEdges::resolver(const ClientConfiguration& config) const {
    return std::make_shared<HttpPublicIpResolver>(config, log_, discoveryTimeout, trust_,
                                                  RouteReading::system());
}

std::shared_ptr<DynDnsUpdating> SystemEdges::updateClient(const ClientConfiguration& config) const {
    return std::make_shared<HttpDynDnsUpdateClient>(config, log_, endpoints_.serverBaseUrl, updateIdleTimeout,
                                                    updateTotalTimeout, trust_);
}

std::shared_ptr<HostConfirming> SystemEdges::hostConfirmer(const ClientConfiguration& config) const {
    return std::make_shared<ResolverHostConfirmer>(config.hostname, DnsWire::system());
}

std::unique_ptr<NetworkChangeSource> SystemEdges::networkChangeSource() const {
    return openNetworkChangeSource(log_);
}

RouterSighting SystemEdges::askRouter() const {
    return RouterAddress::ask();
}

void SystemEdges::startSelfUpdater() const {
    AppUpdateWorker::start({endpoints_.updateManifestUrl, log_, trust_, clock_});
}
