// Asks the host name's authoritative name servers directly which addresses they serve for it.
#pragma once

#include "cycle/UpdateOrchestrator.hpp"
#include "status/DnsCheckFile.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What one round of questions found.
struct DnsObservation {
    bool answered = false; // at least one server gave an authoritative answer
    bool ipv4Differs = false;
    bool ipv6Differs = false;
    std::vector<std::string> served; // every address the answering servers served, sorted
    std::vector<DnsServer> servers;  // those asked

    bool matches() const { return answered && !ipv4Differs && !ipv6Differs; }
};

class HostConfirming {
public:
    virtual ~HostConfirming() = default;
    virtual DnsObservation observe(const PublishedAddresses& published) = 0;
};

class ResolverHostConfirmer : public HostConfirming {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::seconds perServer{2};
    static constexpr std::chrono::seconds total{6};

    explicit ResolverHostConfirmer(std::string hostname);

    DnsObservation observe(const PublishedAddresses& published) override;

private:
    struct Zone {
        std::vector<DnsServer> servers;
        Clock::time_point expires;
    };

    std::optional<Zone> discover() const;

    std::string hostname_;
    std::optional<Zone> zone_; // kept for the records' TTL
};
