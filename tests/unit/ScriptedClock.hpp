// Time on a script: both clocks stand still until moved on, a sleep moves both by its length.
#pragma once

#include "support/Clock.hpp"

#include <chrono>

struct ScriptedClock : Clock {
    mutable std::chrono::milliseconds steady{0};
    mutable std::chrono::system_clock::time_point wall{std::chrono::hours(24 * 365 * 50)};

    std::chrono::system_clock::time_point now() const override { return wall; }
    std::chrono::steady_clock::time_point monotonic() const override {
        return std::chrono::steady_clock::time_point(steady);
    }
    void sleep(std::chrono::nanoseconds length) const override {
        advance(steady + std::chrono::duration_cast<std::chrono::milliseconds>(length));
    }
    // Both clocks on to `to` on the monotonic one.
    void advance(std::chrono::milliseconds to) const {
        wall += to - steady;
        steady = to;
    }
};
