// When the menu-bar app notifies, on a scripted clock: each change once, nothing at launch, for a poll that
// changes nothing or while idle, and each kind at most once an hour however the state flaps.
#include "NotificationRule.hpp"

#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace {

// A poll is "{minute}{state}{dns}[{marks}][={posted}]": state o(k), w(arning), e(rror), i(dle) or - (no
// status); dns c(onfirmed), p(ending), m(ismatch) or - (none for this host); marks: first the router's
// verdict d(irect), f(orwardable), n (carrier NAT), s (DS-Lite), r (second router), u(nknown) or none, last
// the host a (a.example) or _ (empty), else h.example; posted B(roken), W(orks again), M(ismatch),
// C(onfirmed again), U(nreachable), in order.
TEST(NotificationRuleTest, TellsEachChangeOnceAndAtMostOnceAnHourPerKind) {
    const std::pair<const char*, std::string> scenarios[] = {
        {"daemon", "0e- 1e- 2o-=W 3w- 4o- 5w- 6e-=B 7w- 8-- 9e- 70o-=W 71-- 72e-=B"},
        {"idle", "0-- 1im 2e-=B 3i- 4oc"},
        {"dns", "0op 1oc 2om=M 3om 4op 5oc=C 6o- 7oc"},
        {"mismatch at launch", "0wm 1oc=C"},
        // Flapping every five minutes, then settled while held back: told once the hour has passed.
        {"flapping", "0oc 5em=BM 10oc=WC 15em 20oc 25em 30oc 35em 40oc 45em 50oc 55em 60em 65em=BM"},
        {"another host", "0e-a 1e-=B 2o-_ 62e-_=B"},
        // Once per verdict, not again when it comes back after a network change, a new host or idling.
        {"reachability", "0o-n 1o-n 2o-r=U 3o- 4o-u 5o-r 6i-r 7o-ra 8o-d 9o-r 70o-r=U 131w-n=U"},
    };
    const std::string states = "owei", outcomes = "cpmu", verdicts = "dfnsru"; // as the enumerations
    // DS-Lite and a published IPv6 address: the delegate's test.
    std::map<char, std::string> why = {
        {'n',
         "Der Anbieter teilt seine IPv4-Adresse mit anderen Kunden (Carrier-NAT). Abhilfe: beim Anbieter "
         "eine öffentliche IPv4-Adresse erfragen."},
        {'r',
         "Vor dem Router dieses Netzes steht ein zweiter Router. Abhilfe: im Router am Internetanschluss "
         "eine Portweiterleitung zu diesem Router einrichten."}};
    const auto start = std::chrono::system_clock::from_time_t(1'800'000'000);
    for (const auto& [name, script] : scenarios) {
        NotificationRule rule;
        std::istringstream polls(script);
        for (std::string poll; polls >> poll;) {
            std::size_t at = 0;
            const auto now = start + std::chrono::minutes(std::stoi(poll, &at));
            const std::string marks = poll.substr(at + 2, poll.find('=') - std::min(poll.find('='), at + 2));
            const char hostLetter = marks.empty() ? '=' : marks.back();
            const std::string host = hostLetter == 'a' ? "a.example" : hostLetter == '_' ? "" : "h.example";
            const std::size_t verdict = verdicts.find(marks.empty() ? '-' : marks[0]);
            const std::size_t state = states.find(poll[at]), outcome = outcomes.find(poll[at + 1]);
            std::optional<DaemonStatus> status;
            if (state != std::string::npos) {
                const char* message = poll[at] == 'e' ? "Abgelehnt:\r\n\tbadauth" : "IP unverändert";
                status = DaemonStatus{
                    DaemonStatus::State(state), message, host, "203.0.113.7", {}, {}, now, "0.24.0"};
                if (verdict != std::string::npos) {
                    status->reachability = Reachability(verdict);
                }
            }
            std::optional<DnsCheck> dns;
            if (outcome != std::string::npos) {
                const char* served = poll[at + 1] == 'c' ? "203.0.113.7" : "198.51.100.9";
                dns = DnsCheck{host, DnsOutcome(outcome), {served}, {}, now};
            }
            const std::string shown = host.empty() ? "Der Host" : host;
            const std::map<char, std::string> texts = {
                {'B', shown + " funktioniert nicht mehr|Abgelehnt: badauth"},
                {'W', shown + " funktioniert wieder|IP unverändert"},
                {'M', shown + ": DNS zeigt woandershin|DNS zeigt 198.51.100.9 statt 203.0.113.7"},
                {'C', shown + ": DNS wieder bestätigt|DNS zeigt wieder 203.0.113.7"},
                {'U', shown + ": über IPv4 von außen nicht erreichbar|" + why[marks[0]] +
                          " Oder IPv6 einschalten (sudo korvane-client configure --ipv6), falls der Mac eine "
                          "öffentliche IPv6-Adresse hat."}};
            std::string expected, posted;
            for (char kind : poll.substr(std::min(poll.find('='), poll.size() - 1) + 1)) {
                expected += texts.at(kind) + ";";
            }
            for (const Notification& n : rule.observe(status, dns, now)) {
                posted += (n.title + "|" + n.body).toStdString() + ";";
            }
            EXPECT_EQ(posted, expected) << name << ": " << poll;
        }
    }
}

} // namespace
