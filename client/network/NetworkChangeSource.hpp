// Tells the daemon that the machine's network changed, so that the DNS record can follow a new address
// within seconds instead of at the next interval, and wakes it when its pause is due and no sooner. Each
// platform only says that something may have changed (a notification, or a minute gone by where there is
// none); one comparison of snapshots, the same on every platform, decides whether it did.
#pragma once

#include "network/InterfaceSnapshot.hpp"
#include "support/ClientLog.hpp"
#include "support/Expected.hpp"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>

class NetworkChangeSource {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    virtual ~NetworkChangeSource() = default;

    // Waits until the wall clock reaches `deadline` (a machine asleep at that moment returns as it wakes)
    // or, when given, for at most `timeout`. It may return sooner: when the clock was set, and whenever the
    // platform cannot tell. True when the network changed since the previous call, however often (for a
    // platform's notifications: may have changed).
    virtual bool waitForChange(TimePoint deadline, std::optional<std::chrono::milliseconds> timeout) = 0;
    // What the interfaces look like now, for the comparison below; none when they cannot be read.
    virtual std::optional<InterfaceSnapshot> interfaces() const { return takeInterfaceSnapshot(); }
};

// Passes on only what changed the snapshot, so that a lease renewed or a router's lifetime refreshed with
// nothing else different, or settings that do not touch the way out, cost no cycle.
class SnapshotComparison final : public NetworkChangeSource {
public:
    explicit SnapshotComparison(std::unique_ptr<NetworkChangeSource> mayHaveChanged);

    bool waitForChange(TimePoint deadline, std::optional<std::chrono::milliseconds> timeout) override;

private:
    std::unique_ptr<NetworkChangeSource> mayHaveChanged_;
    InterfaceSnapshot last_;
};

// The platform's notifications, or why they cannot be had (one file per platform).
Expected<std::unique_ptr<NetworkChangeSource>> openPlatformNetworkChangeSource();

// A wait's timeout as poll(2) takes it: -1 for none.
inline int pollMilliseconds(std::optional<std::chrono::milliseconds> timeout) {
    return timeout ? static_cast<int>(std::clamp<std::int64_t>(timeout->count(), 0, INT_MAX)) : -1;
}

// A deadline as the platform's wall-clock timers take it.
inline timespec wallTimespec(NetworkChangeSource::TimePoint deadline) {
    const auto sinceEpoch = deadline.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    return {static_cast<time_t>(seconds.count()),
            static_cast<long>(std::chrono::nanoseconds(sinceEpoch - seconds).count())};
}

// The platform's notifications or, when they cannot be had, one WARN line and a look once a minute;
// either way through the comparison of snapshots.
std::unique_ptr<NetworkChangeSource> openNetworkChangeSource(const ClientLog& log);
