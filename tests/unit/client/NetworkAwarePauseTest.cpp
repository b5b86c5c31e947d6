// The daemon's five-minute pause on scripted clocks: a source that moves them on, with network changes,
// lease renewals that change nothing, sleeps of the machine and a wall clock set back at set moments.
#include "network/NetworkAwarePause.hpp"

#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
using End = NetworkAwarePause::End;
using Ms = std::chrono::milliseconds;

// At `at` on the monotonic clock the network changes, a lease is renewed with nothing changed, the machine
// sleeps for `span` in the wait around it, or the wall clock is set back by `span`.
enum class What { change, renewal, sleep, setBack };
struct Happening {
    Ms at;
    What what = What::change;
    std::chrono::minutes span{0};
};

struct ScriptedNetwork final : NetworkChangeSource {
    explicit ScriptedNetwork(std::vector<Happening> script) : script(std::move(script)) {}

    bool waitForChange(Ms timeout) override {
        Ms until = steady + timeout;
        Happening happening =
            next < script.size() && script[next].at <= until ? script[next++] : Happening{until, What::sleep};
        // The wait's own time passes awake; both clocks also count the sleep.
        Ms to = happening.what == What::sleep ? until + happening.span : happening.at;
        wall += to - steady - (happening.what == What::setBack ? happening.span : 0min);
        steady = to;
        snapshot += happening.what == What::change;
        return happening.what == What::change || happening.what == What::renewal;
    }

    std::vector<Happening> script;
    std::size_t next = 0, snapshot = 0; // the script's next happening, the network's current snapshot
    Ms steady{0};
    NetworkAwarePause::TimePoint wall{std::chrono::hours(24 * 365 * 50)};
};

TEST(NetworkAwarePauseTest, EndsAfterSettledChangesOncePerMinuteAndAfterASleepPastTheDeadline) {
    // The script, whether the pauses may end early (not after a permanent rejection), how and when each ends.
    // clang-format off
    const std::tuple<std::vector<Happening>, bool, std::vector<std::pair<End, Ms>>> cases[] = {
        {{{10s}, {13s}}, true, {{End::networkChange, 12s}, {End::networkChange, 72s}}}, // the second waits
        {{{10s, What::renewal}}, true, {{End::interval, 5min}}},     // a renewal costs nothing
        {{{30s, What::sleep, 2min}}, true, {{End::interval, 5min}}}, // a short sleep keeps it
        // A clock set back holds neither the settling nor the minute off, nor makes the pause longer.
        {{{10s}, {70s}, {71s, What::setBack, 60min}}, true,
         {{End::networkChange, 12s}, {End::networkChange, 72s}}},
        {{{10s}, {30s, What::setBack, 60min}}, false, {{End::interval, 5min}}}}; // after a rejection
    // clang-format on
    for (const auto& [script, mayEndEarly, pauses] : cases) {
        auto owned = std::make_unique<ScriptedNetwork>(script);
        ScriptedNetwork* network = owned.get();
        NetworkAwarePause pause(
            std::make_unique<SnapshotComparison>(
                std::move(owned), [network] { return InterfaceSnapshot{std::to_string(network->snapshot)}; }),
            [network] { return network->wall; },
            [network] { return NetworkAwarePause::Monotonic(network->steady); });
        for (const auto& [end, endsAt] : pauses) {
            EXPECT_EQ(pause.wait(5min, mayEndEarly), end) << script.size();
            EXPECT_EQ(network->steady, endsAt) << script.size();
        }
    }
}

} // namespace
