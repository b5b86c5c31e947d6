// The daemon's confirmation after each cycle: asks the name servers, applies the rule, logs an outcome when
// it changes and publishes it in dnscheck.json.
#pragma once

#include "dnscheck/DnsCheckRule.hpp"
#include "dnscheck/HostConfirming.hpp"
#include "status/DnsCheckFile.hpp"
#include "support/ClientLog.hpp"
#include "support/Clock.hpp"

#include <memory>
#include <optional>
#include <string>

class DnsConfirmation {
public:
    using TimePoint = DnsCheckRule::TimePoint;

    DnsConfirmation(std::string hostname, std::shared_ptr<HostConfirming> confirmer, DnsCheckFile file,
                    ClientLog log, const Clock& clock);

    // After a healthy cycle: `pushed` when it sent the addresses.
    void afterCycle(bool pushed, const AddressPair& published);
    std::optional<TimePoint> nextRetry() const { return rule_.nextRetry(); }
    void retry();

    // True (and logged) when the next cycle is to push the addresses again.
    bool takeRepair();

private:
    void publish(DnsOutcome outcome, const DnsObservation& seen);

    std::string hostname_;
    std::shared_ptr<HostConfirming> confirmer_;
    DnsCheckFile file_;
    ClientLog log_;
    const Clock& clock_;
    DnsCheckRule rule_;
    AddressPair published_;
    std::optional<DnsOutcome> logged_;
};
