#include "cycle/ReachabilityRule.hpp"

#include "status/IpAddress.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>

namespace {

struct Block {
    std::uint32_t network;
    unsigned prefix;
};

constexpr Block shared{0x64400000, 10};     // 100.64.0.0/10, a carrier's NAT
constexpr Block dsLiteLink{0xc0000000, 29}; // 192.0.0.0/29, DS-Lite's own link to the carrier
constexpr Block rfc1918[] = {{0x0a000000, 8}, {0xac100000, 12}, {0xc0a80000, 16}};
// Not reachable from the internet by their registration: this network, loopback, link-local, the protocol
// assignments, documentation, benchmarking, multicast and reserved, beside the private and shared ones.
constexpr Block special[] = {{0x00000000, 8},  {0x7f000000, 8},  {0xa9fe0000, 16},
                             {0xc0000000, 24}, {0xc0000200, 24}, {0xc6120000, 15},
                             {0xc6336400, 24}, {0xcb007100, 24}, {0xe0000000, 3}};

// The address in host order; nothing for any text that is not one.
std::optional<std::uint32_t> parsed(const std::string& text) {
    std::optional<in_addr> address = IpAddress::parseIpv4(text);
    return address ? std::optional<std::uint32_t>(ntohl(address->s_addr)) : std::nullopt;
}

bool within(std::uint32_t address, Block block) {
    const std::uint32_t mask = ~std::uint32_t(0) << (32 - block.prefix);
    return (address & mask) == block.network;
}

template <std::size_t n> bool withinAny(std::uint32_t address, const Block (&blocks)[n]) {
    return std::any_of(blocks, blocks + n, [address](Block block) { return within(address, block); });
}

bool carrierShared(const std::string& text) {
    std::optional<std::uint32_t> address = parsed(text);
    return address && within(*address, shared);
}

Reachability fromAddress(const std::string& external, std::uint32_t echoed) {
    std::optional<std::uint32_t> address = parsed(external);
    if (!address) {
        return Reachability::unknown;
    }
    if (*address == echoed) {
        return Reachability::forwardable;
    }
    if (within(*address, shared)) {
        return Reachability::carrierNat;
    }
    return within(*address, dsLiteLink) ? Reachability::dsLite : Reachability::secondRouter;
}

} // namespace

bool ReachabilityRule::global(const std::string& ipv4) {
    std::optional<std::uint32_t> address = parsed(ipv4);
    return address && !within(*address, shared) && !withinAny(*address, rfc1918) &&
           !withinAny(*address, special);
}

Reachability ReachabilityRule::classify(const RouterAnswer& router,
                                        const std::optional<std::string>& echoedIpv4,
                                        const std::vector<std::string>& ownIpv4) {
    if (!echoedIpv4 || !global(*echoedIpv4)) {
        return Reachability::unknown;
    }
    if (std::find(ownIpv4.begin(), ownIpv4.end(), *echoedIpv4) != ownIpv4.end()) {
        return Reachability::direct;
    }
    if (std::any_of(ownIpv4.begin(), ownIpv4.end(), carrierShared)) {
        return Reachability::carrierNat;
    }
    switch (router.kind) {
    case RouterAnswer::Kind::address:
        return fromAddress(router.externalIpv4, *parsed(*echoedIpv4));
    case RouterAnswer::Kind::noPublicAddress:
        return Reachability::carrierNat;
    case RouterAnswer::Kind::noIpv4:
        return Reachability::dsLite;
    case RouterAnswer::Kind::none:
        break;
    }
    return Reachability::unknown;
}
