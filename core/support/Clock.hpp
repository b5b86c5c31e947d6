// Time as the daemon reads and spends it: the wall clock, the monotonic clock short spans are measured on (a
// wall clock set back must not stretch them), and the sleep between steps. Abstract so tests can script it.
#pragma once

#include <chrono>
#include <thread>

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;
    virtual std::chrono::steady_clock::time_point monotonic() const = 0;
    virtual void sleep(std::chrono::nanoseconds length) const = 0;

    // The system's clocks and a real sleep.
    static const Clock& system();
};

class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now(); }
    std::chrono::steady_clock::time_point monotonic() const override {
        return std::chrono::steady_clock::now();
    }
    void sleep(std::chrono::nanoseconds length) const override { std::this_thread::sleep_for(length); }
};

inline const Clock& Clock::system() {
    static const SystemClock clock;
    return clock;
}
