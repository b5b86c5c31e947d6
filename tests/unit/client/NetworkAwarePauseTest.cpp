// The daemon's five-minute pause on scripted clocks: network changes, lease renewals that change nothing,
// sleeps of the machine and a wall clock set back at set moments; a quiet pause is one wait.
#include "network/NetworkAwarePause.hpp"

#include "ScriptedNetwork.hpp"

#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
using End = NetworkAwarePause::End;
using Ms = std::chrono::milliseconds;

TEST(NetworkAwarePauseTest, EndsAfterSettledChangesOncePerMinuteAndAfterASleepPastTheDeadline) {
    // The script, whether the pauses may end early (not after a permanent rejection), how and when each
    // ends, and how often the pauses woke in all.
    // clang-format off
    const std::tuple<std::vector<Happening>, bool, std::vector<std::pair<End, Ms>>, std::size_t> cases[] = {
        {{{10s}, {13s}}, true, {{End::networkChange, 12s}, {End::networkChange, 72s}}, 4}, // the second waits
        {{{10s, What::renewal}}, true, {{End::interval, 5min}}, 2},      // a renewal costs nothing
        {{}, true, {{End::interval, 5min}}, 1},                          // a quiet pause sleeps through
        {{{30s, What::sleep, 2min}}, true, {{End::interval, 5min}}, 2},  // a short sleep keeps it
        {{{30s, What::sleep, 60min}}, true, {{End::wake, 60min + 30s}}, 1}, // a long one ends it as it ends
        // A clock set back holds neither the settling nor the minute off, nor makes the pause longer.
        {{{10s}, {70s}, {71s, What::setBack, 60min}}, true,
         {{End::networkChange, 12s}, {End::networkChange, 72s}}, 5},
        {{{10s}, {30s, What::setBack, 60min}}, false, {{End::interval, 5min}}, 3}}; // after a rejection
    // clang-format on
    for (const auto& [script, mayEndEarly, pauses, waits] : cases) {
        ScriptedClock clocks;
        auto owned = std::make_unique<ScriptedNetwork>(clocks, script);
        ScriptedNetwork* network = owned.get();
        NetworkAwarePause pause(std::make_unique<SnapshotComparison>(std::move(owned)), clocks);
        for (const auto& [end, endsAt] : pauses) {
            pause.begin(5min, mayEndEarly);
            EXPECT_EQ(pause.wait(), end) << script.size();
            EXPECT_EQ(clocks.steady, endsAt) << script.size();
        }
        EXPECT_EQ(network->waits, waits) << script.size();
    }
}

} // namespace
