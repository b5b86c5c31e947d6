// Where the client is put together: it reads the configuration and builds, from the log, the clock and the
// client's edges, the update cycle of `once` and `run` and the daemon's network watch, DNS confirmation and
// router watch.
#pragma once

#include "config/ClientConfiguration.hpp"
#include "cycle/IpStateCache.hpp"
#include "cycle/ReachabilityWatch.hpp"
#include "cycle/UpdateOrchestrator.hpp"
#include "dnscheck/DnsConfirmation.hpp"
#include "network/NetworkAwarePause.hpp"
#include "support/ClientLog.hpp"
#include "support/Clock.hpp"
#include "support/Expected.hpp"
#include "support/HttpTrust.hpp"
#include "wiring/ClientEdges.hpp"

#include <memory>
#include <string_view>

// One update cycle's parts, built once per process.
struct UpdateCycle {
    std::shared_ptr<IpStateCache> cache;
    UpdateOrchestrator orchestrator;
};

class ClientRoot {
public:
    // `clock` and `edges` outlive the root.
    ClientRoot(ClientLog log, const Clock& clock, const ClientEdges& edges);
    // The program's own: the log on standard output (the daemon's follows its file through a rotation), the
    // system's clocks and edges, the service addresses of the build or the environment and the environment's
    // roots.
    static ClientRoot forCommand();
    static ClientRoot forDaemon();

    const ClientLog& log() const { return log_; }
    const Clock& clock() const { return clock_; }
    const ClientEdges& edges() const { return edges_; }

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

private:
    ClientRoot(ClientLog log, std::unique_ptr<const ClientEdges> edges);
    static ClientRoot withSystemEdges(ClientLog log);

    ClientLog log_;
    const Clock& clock_;
    std::unique_ptr<const ClientEdges> ownEdges_; // the program's; a test keeps its own
    const ClientEdges& edges_;
};
