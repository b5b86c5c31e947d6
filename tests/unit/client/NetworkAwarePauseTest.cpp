// The daemon's pause on a scripted wall clock: a source that moves the clock on, with network changes and
// sleeps of the machine at set moments.
#include "network/NetworkAwarePause.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using End = NetworkAwarePause::End;
using Ms = std::chrono::milliseconds;

// At `at` after the start the network changes, or the machine sleeps for `asleep` in the wait around it.
struct Happening {
    Ms at;
    std::chrono::minutes asleep{0};
};

class ScriptedNetwork final : public NetworkChangeSource {
public:
    ScriptedNetwork(NetworkAwarePause::TimePoint& now, std::vector<Happening> script)
        : now_(now), start_(now), script_(std::move(script)) {}

    bool waitForChange(Ms timeout) override {
        auto until = now_ + timeout;
        if (next_ == script_.size() || start_ + script_[next_].at > until) {
            now_ = until;
            return false;
        }
        Happening happening = script_[next_++];
        if (happening.asleep > 0min) {
            // The wait's own time passes awake; the wall clock also counts the sleep.
            now_ = until + happening.asleep;
            return false;
        }
        now_ = start_ + happening.at;
        return true;
    }

private:
    NetworkAwarePause::TimePoint& now_;
    NetworkAwarePause::TimePoint start_;
    std::vector<Happening> script_;
    std::size_t next_ = 0;
};

struct Pause {
    std::chrono::minutes length;
    End end;
    Ms endsAt; // after the start of the first pause
};

TEST(NetworkAwarePauseTest, EndsAfterSettledChangesOncePerMinuteAndAfterASleepPastTheDeadline) {
    struct Case {
        const char* name;
        std::vector<Happening> script;
        std::vector<Pause> pauses;
    };
    const std::vector<Case> cases = {
        {"changes settle for 2 s", {{10s}, {11500ms}}, {{5min, End::networkChange, 13500ms}}},
        {"a second early end waits for the minute",
         {{10s}, {13s}},
         {{5min, End::networkChange, 12s}, {5min, End::networkChange, 72s}}},
        {"a sleep past the deadline", {{30s, 60min}}, {{5min, End::wake, 61min}}},
        {"a short sleep keeps the deadline", {{30s, 2min}}, {{5min, End::interval, 5min}}},
    };
    for (const Case& c : cases) {
        NetworkAwarePause::TimePoint now{std::chrono::hours(24 * 365 * 50)};
        const auto start = now;
        NetworkAwarePause pause(std::make_unique<ScriptedNetwork>(now, c.script), [&now] { return now; });
        for (const Pause& expected : c.pauses) {
            EXPECT_EQ(pause.wait(expected.length, true), expected.end) << c.name;
            EXPECT_EQ(now - start, expected.endsAt) << c.name;
        }
    }
}

} // namespace
