// How the daemon's two workers sleep between their steps.
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

} // namespace Pause
