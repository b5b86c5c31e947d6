// When the name servers' answer counts as confirmed, pending, mismatch or unknown, when to ask again, and
// when a record changed by someone else is pushed again. Pure: the caller brings the time.
#pragma once

#include "dnscheck/HostConfirming.hpp"
#include "status/DnsCheckFile.hpp"

#include <array>
#include <chrono>
#include <deque>
#include <optional>

class DnsCheckRule {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    // After an update the servers may take a while to publish it.
    static constexpr std::array<std::chrono::seconds, 3> retryAfter{
        std::chrono::seconds(15), std::chrono::seconds(60), std::chrono::seconds(300)};
    // A forged or stale answer must cost at most one update an hour per family.
    static constexpr std::chrono::hours repairSpacing{1};

    // After a cycle that pushed the addresses (`pushed`) or found them unchanged.
    DnsOutcome afterCycle(bool pushed, const DnsObservation& seen, TimePoint now);
    // At the time nextRetry() gave.
    DnsOutcome afterRetry(const DnsObservation& seen);
    std::optional<TimePoint> nextRetry() const;

    // True when the next cycle should push the addresses again, and notes that it will.
    bool takeRepair(TimePoint now);

private:
    DnsOutcome judge(const DnsObservation& seen);

    std::deque<TimePoint> retries_;
    bool repairIpv4_ = false;
    bool repairIpv6_ = false;
    std::optional<TimePoint> lastRepairIpv4_;
    std::optional<TimePoint> lastRepairIpv6_;
};
