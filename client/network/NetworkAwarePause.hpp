// The daemon's pause between two update cycles. It ends at its deadline on the wall clock, so that time
// the machine spent asleep counts, or early once a network change has settled. Early ends come at most
// once a minute, and never in a pause that must run its whole length. The settling and that minute are
// measured on the monotonic clock, so that a wall clock set back does not hold early ends off. The pause
// may be interrupted for work of the caller's own; a change it holds back stays held across that.
#pragma once

#include "network/NetworkChangeSource.hpp"

#include <chrono>
#include <functional>
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

    NetworkAwarePause(std::unique_ptr<NetworkChangeSource> source, std::function<TimePoint()> now,
                      std::function<Monotonic()> monotonic);

    // Starts the pause after a cycle: `length` from now on the wall clock (the clock's last moment at the
    // most), ended early by a settled change only with mayEndEarly. A change before this call is the
    // cycle's, not the pause's. Returns the pause's end.
    TimePoint begin(std::chrono::nanoseconds length, bool mayEndEarly);

    // Waits in the pause begun last: interval when its end came, wake when that passed during a sleep of
    // the machine, networkChange when a settled change ends it early, stop when `stop` came first.
    End wait(std::optional<TimePoint> stop = std::nullopt);

private:
    std::optional<Monotonic> earlyDue() const;

    std::unique_ptr<NetworkChangeSource> source_;
    std::function<TimePoint()> now_;
    std::function<Monotonic()> monotonic_;
    TimePoint deadline_;
    bool mayEndEarly_ = false;
    std::optional<Monotonic> lastChange_;
    std::optional<Monotonic> lastEarlyEnd_;
};
