#include "dnscheck/HostConfirmer.hpp"

#include "cycle/IpAddress.hpp"
#include "dnscheck/DnsMessage.hpp"
#include "dnscheck/DnsTransport.hpp"
#include "dnscheck/ResolverLibrary.hpp"

#include <algorithm>
#include <arpa/nameser.h>

namespace {

// A zone with more servers than this is asked at its first few: three silent ones already use the bound.
constexpr std::size_t maxServers = 4;
// Long enough to see a changed delegation within a day, short enough not to ask for it every cycle.
constexpr std::chrono::seconds minimumTtl{60};
constexpr std::chrono::seconds maximumTtl{86400};

// The system resolver, asked briefly: a network that blocks DNS must not hold the cycle up.
std::optional<DnsMessage::Records> lookUp(ResolverLibrary::State& resolver, const std::string& name,
                                          int type) {
    DnsMessage::Bytes answer(DnsMessage::maximumSize);
    int length = res_nquery(resolver.get(), name.c_str(), ns_c_in, type, answer.data(),
                            static_cast<int>(answer.size()));
    if (length <= 0) {
        return std::nullopt;
    }
    answer.resize(std::min<std::size_t>(static_cast<std::size_t>(length), answer.size()));
    return DnsMessage::readRecords(answer, name, type);
}

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

bool differs(const std::optional<std::string>& published, const std::vector<std::string>& served) {
    if (!published) {
        return false;
    }
    std::optional<std::string> canonical = IpAddress::normalize(*published);
    return served.size() != 1 || served.front() != canonical.value_or(*published);
}

void addServed(std::vector<std::string>& all, const std::vector<std::string>& more) {
    for (const std::string& address : more) {
        if (std::find(all.begin(), all.end(), address) == all.end()) {
            all.push_back(address);
        }
    }
}

} // namespace

ResolverHostConfirmer::ResolverHostConfirmer(std::string hostname) : hostname_(std::move(hostname)) {}

std::optional<ResolverHostConfirmer::Zone> ResolverHostConfirmer::discover() const {
    ResolverLibrary::State resolver;
    if (!resolver.ready()) {
        return std::nullopt;
    }
    resolver.get()->retrans = 2;
    resolver.get()->retry = 1;
    const Clock::time_point giveUp = Clock::now() + total;
    for (const std::string& candidate : ancestors(hostname_)) {
        if (Clock::now() >= giveUp) {
            return std::nullopt;
        }
        std::optional<DnsMessage::Records> names = lookUp(resolver, candidate, ns_t_ns);
        if (!names) {
            continue;
        }
        Zone zone{{}, {}};
        std::uint32_t ttl = names->ttl;
        for (const std::string& name : names->values) {
            if (zone.servers.size() == maxServers || Clock::now() >= giveUp) {
                break;
            }
            std::optional<DnsMessage::Records> addresses = lookUp(resolver, name, ns_t_a);
            if (!addresses) {
                addresses = lookUp(resolver, name, ns_t_aaaa);
            }
            if (addresses) {
                zone.servers.push_back({name, addresses->values.front()});
                ttl = std::min(ttl, addresses->ttl);
            }
        }
        if (zone.servers.empty()) {
            return std::nullopt;
        }
        zone.expires = Clock::now() +
                       std::clamp<std::chrono::seconds>(std::chrono::seconds(ttl), minimumTtl, maximumTtl);
        return zone;
    }
    return std::nullopt;
}

DnsObservation ResolverHostConfirmer::observe(const PublishedAddresses& published) {
    if (!zone_ || Clock::now() >= zone_->expires) {
        zone_ = discover();
    }
    DnsObservation seen;
    if (!zone_) {
        return seen;
    }
    const Clock::time_point giveUp = Clock::now() + total;
    for (const DnsServer& server : zone_->servers) {
        if (Clock::now() >= giveUp) {
            break;
        }
        seen.servers.push_back(server);
        const DnsTransport::Deadline deadline = std::min(Clock::now() + perServer, giveUp);
        for (auto [address, type, differsFlag] :
             {std::tuple{&published.ipv4, ns_t_a, &seen.ipv4Differs},
              std::tuple{&published.ipv6, ns_t_aaaa, &seen.ipv6Differs}}) {
            if (!*address) {
                continue;
            }
            std::optional<DnsMessage::AddressReply> reply =
                DnsTransport::ask(server.address, DnsMessage::addressQuery(hostname_, type), deadline);
            if (!reply || reply->kind != DnsMessage::Kind::answer) {
                continue;
            }
            seen.answered = true;
            *differsFlag = *differsFlag || differs(*address, reply->addresses);
            addServed(seen.served, reply->addresses);
        }
    }
    std::sort(seen.served.begin(), seen.served.end());
    if (!seen.answered) {
        // The delegation may have moved, or the network was down: look again next time.
        zone_.reset();
    }
    return seen;
}
