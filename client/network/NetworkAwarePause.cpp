#include "network/NetworkAwarePause.hpp"

#include <algorithm>

NetworkAwarePause::NetworkAwarePause(std::unique_ptr<NetworkChangeSource> source, const Clock& clock)
    : source_(std::move(source)), clock_(clock) {}

NetworkAwarePause::TimePoint NetworkAwarePause::begin(std::chrono::nanoseconds length, bool mayEndEarly) {
    deadline_ = clock_.now() + std::chrono::duration_cast<TimePoint::duration>(length);
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
    TimePoint wall = clock_.now();
    Monotonic steady = clock_.monotonic();
    for (;;) {
        if (wall >= deadline_) {
            return wall - deadline_ > lateWake ? End::wake : End::interval;
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
        TimePoint wallAfter = clock_.now();
        Monotonic steadyAfter = clock_.monotonic();
        // Less time on the wall clock than on the monotonic one: the clock was set back, and the deadline
        // moves with it, so the pause keeps its length.
        const TimePoint::duration moved = wallAfter - wall;
        const auto waited = std::chrono::duration_cast<TimePoint::duration>(steadyAfter - steady);
        if (moved < waited) {
            deadline_ += moved - waited;
        }
        if (changed && mayEndEarly_) {
            lastChange_ = steadyAfter;
        }
        wall = wallAfter;
        steady = steadyAfter;
    }
}
