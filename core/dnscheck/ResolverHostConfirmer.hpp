// Asks the host name's authoritative name servers directly which addresses they serve for it.
#pragma once

#include "dnscheck/DnsTransport.hpp"
#include "dnscheck/HostConfirming.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// How the questions reach name servers and how long they take: the system's resolvers, the network and the
// monotonic clock, or a test's script.
class DnsWire {
public:
    virtual ~DnsWire() = default;
    virtual std::vector<DnsTransport::Peer> resolvers() = 0;
    virtual std::optional<DnsMessage::Bytes> exchange(const DnsTransport::Peer& peer,
                                                      const DnsMessage::Bytes& query,
                                                      DnsTransport::Deadline deadline) = 0;
    virtual DnsTransport::Deadline now() = 0;

    // The system's resolvers, or the one at the address KORVANE_RESOLVER names (a test's, on port 53).
    static DnsWire& system();
};

class ResolverHostConfirmer : public HostConfirming {
public:
    using Clock = std::chrono::steady_clock;

    // Each server's share, split evenly between the families asked; each resolver's per question.
    static constexpr std::chrono::seconds perServer{2};
    // One observation from its start, the zone search and the questions to its servers together: what is
    // not answered by then confirms nothing.
    static constexpr std::chrono::seconds total{6};

    ResolverHostConfirmer(std::string hostname, DnsWire& wire);

    DnsObservation observe(const AddressPair& published) override;
    // The zone's name servers that observe() would ask, found afresh within `total`; none when no resolver
    // answered in time or the zone has no server with an address.
    std::vector<DnsServer> zoneServers() const;

private:
    struct Zone {
        std::vector<DnsServer> servers;
        Clock::time_point expires;
    };

    std::optional<Zone> discover(Clock::time_point giveUp) const;
    std::optional<DnsMessage::Records> lookUp(const std::vector<DnsTransport::Peer>& resolvers,
                                              const std::string& name, int type,
                                              Clock::time_point giveUp) const;

    std::string hostname_;
    DnsWire& wire_;
    std::optional<Zone> zone_; // kept for the records' TTL
};
