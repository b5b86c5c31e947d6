// Time on a script: both clocks stand still until moved on; a sleep moves both by its length.
#pragma once

#include "support/Clock.hpp"

#include <utility>

struct ScriptedClock : Clock {
    using Ms = std::chrono::milliseconds;
    using Monotonic = std::chrono::steady_clock::time_point;

    std::chrono::system_clock::time_point now() const override { return wall; }
    Monotonic monotonic() const override { return Monotonic(steady); }
    void sleep(std::chrono::nanoseconds span) const override {
        advance(steady + std::chrono::floor<Ms>(span));
    }
    // Both clocks on to `to` on the monotonic one.
    void advance(Ms to) const { wall += to - std::exchange(steady, to); }

    mutable Ms steady{0};
    mutable std::chrono::system_clock::time_point wall{std::chrono::hours(24 * 365 * 50)};
};
