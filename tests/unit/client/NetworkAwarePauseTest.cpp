// The daemon's five-minute pause on scripted clocks: a source that moves them on, with network changes,
// lease renewals that change nothing, sleeps of the machine and a wall clock set back at set moments.
#include "network/NetworkAwarePause.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using End = NetworkAwarePause::End;
using Ms = std::chrono::milliseconds;
using TimePoint = NetworkAwarePause::TimePoint;

struct Clocks {
    TimePoint wall{std::chrono::hours(24 * 365 * 50)};
    NetworkAwarePause::Monotonic steady{};
    int network = 0; // what the network's snapshot shows
};

// At `at` after the start (on the monotonic clock) the network changes, a lease is renewed with nothing
// changed, the machine sleeps for `span` in the wait around it, or the wall clock is set back by `span`.
enum class What { change, renewal, sleep, setBack };
struct Happening {
    Ms at;
    What what = What::change;
    std::chrono::minutes span{0};
};

struct ScriptedNetwork final : NetworkChangeSource {
    ScriptedNetwork(Clocks& clocks, std::vector<Happening> script)
        : clocks(clocks), start(clocks.steady), script(script) {}

    bool waitForChange(Ms timeout) override {
        auto until = clocks.steady + timeout;
        if (next == script.size() || start + script[next].at > until) {
            advance(until);
            return false;
        }
        Happening happening = script[next++];
        // The wait's own time passes awake; both clocks also count the sleep.
        advance(happening.what == What::sleep ? until + happening.span : start + happening.at);
        clocks.wall -= happening.what == What::setBack ? happening.span : 0min;
        clocks.network += happening.what == What::change;
        return happening.what == What::change || happening.what == What::renewal;
    }

    void advance(NetworkAwarePause::Monotonic to) {
        clocks.wall += std::chrono::duration_cast<TimePoint::duration>(to - clocks.steady);
        clocks.steady = to;
    }

    Clocks& clocks;
    NetworkAwarePause::Monotonic start;
    std::vector<Happening> script;
    std::size_t next = 0;
};

TEST(NetworkAwarePauseTest, EndsAfterSettledChangesOncePerMinuteAndAfterASleepPastTheDeadline) {
    // The network's script, whether the pauses may end early (not after a permanent rejection), and how each
    // pause in turn ends and when (on the monotonic clock).
    struct Case {
        std::vector<Happening> script;
        bool mayEndEarly;
        std::vector<std::pair<End, Ms>> pauses;
    };
    // clang-format off
    const Case cases[] = {
        {{{10s}, {11500ms}}, true, {{End::networkChange, 13500ms}}}, // changes settle for 2 s
        {{{10s}, {13s}}, true, {{End::networkChange, 12s}, {End::networkChange, 72s}}}, // the second waits
        {{{10s, What::renewal}}, true, {{End::interval, 5min}}},     // a renewal costs nothing
        {{{30s, What::sleep, 60min}}, true, {{End::wake, 61min}}},   // a sleep past the deadline
        {{{30s, What::sleep, 2min}}, true, {{End::interval, 5min}}}, // a short sleep keeps it
        // A clock set back holds neither the settling nor the minute off, nor makes the pause longer.
        {{{10s}, {70s}, {71s, What::setBack, 60min}}, true,
         {{End::networkChange, 12s}, {End::networkChange, 72s}}},
        {{{10s}, {30s, What::setBack, 60min}}, false, {{End::interval, 5min}}}}; // after a rejection
    // clang-format on
    for (const Case& row : cases) {
        Clocks clocks;
        NetworkAwarePause pause(
            std::make_unique<SnapshotComparison>(
                std::make_unique<ScriptedNetwork>(clocks, row.script),
                [&clocks] { return InterfaceSnapshot{std::to_string(clocks.network)}; }),
            [&clocks] { return clocks.wall; }, [&clocks] { return clocks.steady; });
        for (const auto& [end, endsAt] : row.pauses) {
            EXPECT_EQ(pause.wait(5min, row.mayEndEarly), end) << &row - cases;
            EXPECT_EQ(clocks.steady.time_since_epoch(), endsAt) << &row - cases;
        }
    }
}

} // namespace
