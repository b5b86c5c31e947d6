// The daemon's five-minute pause on a scripted wall clock: a source that moves the clock on, with network
// changes and sleeps of the machine at set moments.
#include "network/NetworkAwarePause.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using End = NetworkAwarePause::End;
using Ms = std::chrono::milliseconds;
using TimePoint = NetworkAwarePause::TimePoint;

// At `at` after the start the network changes, or the machine sleeps for `asleep` in the wait around it.
struct Happening {
    Ms at;
    std::chrono::minutes asleep{0};
};

struct ScriptedNetwork final : NetworkChangeSource {
    ScriptedNetwork(TimePoint& now, std::vector<Happening> script) : now(now), start(now), script(script) {}

    bool waitForChange(Ms timeout) override {
        auto until = now + timeout;
        if (next == script.size() || start + script[next].at > until) {
            now = until;
            return false;
        }
        Happening happening = script[next++];
        // The wait's own time passes awake; the wall clock also counts the sleep.
        now = happening.asleep > 0min ? until + happening.asleep : start + happening.at;
        return happening.asleep == 0min;
    }

    TimePoint& now;
    TimePoint start;
    std::vector<Happening> script;
    std::size_t next = 0;
};

TEST(NetworkAwarePauseTest, EndsAfterSettledChangesOncePerMinuteAndAfterASleepPastTheDeadline) {
    // The network's script, and how each pause in turn ends and when (after the start of the first).
    const std::pair<std::vector<Happening>, std::vector<std::pair<End, Ms>>> cases[] = {
        {{{10s}, {11500ms}}, {{End::networkChange, 13500ms}}}, // changes settle for 2 s
        {{{10s}, {13s}},
         {{End::networkChange, 12s}, {End::networkChange, 72s}}}, // a second waits for the minute
        {{{30s, 60min}}, {{End::wake, 61min}}},                   // a sleep past the deadline
        {{{30s, 2min}}, {{End::interval, 5min}}}};                // a short sleep keeps it
    for (const auto& [script, pauses] : cases) {
        TimePoint now{std::chrono::hours(24 * 365 * 50)};
        const TimePoint start = now;
        NetworkAwarePause pause(std::make_unique<ScriptedNetwork>(now, script), [&now] { return now; });
        for (const auto& [end, endsAt] : pauses) {
            EXPECT_EQ(pause.wait(5min, true), end) << script.size();
            EXPECT_EQ(now - start, endsAt) << script.size();
        }
    }
}

} // namespace
