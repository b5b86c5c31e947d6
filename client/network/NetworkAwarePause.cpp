#include "network/NetworkAwarePause.hpp"

#include <algorithm>

namespace {

using Span = NetworkAwarePause::TimePoint::duration;

// The clock's own unit may be coarser than nanoseconds (microseconds with libc++), and a clock set back may
// read before 1970: the sum stops at the clock's ends instead of overflowing.
NetworkAwarePause::TimePoint shifted(NetworkAwarePause::TimePoint point, Span by) {
    Span::rep sum = 0;
    if (__builtin_add_overflow(point.time_since_epoch().count(), by.count(), &sum)) {
        return by.count() > 0 ? NetworkAwarePause::TimePoint::max() : NetworkAwarePause::TimePoint::min();
    }
    return NetworkAwarePause::TimePoint(Span(sum));
}

Span between(NetworkAwarePause::TimePoint from, NetworkAwarePause::TimePoint to) {
    Span::rep difference = 0;
    if (__builtin_sub_overflow(to.time_since_epoch().count(), from.time_since_epoch().count(), &difference)) {
        return to > from ? Span::max() : Span::min();
    }
    return Span(difference);
}

} // namespace

NetworkAwarePause::NetworkAwarePause(std::unique_ptr<NetworkChangeSource> source,
                                     std::function<TimePoint()> now, std::function<Monotonic()> monotonic)
    : source_(std::move(source)), now_(std::move(now)), monotonic_(std::move(monotonic)) {}

NetworkAwarePause::TimePoint NetworkAwarePause::begin(std::chrono::nanoseconds length, bool mayEndEarly) {
    // Converted down to the clock's unit, never up, so that a pause of centuries fits.
    deadline_ = shifted(now_(), std::chrono::duration_cast<Span>(length));
    mayEndEarly_ = mayEndEarly;
    lastChange_.reset();
    return deadline_;
}

std::optional<NetworkAwarePause::Monotonic> NetworkAwarePause::earlyDue() const {
    if (!lastChange_) {
        return std::nullopt;
    }
    Monotonic settled = *lastChange_ + quietPeriod;
    return lastEarlyEnd_ ? std::max(settled, *lastEarlyEnd_ + earlySpacing) : settled;
}

NetworkAwarePause::End NetworkAwarePause::wait(std::optional<TimePoint> stop) {
    TimePoint wall = now_();
    Monotonic steady = monotonic_();
    for (;;) {
        if (wall >= deadline_) {
            return between(deadline_, wall) > lateWake ? End::wake : End::interval;
        }
        std::optional<Monotonic> due = earlyDue();
        if (due && steady >= *due) {
            lastEarlyEnd_ = steady;
            lastChange_.reset();
            return End::networkChange;
        }
        if (stop && wall >= *stop) {
            return End::stop;
        }
        std::optional<std::chrono::milliseconds> timeout;
        if (due) {
            timeout = std::chrono::ceil<std::chrono::milliseconds>(*due - steady);
        }
        bool changed = source_->waitForChange(stop ? std::min(*stop, deadline_) : deadline_, timeout);
        TimePoint wallAfter = now_();
        Monotonic steadyAfter = monotonic_();
        // Less time on the wall clock than on the monotonic one: the clock was set back, and the deadline
        // moves with it, so the pause keeps its length.
        Span moved = between(wall, wallAfter);
        Span waited = std::chrono::duration_cast<Span>(steadyAfter - steady);
        if (moved < waited) {
            deadline_ = shifted(shifted(deadline_, moved), -waited);
        }
        if (changed && mayEndEarly_) {
            lastChange_ = steadyAfter;
        }
        wall = wallAfter;
        steady = steadyAfter;
    }
}
