// Asks the host name's authoritative name servers directly which addresses they serve for it.
#pragma once

#include "dnscheck/DnsTransport.hpp"
#include "status/AddressPair.hpp"
#include "status/DnsCheckFile.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What one round of questions found. Each family is judged on its own: a family asked that no server
// answered confirms nothing.
struct DnsObservation {
    bool answered = false; // at least one server gave an authoritative answer for a family
    bool ipv4Differs = false;
    bool ipv6Differs = false;
    std::vector<std::string> served; // every address the answering servers served, sorted
    std::vector<DnsServer> servers;  // those asked
    bool ipv4Unanswered = false;     // asked, and no server answered
    bool ipv6Unanswered = false;

    bool differs() const { return ipv4Differs || ipv6Differs; }
    bool matches() const { return answered && !differs() && !ipv4Unanswered && !ipv6Unanswered; }
};

class HostConfirming {
public:
    virtual ~HostConfirming() = default;
    virtual DnsObservation observe(const AddressPair& published) = 0;
};

// How the questions reach name servers: the system's resolvers and the network, or a test's script.
struct DnsWire {
    std::function<std::vector<DnsTransport::Peer>()> resolvers;
    std::function<std::optional<DnsMessage::Bytes>(const DnsTransport::Peer&, const DnsMessage::Bytes&,
                                                   DnsTransport::Deadline)>
        exchange;

    static DnsWire system();
};

class ResolverHostConfirmer : public HostConfirming {
public:
    using Clock = std::chrono::steady_clock;

    // Each server's share, split evenly between the families asked; each resolver's per question.
    static constexpr std::chrono::seconds perServer{2};
    // The zone search, and the questions to its servers, each.
    static constexpr std::chrono::seconds total{6};

    explicit ResolverHostConfirmer(std::string hostname, DnsWire wire = DnsWire::system());

    DnsObservation observe(const AddressPair& published) override;

private:
    struct Zone {
        std::vector<DnsServer> servers;
        Clock::time_point expires;
    };

    std::optional<Zone> discover() const;
    std::optional<DnsMessage::Records> lookUp(const std::vector<DnsTransport::Peer>& resolvers,
                                              const std::string& name, int type,
                                              Clock::time_point giveUp) const;

    std::string hostname_;
    DnsWire wire_;
    std::optional<Zone> zone_; // kept for the records' TTL
};
