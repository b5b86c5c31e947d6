// One update cycle: discover, compare, send, classify; every failure becomes a result and a log line.
#pragma once

#include "config/ClientConfiguration.hpp"
#include "cycle/DynDnsResponse.hpp"
#include "cycle/DynDnsUpdating.hpp"
#include "cycle/IpStateCache.hpp"
#include "cycle/PublicIpResolving.hpp"
#include "support/ClientLog.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

enum class UpdateCycleStatus { updated, unchanged, noPublicIp, fatalError, transientError };

struct UpdateCycleResult {
    UpdateCycleStatus status;
    std::string message;
    std::optional<DynDnsResponse> response;

    UpdateCycleResult(UpdateCycleStatus status, std::string message, std::optional<DynDnsResponse> response);

    bool isHealthy() const;
    bool operator==(const UpdateCycleResult&) const = default;
};

class UpdateOrchestrator {
public:
    UpdateOrchestrator(std::shared_ptr<PublicIpResolving> resolver,
                       std::shared_ptr<DynDnsUpdating> updateClient, std::shared_ptr<IpStateCache> cache,
                       ClientConfiguration config, ClientLog log);

    // Never throws. Not re-entrant: one cycle at a time per instance.
    UpdateCycleResult runOnce(bool force);
    // What the latest cycle found; meant to be in DNS after a healthy one.
    const AddressPair& lastFound() const { return lastFound_; }
    // The next cycle sends the found addresses even when they equal the recorded ones: the record was
    // changed behind the daemon's back. An ordinary update; once.
    void requestRepush() { repushNext_ = true; }

private:
    std::shared_ptr<PublicIpResolving> resolver_;
    std::shared_ptr<DynDnsUpdating> updateClient_;
    std::shared_ptr<IpStateCache> cache_;
    ClientConfiguration config_;
    ClientLog log_;
    AddressPair lastFound_;
    bool repushNext_ = false;
};
