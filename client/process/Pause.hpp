// How the daemon's two workers sleep between their steps, and the clock they read.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace Pause {

inline void sleepFor(std::chrono::nanoseconds length) {
    std::this_thread::sleep_for(length);
}

// The daemon's time: the wall clock, the monotonic clock that short spans are measured on (a wall clock set
// back must not stretch them), and the sleep between its workers' steps.
struct Clock {
    std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
    std::function<std::chrono::steady_clock::time_point()> monotonic = std::chrono::steady_clock::now;
    std::function<void(std::chrono::nanoseconds)> sleep = sleepFor;
};

} // namespace Pause
