// What the client reaches beyond its own process: the peers of a cycle, the name servers, the router, the
// network's notifications, the self-updater's thread and whether the daemon goes on. Abstract so that the
// daemon's loop can be driven by a test; SystemEdges is the program's own.
#pragma once

#include "config/ClientConfiguration.hpp"
#include "cycle/DynDnsUpdating.hpp"
#include "cycle/PublicIpResolving.hpp"
#include "cycle/ReachabilityWatch.hpp"
#include "dnscheck/HostConfirming.hpp"
#include "network/NetworkChangeSource.hpp"
#include "support/ClientLog.hpp"
#include "support/Clock.hpp"
#include "support/HttpTrust.hpp"

#include <memory>
#include <string>

class ClientEdges : public RouterAsking {
public:
    virtual std::shared_ptr<PublicIpResolving> resolver(const ClientConfiguration& config) const = 0;
    virtual std::shared_ptr<DynDnsUpdating> updateClient(const ClientConfiguration& config) const = 0;
    virtual std::shared_ptr<HostConfirming> hostConfirmer(const ClientConfiguration& config) const = 0;
    virtual std::unique_ptr<NetworkChangeSource> networkChangeSource() const = 0;
    // Asked before every cycle and every idle sleep.
    virtual bool keepRunning() const = 0;
    // The app-update worker, on a thread of its own; returns at once.
    virtual void startSelfUpdater() const = 0;
};

// The service's addresses: the build's, each replaced by the environment variable of the same name
// (KORVANE_SERVER_BASE_URL, KORVANE_UPDATE_MANIFEST_URL) when that is set and not empty.
struct ServiceEndpoints {
    std::string serverBaseUrl;
    std::string updateManifestUrl;

    static ServiceEndpoints fromEnvironment();
};

// The network, the system's resolver, the router and a daemon that never stops by itself.
class SystemEdges final : public ClientEdges {
public:
    SystemEdges(ClientLog log, const Clock& clock, ServiceEndpoints endpoints, HttpTrust trust);

    std::shared_ptr<PublicIpResolving> resolver(const ClientConfiguration& config) const override;
    std::shared_ptr<DynDnsUpdating> updateClient(const ClientConfiguration& config) const override;
    std::shared_ptr<HostConfirming> hostConfirmer(const ClientConfiguration& config) const override;
    std::unique_ptr<NetworkChangeSource> networkChangeSource() const override;
    RouterSighting askRouter() const override;
    bool keepRunning() const override { return true; }
    void startSelfUpdater() const override;

private:
    ClientLog log_;
    const Clock& clock_;
    ServiceEndpoints endpoints_;
    HttpTrust trust_;
};
