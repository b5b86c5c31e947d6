// A network on a scripted wall clock: waiting moves the clock on, with network changes and sleeps of the
// machine at set moments.
#pragma once

#include "network/NetworkChangeSource.hpp"

#include <chrono>
#include <vector>

// At `at` after the start the network changes, or the machine sleeps for `asleep` in the wait around it.
struct Happening {
    std::chrono::milliseconds at;
    std::chrono::minutes asleep{0};
};

struct ScriptedNetwork final : NetworkChangeSource {
    using TimePoint = std::chrono::system_clock::time_point;

    ScriptedNetwork(TimePoint& now, std::vector<Happening> script) : now(now), start(now), script(script) {}

    bool waitForChange(std::chrono::milliseconds timeout) override {
        auto until = now + timeout;
        if (next == script.size() || start + script[next].at > until) {
            now = until;
            return false;
        }
        Happening happening = script[next++];
        // The wait's own time passes awake; the wall clock also counts the sleep.
        now = happening.asleep > std::chrono::minutes(0) ? until + happening.asleep : start + happening.at;
        return happening.asleep == std::chrono::minutes(0);
    }

    TimePoint& now;
    TimePoint start;
    std::vector<Happening> script;
    std::size_t next = 0;
};
