// The daemon's pause between two update cycles. It ends at its deadline on the wall clock, so that time
// the machine spent asleep counts, or early once a network change has settled. Early ends come at most
// once a minute, and never in a pause that must run its whole length. The settling and that minute are
// measured on the monotonic clock, so that a wall clock set back does not hold early ends off.
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

    enum class End { interval, networkChange, wake };

    // A change counts once the network has been quiet this long: one cycle for a whole reconfiguration.
    static constexpr std::chrono::seconds quietPeriod{2};
    // The least time between two early ends, however often a link flaps.
    static constexpr std::chrono::minutes earlySpacing{1};
    // The longest wait before the wall clock is read again; a read much later than that means a sleep.
    static constexpr std::chrono::minutes checkEvery{1};

    explicit NetworkAwarePause(std::unique_ptr<NetworkChangeSource> source,
                               std::function<TimePoint()> now = std::chrono::system_clock::now,
                               std::function<Monotonic()> monotonic = std::chrono::steady_clock::now);

    // Returns interval when the deadline passed, wake when it passed during a sleep of the machine, and
    // networkChange when a settled change ends the pause early (only with mayEndEarly).
    End wait(std::chrono::nanoseconds length, bool mayEndEarly);

private:
    std::optional<Monotonic> earlyDue(const std::optional<Monotonic>& lastChange) const;

    std::unique_ptr<NetworkChangeSource> source_;
    std::function<TimePoint()> now_;
    std::function<Monotonic()> monotonic_;
    std::optional<Monotonic> lastEarlyEnd_;
};
