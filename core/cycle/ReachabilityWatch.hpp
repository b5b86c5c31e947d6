// What the daemon knows of the router in front of this Mac, kept per network: once a cycle has echoed a
// global IPv4 address it asks at the start, after a network change, when the echoed address moved away from
// the router's public one, and otherwise at most once an hour, never every cycle; it draws the verdict anew
// from each cycle's echoed address and says in one line when the verdict changes.
#pragma once

#include "host/RouterAddress.hpp"
#include "status/Reachability.hpp"
#include "support/ClientLog.hpp"
#include "support/Clock.hpp"

#include <chrono>
#include <optional>
#include <string>

// Asks the router in front of this Mac for its external address.
class RouterAsking {
public:
    virtual ~RouterAsking() = default;
    virtual RouterSighting askRouter() const = 0;
};

class ReachabilityWatch {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    static constexpr std::chrono::hours askSpacing{1};

    ReachabilityWatch(const RouterAsking& router, const Clock& clock, ClientLog log);

    // After a cycle that found `echoedIpv4` (absent: none found this time, the last one still stands): asks
    // the router when due, classifies and logs a changed verdict. True when the verdict or the router's
    // address changed.
    bool afterCycle(const std::optional<std::string>& echoedIpv4);
    // The network changed: what the router said belongs to the one before.
    void networkChanged() { asked_.reset(); }

    // For the status record: absent while unknown.
    std::optional<Reachability> verdict() const;
    std::optional<std::string> routerIpv4() const;

private:
    bool due() const;

    const RouterAsking& router_;
    const Clock& clock_;
    ClientLog log_;
    std::optional<TimePoint> asked_;
    std::optional<std::string> askedWithEcho_;
    std::optional<std::string> echo_;
    RouterSighting sighting_;
    Reachability verdict_ = Reachability::unknown;
};
