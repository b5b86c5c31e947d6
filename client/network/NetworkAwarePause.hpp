// The daemon's pause between two update cycles: it ends at its deadline on the wall clock (time asleep
// counts), or early once a network change has settled, at most once a minute and only when allowed.
#pragma once

#include "network/NetworkChangeSource.hpp"
#include "support/Clock.hpp"

#include <chrono>
#include <memory>
#include <optional>

class NetworkAwarePause {
public:
    using TimePoint = std::chrono::system_clock::time_point;
    using Monotonic = std::chrono::steady_clock::time_point;

    // stop: the caller's own time came first; the pause goes on with the next wait.
    enum class End { interval, networkChange, wake, stop };

    // A change counts once the network has been quiet this long: one cycle for a whole reconfiguration.
    static constexpr std::chrono::seconds quietPeriod{2};
    // The least time between two early ends, however often a link flaps.
    static constexpr std::chrono::minutes earlySpacing{1};
    // A wait that comes back this long after the deadline slept through it (or the clock was set forward).
    static constexpr std::chrono::minutes lateWake{1};

    NetworkAwarePause(std::unique_ptr<NetworkChangeSource> source, const Clock& clock);

    // Starts the pause after a cycle, `length` from now, ended early by a settled change only with
    // mayEndEarly; a change before this call is the cycle's. Returns the pause's end.
    TimePoint begin(std::chrono::nanoseconds length, bool mayEndEarly);

    // Waits in the pause begun last: interval when its end came, wake when that passed during a sleep of
    // the machine, networkChange when a settled change ends it early, stop when `stop` came first. A change
    // held back stays held across a stop.
    End wait(std::optional<TimePoint> stop = std::nullopt);

private:
    std::optional<Monotonic> earlyDue() const;

    std::unique_ptr<NetworkChangeSource> source_;
    const Clock& clock_;
    TimePoint deadline_;
    bool mayEndEarly_ = false;
    // On the monotonic clock, so that a wall clock set back holds no early end off.
    std::optional<Monotonic> lastChange_;
    std::optional<Monotonic> lastEarlyEnd_;
};
