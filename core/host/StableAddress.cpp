#include "host/StableAddress.hpp"

#include "status/IpAddress.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <netinet/in.h>
#include <optional>
#include <tuple>

namespace {

using Bytes = std::array<unsigned char, 16>;

std::optional<Bytes> parsed(std::string_view text) {
    std::optional<in6_addr> address = IpAddress::parseIpv6(text);
    if (!address) {
        return std::nullopt;
    }
    Bytes bytes;
    std::memcpy(bytes.data(), &*address, bytes.size());
    return bytes;
}

bool samePrefix64(const Bytes& a, const Bytes& b) {
    return std::equal(a.begin(), a.begin() + 8, b.begin());
}

// Smaller is better: preferred before deprecated, the address's kind, then the longest preferred lifetime.
auto rank(const HostAddress& address, const Bytes& bytes) {
    const int kind = address.secured ? 0 : address.dhcp ? 1 : 2;
    const auto forEver = std::numeric_limits<std::chrono::seconds::rep>::max();
    const auto lifetime = address.preferredLifetime ? address.preferredLifetime->count() : forEver;
    return std::make_tuple(address.deprecated, kind, -lifetime, bytes);
}

} // namespace

StableAddressChoice chooseStableAddress(std::string_view echoed, const std::vector<HostAddress>& own) {
    const std::optional<Bytes> seen = parsed(echoed);
    if (!seen) {
        return {StableAddressChoice::Kind::asEchoed, std::string(echoed)};
    }
    const auto isEchoed = [&](const HostAddress& address) {
        return address.family == AF_INET6 && parsed(address.address) == seen;
    };
    const auto mine = std::find_if(own.begin(), own.end(), isEchoed);
    if (mine == own.end() || (!mine->temporary && !mine->deprecated)) {
        return {StableAddressChoice::Kind::asEchoed, std::string(echoed)};
    }
    const HostAddress* best = nullptr;
    Bytes bestBytes{};
    for (const HostAddress& candidate : own) {
        std::optional<Bytes> bytes = candidate.family == AF_INET6 ? parsed(candidate.address) : std::nullopt;
        if (!bytes || candidate.temporary || candidate.tentative || !samePrefix64(*bytes, *seen)) {
            continue;
        }
        if (best == nullptr || rank(candidate, *bytes) < rank(*best, bestBytes)) {
            best = &candidate;
            bestBytes = *bytes;
        }
    }
    if (best == nullptr) {
        return {StableAddressChoice::Kind::withheld, {}};
    }
    if (bestBytes == *seen) {
        // A deprecated stable address with nothing preferred beside it: the one seen is the best there is.
        return {StableAddressChoice::Kind::asEchoed, std::string(echoed)};
    }
    return {StableAddressChoice::Kind::replaced, best->address};
}
