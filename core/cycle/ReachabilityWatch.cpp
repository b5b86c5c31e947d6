#include "cycle/ReachabilityWatch.hpp"

#include "cycle/ReachabilityRule.hpp"

#include <utility>

ReachabilityWatch::ReachabilityWatch(const RouterAsking& router, const Clock& clock, ClientLog log)
    : router_(router), clock_(clock), log_(std::move(log)) {}

bool ReachabilityWatch::due() const {
    if (!asked_) {
        return true;
    }
    // A public address of the router's own is compared with the echoed one: when that moved, the router's is
    // as old as it (a shared one behind a carrier's pool of addresses is not, and is not asked again each
    // cycle).
    if (echo_ && askedWithEcho_ && echo_ != askedWithEcho_ &&
        sighting_.answer.kind == RouterAnswer::Kind::address &&
        ReachabilityRule::global(sighting_.answer.externalIpv4)) {
        return true;
    }
    const TimePoint now = clock_.now();
    // A clock set back counts as due, or the next question might wait for years.
    return now - *asked_ >= askSpacing || now < *asked_;
}

bool ReachabilityWatch::afterCycle(const std::optional<std::string>& echoedIpv4) {
    if (echoedIpv4) {
        echo_ = echoedIpv4;
    }
    const RouterSighting before = sighting_;
    const Reachability previous = verdict_;
    // Only an address the internet can reach has a router question worth asking.
    if (echo_ && ReachabilityRule::global(*echo_) && due()) {
        RouterSighting sighting = router_.askRouter();
        // On the same network a router that says nothing once leaves what it said before standing.
        if (!asked_ || sighting.answer.kind != RouterAnswer::Kind::none) {
            sighting_ = std::move(sighting);
        }
        asked_ = clock_.now();
        askedWithEcho_ = echo_;
    }
    verdict_ = ReachabilityRule::classify(sighting_.answer, echo_, sighting_.ownIpv4);
    if (verdict_ != previous && verdict_ != Reachability::unknown) {
        std::string line = ReachabilityText::line(verdict_);
        if (std::optional<std::string> router = routerIpv4()) {
            line += " (Router: " + *router + ")";
        }
        log_.info(line + ".");
    }
    return verdict_ != previous || sighting_.answer.externalIpv4 != before.answer.externalIpv4;
}

std::optional<Reachability> ReachabilityWatch::verdict() const {
    return verdict_ == Reachability::unknown ? std::nullopt : std::optional(verdict_);
}

std::optional<std::string> ReachabilityWatch::routerIpv4() const {
    if (sighting_.answer.kind != RouterAnswer::Kind::address) {
        return std::nullopt;
    }
    return sighting_.answer.externalIpv4;
}
