// When the menu-bar app notifies, on a scripted clock: each change once, nothing at launch, for a poll that
// changes nothing or while idle, and each kind at most once an hour however the state flaps.
#include "NotificationRule.hpp"

#include <gtest/gtest.h>

namespace {

using State = DaemonStatus::State;
using DnsOutcome::confirmed, DnsOutcome::mismatch, DnsOutcome::pending;
constexpr State ok = State::ok, warning = State::warning, error = State::error, idle = State::idle;

struct Poll {
    int minute;
    std::optional<State> state;
    std::optional<DnsOutcome> dns;
    std::string expected; // "title|body", joined by "; "
    std::string host = "h.example";
};

const std::string W = "h.example funktioniert wieder|IP unverändert",
                  B = "h.example funktioniert nicht mehr|Abgelehnt: badauth",
                  M = "h.example: DNS zeigt woandershin|DNS zeigt 198.51.100.9 statt 203.0.113.7",
                  C = "h.example: DNS wieder bestätigt|DNS zeigt wieder 203.0.113.7";

std::vector<Poll> flapping() {
    std::vector<Poll> polls;
    for (int minute = 0; minute <= 50; minute += 10) {
        polls.push_back({minute, ok, confirmed, minute == 10 ? W + "; " + C : ""});
        polls.push_back({minute + 5, error, mismatch, minute == 0 ? B + "; " + M : ""});
    }
    // Settled while held back: told once the hour since the last of each kind has passed.
    polls.push_back({60, error, mismatch, ""});
    polls.push_back({65, error, mismatch, B + "; " + M});
    return polls;
}

TEST(NotificationRuleTest, TellsEachChangeOnceAndAtMostOnceAnHourPerKind) {
    const std::pair<const char*, std::vector<Poll>> scenarios[] = {
        {"daemon", {{0, error, {}, ""}, {1, error, {}, ""}, {2, ok, {}, W}, {3, warning, {}, ""}, {4, ok, {}, ""},
                    {5, warning, {}, ""}, {6, error, {}, B}, {7, warning, {}, ""}, {8, {}, {}, ""},
                    {9, error, {}, ""}, {70, ok, {}, W}, {71, {}, {}, ""}, {72, error, {}, B}}},
        {"idle", {{0, {}, {}, ""}, {1, idle, mismatch, ""}, {2, error, {}, B}, {3, idle, {}, ""},
                  {4, ok, confirmed, ""}}},
        {"dns", {{0, ok, pending, ""}, {1, ok, confirmed, ""}, {2, ok, mismatch, M}, {3, ok, mismatch, ""},
                 {4, ok, pending, ""}, {5, ok, confirmed, C}, {6, ok, {}, ""}, {7, ok, confirmed, ""}}},
        {"mismatch at launch", {{0, warning, mismatch, ""}, {1, ok, confirmed, C}}},
        {"flapping", flapping()},
        {"another host", {{0, error, {}, "", "a.example"}, {1, error, {}, B}, {2, ok, {}, "", ""},
                          {62, error, {}, "Der Host funktioniert nicht mehr|Abgelehnt: badauth", ""}}},
    };
    const auto start = std::chrono::system_clock::from_time_t(1'800'000'000);
    for (const auto& [name, polls] : scenarios) {
        NotificationRule rule;
        for (const Poll& poll : polls) {
            const auto now = start + std::chrono::minutes(poll.minute);
            std::optional<DaemonStatus> status;
            if (poll.state) {
                const char* message = *poll.state == error ? "Abgelehnt:\r\n\tbadauth" : "IP unverändert";
                status = DaemonStatus{*poll.state, message, poll.host, "203.0.113.7", {}, {}, now, "0.24.0"};
            }
            std::optional<DnsCheck> dns;
            if (poll.dns) {
                dns = DnsCheck{*poll.dns, {*poll.dns == confirmed ? "203.0.113.7" : "198.51.100.9"}, {}, now};
            }
            std::string posted;
            for (const Notification& n : rule.observe(status, dns, now)) {
                posted += (posted.empty() ? "" : "; ") + (n.title + "|" + n.body).toStdString();
            }
            EXPECT_EQ(posted, poll.expected) << name << ", minute " << poll.minute;
        }
    }
}

} // namespace
