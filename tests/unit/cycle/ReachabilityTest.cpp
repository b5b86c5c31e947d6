// Whether the published IPv4 address reaches the Mac: the rule's table, from what routers answer (miniupnpd's
// PCP names even a shared or private WAN address; its NAT-PMP and UPnP only say "none"; dns_sd's DoubleNAT),
// and when the daemon asks the router and what it says when the verdict changes.
#include "cycle/ReachabilityRule.hpp"
#include "cycle/ReachabilityWatch.hpp"

#include "../ScriptedClock.hpp"

#include <gtest/gtest.h>

namespace {

using Kind = RouterAnswer::Kind;
using Own = std::vector<std::string>;
using Echo = std::optional<std::string>;

TEST(ReachabilityRule, FromTheRoutersAnswerTheEchoedAddressAndTheMacsOwn) {
    // clang-format off
    const std::tuple<RouterAnswer, Echo, Own, Reachability> cases[] = {
        {{Kind::address, "80.1.1.2"}, "80.1.1.2", {"10.0.0.2"}, Reachability::forwardable},
        {{Kind::address, "100.64.0.2"}, "80.1.1.9", {"10.0.0.2"}, Reachability::carrierNat},
        {{Kind::address, "100.127.255.254"}, "80.1.1.9", {"10.0.0.2"}, Reachability::carrierNat},
        {{Kind::address, "100.128.0.1"}, "80.1.1.9", {"10.0.0.2"}, Reachability::secondRouter},
        {{Kind::address, "192.0.0.2"}, "80.1.1.9", {"10.0.0.2"}, Reachability::dsLite},
        {{Kind::address, "192.0.0.8"}, "80.1.1.9", {"10.0.0.2"}, Reachability::secondRouter},
        {{Kind::address, "192.168.178.2"}, "80.1.1.9", {"10.0.0.2"}, Reachability::secondRouter},
        {{Kind::address, "172.31.0.2"}, "80.1.1.9", {"10.0.0.2"}, Reachability::secondRouter},
        {{Kind::address, "80.1.1.2"}, "80.1.1.9", {"10.0.0.2"}, Reachability::secondRouter},
        // Without an echoed global address to compare nothing is said.
        {{Kind::address, "192.168.178.2"}, std::nullopt, {"10.0.0.2"}, Reachability::unknown},
        {{Kind::address, "203.0.113.7"}, "203.0.113.7", {"10.0.0.2"}, Reachability::unknown},
        {{Kind::noPublicAddress, ""}, "198.18.0.7", {"10.0.0.2"}, Reachability::unknown},
        {{Kind::noPublicAddress, ""}, "80.1.1.9", {"10.0.0.2"}, Reachability::carrierNat},
        {{Kind::noIpv4, ""}, "80.1.1.9", {"10.0.0.2"}, Reachability::dsLite},
        {{Kind::noIpv4, ""}, std::nullopt, {"10.0.0.2"}, Reachability::unknown},
        {{Kind::none, ""}, "80.1.1.9", {"10.0.0.2"}, Reachability::unknown},
        // The Mac's own address: the echoed one (dns_sd then names it too), or a hotspot's shared one.
        {{Kind::address, "80.1.1.2"}, "80.1.1.2", {"10.0.0.2", "80.1.1.2"}, Reachability::direct},
        {{Kind::none, ""}, "80.1.1.2", {"80.1.1.2"}, Reachability::direct},
        {{Kind::none, ""}, "80.1.1.9", {"100.88.0.5"}, Reachability::carrierNat}};
    // clang-format on
    for (const auto& [router, echo, own, verdict] : cases) {
        EXPECT_EQ(ReachabilityRule::classify(router, echo, own), verdict)
            << router.externalIpv4 << " " << echo.value_or("-") << " " << own.back();
    }
}

TEST(ReachabilityWatch,
     AsksAtTheStartAfterAChangeOrAnEchoLeavingTheRoutersAddressAndHourlySayingEachNewVerdict) {
    struct Router final : RouterAsking {
        RouterSighting askRouter() const override { return {answers.at(asked++), {"10.0.0.2"}}; }
        std::vector<RouterAnswer> answers = {
            {Kind::address, "80.1.1.2"}, {}, {Kind::address, "100.64.0.2"}, {}, {}};
        mutable std::size_t asked = 0;
    } asking;
    const ScriptedClock clock;
    const auto start = clock.wall;
    std::vector<std::string> lines;
    ReachabilityWatch watch(
        asking, clock, ClientLog([&](ClientLog::Level, const std::string& line) { lines.push_back(line); }));
    const Echo a = "80.1.1.2", b = "80.1.1.9";
    // Minutes after the start, a network change before it, the echoed address; then the questions so far,
    // whether the status changes, the verdict and the router's address.
    // clang-format off
    const std::tuple<int, bool, Echo, std::size_t, bool, std::optional<Reachability>, Echo> steps[] = {
        {0, false, "203.0.113.7", 0, false, std::nullopt, std::nullopt}, // no global address: no question
        {1, false, a, 1, true, Reachability::forwardable, a},
        {60, false, a, 1, false, Reachability::forwardable, a},
        {61, false, std::nullopt, 2, false, Reachability::forwardable, a}, // silent once: it still stands
        {62, false, b, 3, true, Reachability::carrierNat, "100.64.0.2"},  // the echo left the router's
        {63, false, a, 3, false, Reachability::carrierNat, "100.64.0.2"}, // a carrier's pool
        {64, true, a, 4, true, std::nullopt, std::nullopt},                // a new network without an answer
        {-5, false, a, 5, false, std::nullopt, std::nullopt}};             // the clock set back
    // clang-format on
    for (const auto& [minutes, changed, echo, questions, written, verdict, router] : steps) {
        clock.wall = start + std::chrono::minutes(minutes);
        if (changed) {
            watch.networkChanged();
        }
        EXPECT_EQ(watch.afterCycle(echo), written) << minutes;
        EXPECT_EQ(std::make_tuple(asking.asked, watch.verdict(), watch.routerIpv4()),
                  std::make_tuple(questions, verdict, router))
            << minutes;
    }
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "IPv4 von außen: erreichbar für Ports, die der Router weiterleitet (Router: 80.1.1.2).",
                  "IPv4 von außen nicht erreichbar: Carrier-NAT des Anbieters (Router: 100.64.0.2)."}));
}

} // namespace
