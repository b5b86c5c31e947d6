#include "dnscheck/DnsCheckRule.hpp"

namespace {

bool spaced(const std::optional<DnsCheckRule::TimePoint>& last, DnsCheckRule::TimePoint now) {
    return !last || now - *last >= DnsCheckRule::repairSpacing;
}

} // namespace

// A family served differently is known to be wrong even when the other went unanswered.
DnsOutcome DnsCheckRule::judge(const DnsObservation& seen) {
    if (seen.matches()) {
        retries_.clear();
        return DnsOutcome::confirmed;
    }
    if (!seen.differs()) {
        return DnsOutcome::unknown;
    }
    return retries_.empty() ? DnsOutcome::mismatch : DnsOutcome::pending;
}

DnsOutcome DnsCheckRule::afterCycle(bool pushed, const DnsObservation& seen, TimePoint now) {
    repairIpv4_ = repairIpv6_ = false;
    if (pushed) {
        retries_.clear();
        for (std::chrono::seconds delay : retryAfter) {
            retries_.push_back(now + delay);
        }
    }
    DnsOutcome outcome = judge(seen);
    // Only a record that differs while nothing was pushed was changed by someone else.
    if (outcome == DnsOutcome::mismatch && !pushed) {
        repairIpv4_ = seen.ipv4Differs;
        repairIpv6_ = seen.ipv6Differs;
    }
    return outcome;
}

DnsOutcome DnsCheckRule::afterRetry(const DnsObservation& seen) {
    if (!retries_.empty()) {
        retries_.pop_front();
    }
    return judge(seen);
}

std::optional<DnsCheckRule::TimePoint> DnsCheckRule::nextRetry() const {
    return retries_.empty() ? std::nullopt : std::optional<TimePoint>(retries_.front());
}

bool DnsCheckRule::takeRepair(TimePoint now) {
    const bool ipv4 = repairIpv4_ && spaced(lastRepairIpv4_, now);
    const bool ipv6 = repairIpv6_ && spaced(lastRepairIpv6_, now);
    repairIpv4_ = repairIpv6_ = false;
    if (ipv4) {
        lastRepairIpv4_ = now;
    }
    if (ipv6) {
        lastRepairIpv6_ = now;
    }
    return ipv4 || ipv6;
}
