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
                                     std::function<TimePoint()> now, std::function<Monotonic()> monotonic)
    : source_(std::move(source)), now_(std::move(now)), monotonic_(std::move(monotonic)) {}

std::optional<NetworkAwarePause::Monotonic>
NetworkAwarePause::earlyDue(const std::optional<Monotonic>& lastChange) const {
    if (!lastChange) {
        return std::nullopt;
    }
    Monotonic settled = *lastChange + quietPeriod;
    return lastEarlyEnd_ ? std::max(settled, *lastEarlyEnd_ + earlySpacing) : settled;
}

NetworkAwarePause::End NetworkAwarePause::wait(std::chrono::nanoseconds length, bool mayEndEarly) {
    TimePoint deadline = saturatingAdd(now_(), length);
    std::optional<Monotonic> lastChange;
    for (;;) {
        TimePoint before = now_();
        if (before >= deadline) {
            return End::interval;
        }
        Monotonic steadyBefore = monotonic_();
        std::optional<Monotonic> due = earlyDue(lastChange);
        if (due && steadyBefore >= *due) {
            lastEarlyEnd_ = steadyBefore;
            return End::networkChange;
        }
        Span slice = std::min<Span>(deadline - before, checkEvery);
        if (due) {
            slice = std::min<Span>(slice, std::chrono::ceil<Span>(*due - steadyBefore));
        }
        bool changed = source_->waitForChange(std::chrono::ceil<std::chrono::milliseconds>(slice));
        TimePoint after = now_();
        Monotonic steadyAfter = monotonic_();
        if (after < before) {
            // The clock was set back: the pause keeps its length, the time waited before the step included.
            deadline -= (before - after) + std::chrono::duration_cast<Span>(steadyAfter - steadyBefore);
        } else if (after - before > slice + checkEvery && after >= deadline) {
            return End::wake;
        }
        if (changed && mayEndEarly) {
            lastChange = steadyAfter;
        }
    }
}
