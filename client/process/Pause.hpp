// How the daemon's two workers sleep between their steps, and the clock they read.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <thread>

namespace Pause {

inline void sleepFor(std::chrono::nanoseconds length) {
    std::this_thread::sleep_for(length);
}

// A sleep cut short by an error just means the next step comes sooner.
inline void tolerant(const std::function<void(std::chrono::nanoseconds)>& sleep,
                     std::chrono::nanoseconds length) {
    try {
        sleep(length);
    } catch (const std::exception&) {
    }
}

// The daemon's time: the wall clock, the monotonic clock that short spans are measured on (a wall clock set
// back must not stretch them), and the sleep between its workers' steps.
struct Clock {
    std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
    std::function<std::chrono::steady_clock::time_point()> monotonic = std::chrono::steady_clock::now;
    std::function<void(std::chrono::nanoseconds)> sleep = sleepFor;
};

} // namespace Pause
