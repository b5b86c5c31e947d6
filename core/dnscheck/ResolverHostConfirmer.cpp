#include "dnscheck/ResolverHostConfirmer.hpp"

#include "dnscheck/DnsMessage.hpp"
#include "dnscheck/ResolverLibrary.hpp"
#include "status/IpAddress.hpp"
#include "support/Environment.hpp"

#include <algorithm>
#include <arpa/nameser.h>

namespace {

using Clock = ResolverHostConfirmer::Clock;

// A zone with more servers than this is asked at its first few: three silent ones already use the bound.
constexpr std::size_t maxServers = 4;
// Long enough to see a changed delegation within a day, short enough not to ask for it every cycle.
constexpr std::chrono::seconds minimumTtl{60};
constexpr std::chrono::seconds maximumTtl{86400};

// host.example.net, example.net, net: the first that owns NS records is the zone.
std::vector<std::string> ancestors(const std::string& hostname) {
    std::vector<std::string> names;
    std::string name = hostname;
    while (!name.empty() && name != ".") {
        names.push_back(name);
        std::size_t dot = name.find('.');
        if (dot == std::string::npos) {
            break;
        }
        name = name.substr(dot + 1);
    }
    return names;
}

// One family's question: what was published, and what the servers said so far.
struct Family {
    const std::optional<std::string>& published;
    int type;
    bool& differs;
    bool& unanswered;
};

// An authoritative answer for a family counts; anything but exactly the published address differs.
void take(const DnsMessage::AddressReply& reply, Family& family, DnsObservation& seen) {
    if (reply.kind != DnsMessage::Kind::answer) {
        return;
    }
    seen.answered = true;
    family.unanswered = false;
    const std::string canonical = IpAddress::normalize(*family.published).value_or(*family.published);
    family.differs = family.differs || reply.addresses != std::vector<std::string>{canonical};
    for (const std::string& address : reply.addresses) {
        if (std::find(seen.served.begin(), seen.served.end(), address) == seen.served.end()) {
            seen.served.push_back(address);
        }
    }
}

class SystemDnsWire final : public DnsWire {
public:
    std::vector<DnsTransport::Peer> resolvers() override {
        std::optional<std::string> named = Environment::value("KORVANE_RESOLVER");
        if (!named) {
            return ResolverLibrary::systemResolvers();
        }
        std::optional<DnsTransport::Peer> peer = DnsTransport::peerAt(*named);
        return peer ? std::vector{*peer} : std::vector<DnsTransport::Peer>{};
    }
    std::optional<DnsMessage::Bytes> exchange(const DnsTransport::Peer& peer, const DnsMessage::Bytes& query,
                                              DnsTransport::Deadline deadline) override {
        return DnsTransport::exchange(peer, query, deadline);
    }
    DnsTransport::Deadline now() override { return std::chrono::steady_clock::now(); }
};

} // namespace

DnsWire& DnsWire::system() {
    static SystemDnsWire wire;
    return wire;
}

ResolverHostConfirmer::ResolverHostConfirmer(std::string hostname, DnsWire& wire)
    : hostname_(std::move(hostname)), wire_(wire) {}

// The system's resolvers in turn, each for at most perServer, until one gives an answer: our own questions
// rather than the resolver library's, whose TCP fallback waits without a limit.
std::optional<DnsMessage::Records>
ResolverHostConfirmer::lookUp(const std::vector<DnsTransport::Peer>& resolvers, const std::string& name,
                              int type, Clock::time_point giveUp) const {
    const DnsMessage::Bytes query = DnsMessage::query(name, type, DnsMessage::Asked::resolver);
    for (const DnsTransport::Peer& resolver : resolvers) {
        if (wire_.now() >= giveUp) {
            break;
        }
        std::optional<DnsMessage::Bytes> reply =
            wire_.exchange(resolver, query, std::min(wire_.now() + perServer, giveUp));
        std::optional<DnsMessage::Records> records =
            reply ? DnsMessage::readRecords(*reply, name, type) : std::nullopt;
        if (records) {
            return records->values.empty() ? std::nullopt : records;
        }
    }
    return std::nullopt;
}

std::optional<ResolverHostConfirmer::Zone> ResolverHostConfirmer::discover(Clock::time_point giveUp) const {
    const std::vector<DnsTransport::Peer> resolvers = wire_.resolvers();
    for (const std::string& candidate : ancestors(hostname_)) {
        std::optional<DnsMessage::Records> names = lookUp(resolvers, candidate, ns_t_ns, giveUp);
        if (!names) {
            continue;
        }
        Zone zone{{}, {}};
        std::uint32_t ttl = names->ttl;
        for (const std::string& name : names->values) {
            if (zone.servers.size() == maxServers || wire_.now() >= giveUp) {
                break;
            }
            std::optional<DnsMessage::Records> addresses = lookUp(resolvers, name, ns_t_a, giveUp);
            if (!addresses) {
                addresses = lookUp(resolvers, name, ns_t_aaaa, giveUp);
            }
            if (addresses) {
                zone.servers.push_back({name, addresses->values.front()});
                ttl = std::min(ttl, addresses->ttl);
            }
        }
        if (zone.servers.empty()) {
            return std::nullopt;
        }
        zone.expires =
            wire_.now() + std::clamp<std::chrono::seconds>(std::chrono::seconds(ttl), minimumTtl, maximumTtl);
        return zone;
    }
    return std::nullopt;
}

std::vector<DnsServer> ResolverHostConfirmer::zoneServers() const {
    std::optional<Zone> zone = discover(wire_.now() + total);
    return zone ? zone->servers : std::vector<DnsServer>{};
}

DnsObservation ResolverHostConfirmer::observe(const AddressPair& published) {
    const Clock::time_point giveUp = wire_.now() + total;
    if (!zone_ || wire_.now() >= zone_->expires) {
        zone_ = discover(giveUp);
    }
    DnsObservation seen;
    std::vector<Family> families;
    for (Family family : {Family{published.ipv4, ns_t_a, seen.ipv4Differs, seen.ipv4Unanswered},
                          Family{published.ipv6, ns_t_aaaa, seen.ipv6Differs, seen.ipv6Unanswered}}) {
        if (family.published) {
            family.unanswered = true;
            families.push_back(family);
        }
    }
    if (!zone_ || families.empty()) {
        return seen;
    }
    // A slow answer for one family must not use up the other's time.
    const auto share = std::chrono::duration_cast<Clock::duration>(perServer) / families.size();
    for (const DnsServer& server : zone_->servers) {
        if (wire_.now() >= giveUp) {
            break;
        }
        seen.servers.push_back(server);
        const std::optional<DnsTransport::Peer> peer = DnsTransport::peerAt(server.address);
        Clock::time_point end = wire_.now();
        for (Family& family : families) {
            end += share;
            const DnsMessage::Bytes query = DnsMessage::query(hostname_, family.type);
            std::optional<DnsMessage::Bytes> reply =
                peer ? wire_.exchange(*peer, query, std::min(end, giveUp)) : std::nullopt;
            if (std::optional<DnsMessage::AddressReply> read =
                    reply ? DnsMessage::readAddressReply(*reply, query) : std::nullopt) {
                take(*read, family, seen);
            }
        }
    }
    std::sort(seen.served.begin(), seen.served.end());
    if (!seen.answered) {
        // The delegation may have moved, or the network was down: look again next time.
        zone_.reset();
    }
    return seen;
}
