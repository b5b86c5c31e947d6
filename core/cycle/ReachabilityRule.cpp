#include "cycle/ReachabilityRule.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>

namespace {

// The address in host order; nothing for any text that is not one.
std::optional<std::uint32_t> parsed(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return ntohl(address.s_addr);
}

bool within(std::uint32_t address, std::uint32_t network, unsigned prefix) {
    const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t(0) << (32 - prefix);
    return (address & mask) == network;
}

bool carrierShared(const std::string& text) {
    std::optional<std::uint32_t> address = parsed(text);
    return address && within(*address, 0x64400000, 10); // 100.64.0.0/10
}

bool dsLiteBridge(std::uint32_t address) {
    return within(address, 0xc0000000, 29); // 192.0.0.0/29
}

Reachability fromAddress(const std::string& external, const std::optional<std::string>& echoed) {
    std::optional<std::uint32_t> address = parsed(external);
    if (!address) {
        return Reachability::unknown;
    }
    if (echoed && parsed(*echoed) == address) {
        return Reachability::forwardable;
    }
    if (carrierShared(external)) {
        return Reachability::carrierNat;
    }
    if (dsLiteBridge(*address)) {
        return Reachability::dsLite;
    }
    const bool rfc1918 = within(*address, 0x0a000000, 8) || within(*address, 0xac100000, 12) ||
                         within(*address, 0xc0a80000, 16);
    // A public address that is not the echoed one says as much, but only beside an echoed one.
    return rfc1918 || echoed ? Reachability::secondRouter : Reachability::unknown;
}

} // namespace

Reachability ReachabilityRule::classify(const RouterAnswer& router,
                                        const std::optional<std::string>& echoedIpv4,
                                        const std::vector<std::string>& ownIpv4) {
    if (echoedIpv4 && std::find(ownIpv4.begin(), ownIpv4.end(), *echoedIpv4) != ownIpv4.end()) {
        return Reachability::direct;
    }
    if (std::any_of(ownIpv4.begin(), ownIpv4.end(), carrierShared)) {
        return Reachability::carrierNat;
    }
    switch (router.kind) {
    case RouterAnswer::Kind::address:
        return fromAddress(router.externalIpv4, echoedIpv4);
    case RouterAnswer::Kind::noPublicAddress:
        return Reachability::carrierNat;
    case RouterAnswer::Kind::noIpv4:
        return echoedIpv4 ? Reachability::dsLite : Reachability::unknown;
    case RouterAnswer::Kind::none:
        break;
    }
    return Reachability::unknown;
}
