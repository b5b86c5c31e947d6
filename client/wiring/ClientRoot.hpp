// Where the client is put together: the one place that reads the configuration, the service addresses and
// the trusted roots and makes the log and the clock, and that builds from them the update cycle of `once` and
// `run`, the daemon's network watch and its self-updater. A test derives from it to replace the edges it
// cannot drive: the network's peers and notifications, the self-updater's thread, the daemon's endless loop.
#pragma once

#include "config/ClientConfiguration.hpp"
#include "cycle/DynDnsUpdating.hpp"
#include "cycle/IpStateCache.hpp"
#include "cycle/PublicIpResolving.hpp"
#include "cycle/ReachabilityWatch.hpp"
#include "cycle/UpdateOrchestrator.hpp"
#include "dnscheck/DnsConfirmation.hpp"
#include "dnscheck/HostConfirming.hpp"
#include "network/NetworkAwarePause.hpp"
#include "network/NetworkChangeSource.hpp"
#include "process/Pause.hpp"
#include "support/ClientLog.hpp"
#include "support/Failure.hpp"
#include "support/HttpTrust.hpp"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The service's addresses: the build's, each replaced by the environment variable of the same name
// (KORVANE_SERVER_BASE_URL, KORVANE_UPDATE_MANIFEST_URL) when that is set and not empty.
struct ServiceEndpoints {
    std::string serverBaseUrl;
    std::string updateManifestUrl;

    static ServiceEndpoints fromEnvironment();
};

// One update cycle's parts, built once per process.
struct UpdateCycle {
    std::shared_ptr<IpStateCache> cache;
    UpdateOrchestrator orchestrator;
};

class ClientRoot {
public:
    ClientRoot(ClientLog log, Pause::Clock clock, ServiceEndpoints endpoints, HttpTrust trust);
    // The program's own: the log on standard output (the daemon's follows its file through a rotation), the
    // system's clocks, the service addresses of the build or the environment and the environment's roots.
    static ClientRoot forCommand();
    static ClientRoot forDaemon();
    virtual ~ClientRoot() = default;

    const ClientLog& log() const { return log_; }
    const Pause::Clock& clock() const { return clock_; }

    // config.json, read and validated, or why there is none: without the file "Keine Konfiguration gefunden
    // ({path})" followed by missingHint.
    Expected<ClientConfiguration> loadConfiguration(std::string_view missingHint) const;
    UpdateCycle updateCycle(const ClientConfiguration& config) const;
    // What ends the daemon's pause early; opened before the first cycle, so that a change during it counts.
    NetworkAwarePause networkWatch() const;
    // What the host's authoritative name servers serve, asked after each healthy cycle of the daemon.
    DnsConfirmation dnsConfirmation(const ClientConfiguration& config) const;
    // What the router in front of the Mac says, asked after the cycles of `once` and `run`.
    ReachabilityWatch reachabilityWatch() const;

    // Asked before every cycle and every idle sleep; the daemon itself never stops.
    virtual bool keepRunning() const { return true; }
    // The app-update worker, on a thread of its own; returns at once.
    virtual void startSelfUpdater() const;

protected:
    virtual std::shared_ptr<PublicIpResolving> resolver(const ClientConfiguration& config) const;
    virtual std::shared_ptr<DynDnsUpdating> updateClient(const ClientConfiguration& config) const;
    virtual std::unique_ptr<NetworkChangeSource> networkChangeSource() const;
    virtual std::shared_ptr<HostConfirming> hostConfirmer(const ClientConfiguration& config) const;
    virtual RouterSighting askRouter() const;

private:
    ClientLog log_;
    Pause::Clock clock_;
    ServiceEndpoints endpoints_;
    HttpTrust trust_;
};
