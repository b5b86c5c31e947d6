#include "network/NetworkAwarePause.hpp"

#include <algorithm>

namespace {

using Span = NetworkAwarePause::TimePoint::duration;

// The clock's own unit may be coarser than nanoseconds (microseconds with libc++): convert down, never up,
// so that a pause of centuries neither overflows nor wraps.
NetworkAwarePause::TimePoint saturatingAdd(NetworkAwarePause::TimePoint start,
                                           std::chrono::nanoseconds length) {
    auto span = std::chrono::duration_cast<Span>(length);
    return span >= NetworkAwarePause::TimePoint::max() - start ? NetworkAwarePause::TimePoint::max()
                                                               : start + span;
}

} // namespace

NetworkAwarePause::NetworkAwarePause(std::unique_ptr<NetworkChangeSource> source,
                                     std::function<TimePoint()> now)
    : source_(std::move(source)), now_(std::move(now)) {}

std::optional<NetworkAwarePause::TimePoint>
NetworkAwarePause::earlyDue(const std::optional<TimePoint>& lastChange) const {
    if (!lastChange) {
        return std::nullopt;
    }
    TimePoint settled = *lastChange + quietPeriod;
    return lastEarlyEnd_ ? std::max(settled, *lastEarlyEnd_ + earlySpacing) : settled;
}

NetworkAwarePause::End NetworkAwarePause::wait(std::chrono::nanoseconds length, bool mayEndEarly) {
    TimePoint deadline = saturatingAdd(now_(), length);
    std::optional<TimePoint> lastChange;
    for (;;) {
        TimePoint before = now_();
        if (before >= deadline) {
            return End::interval;
        }
        std::optional<TimePoint> due = earlyDue(lastChange);
        if (due && before >= *due) {
            lastEarlyEnd_ = before;
            return End::networkChange;
        }
        Span slice = std::min<Span>(deadline - before, checkEvery);
        if (due) {
            slice = std::min<Span>(slice, *due - before);
        }
        bool changed = source_->waitForChange(std::chrono::ceil<std::chrono::milliseconds>(slice));
        TimePoint after = now_();
        if (after < before) {
            // The clock was set back: the pause keeps its length.
            deadline -= before - after;
        } else if (after - before > slice + checkEvery && after >= deadline) {
            return End::wake;
        }
        if (changed && mayEndEarly) {
            lastChange = after;
        }
    }
}
