// Tells the daemon that the machine's network changed, so that the DNS record can follow a new address
// within seconds instead of at the next interval, and wakes it when its pause is due and no sooner. Each
// platform only says that something may have changed (a notification, or a minute gone by where there is
// none); one comparison of snapshots, the same on every platform, decides whether it did.
#pragma once

#include "network/InterfaceSnapshot.hpp"
#include "support/ClientLog.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class NetworkChangeSource {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    virtual ~NetworkChangeSource() = default;

    // Waits until the wall clock reaches `deadline` (a machine asleep at that moment returns as it wakes)
    // or, when given, for at most `timeout`. It may return sooner: when the clock was set, and whenever the
    // platform cannot tell. True when the network changed since the previous call, however often (for a
    // platform's notifications: may have changed).
    virtual bool waitForChange(TimePoint deadline, std::optional<std::chrono::milliseconds> timeout) = 0;
};

// Passes on only what changed the snapshot, so that a lease renewed or a router's lifetime refreshed with
// nothing else different, or settings that do not touch the way out, cost no cycle.
class SnapshotComparison final : public NetworkChangeSource {
public:
    using Snapshots = std::function<std::optional<InterfaceSnapshot>()>;

    explicit SnapshotComparison(std::unique_ptr<NetworkChangeSource> mayHaveChanged,
                                Snapshots take = takeInterfaceSnapshot);

    bool waitForChange(TimePoint deadline, std::optional<std::chrono::milliseconds> timeout) override;

private:
    std::unique_ptr<NetworkChangeSource> mayHaveChanged_;
    Snapshots take_;
    InterfaceSnapshot last_;
};

// The platform's notifications, or why they cannot be had (one file per platform).
struct PlatformNetworkChangeSource {
    std::unique_ptr<NetworkChangeSource> source;
    std::string failure;
};
PlatformNetworkChangeSource openPlatformNetworkChangeSource();

// The platform's notifications or, when they cannot be had, one WARN line and a look once a minute;
// either way through the comparison of snapshots.
std::unique_ptr<NetworkChangeSource> openNetworkChangeSource(const ClientLog& log);
