// The daemon's network and its two clocks on a script: each wait moves both clocks on to its end or to the
// next happening, at a set moment of the monotonic clock. The network changes, a lease is renewed with
// nothing changed, the machine sleeps for `span` (both clocks count it), or the wall clock is set back by
// `span`; a wait comes back at a change, at a renewal, as the machine wakes and when the clock was set.
#pragma once

#include "../ScriptedClock.hpp"
#include "network/NetworkChangeSource.hpp"

#include <algorithm>
#include <string>
#include <vector>

enum class What { change, renewal, sleep, setBack };
struct Happening {
    std::chrono::milliseconds at;
    What what = What::change;
    std::chrono::minutes span{0};
};

struct ScriptedNetwork final : NetworkChangeSource {
    using Ms = std::chrono::milliseconds;

    ScriptedNetwork(const ScriptedClock& clocks, std::vector<Happening> script)
        : clocks(clocks), script(std::move(script)) {}

    bool waitForChange(TimePoint deadline, std::optional<Ms> timeout) override {
        ++waits;
        Ms until = clocks.steady + std::max(std::chrono::ceil<Ms>(deadline - clocks.wall), Ms(0));
        if (timeout) {
            until = std::min(until, clocks.steady + *timeout);
        }
        if (next == script.size() || script[next].at > until) {
            clocks.advance(until);
            return false;
        }
        Happening happening = script[next++];
        clocks.advance(happening.at);
        if (happening.what == What::sleep) {
            clocks.advance(clocks.steady + happening.span);
        }
        if (happening.what == What::setBack) {
            clocks.wall -= happening.span;
        }
        snapshot += happening.what == What::change;
        return happening.what == What::change || happening.what == What::renewal;
    }
    // What the interfaces look like now, for the comparison of snapshots.
    std::optional<InterfaceSnapshot> interfaces() const override {
        return InterfaceSnapshot{std::to_string(snapshot)};
    }

    const ScriptedClock& clocks;
    std::vector<Happening> script;
    std::size_t next = 0, snapshot = 0, waits = 0;
};
