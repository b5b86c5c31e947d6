// Which IPv6 address to publish when an echo service saw one of the machine's own temporary or deprecated
// addresses: the stable address of the same /64 that the machine keeps for being reached.
#pragma once

#include "host/HostAddresses.hpp"

#include <string>
#include <string_view>
#include <vector>

struct StableAddressChoice {
    enum class Kind {
        asEchoed, // not ours (a router translates), or ours and stable already: publish it as it came
        replaced, // ours but temporary or deprecated: publish `address`, the stable one beside it
        withheld  // ours but temporary or deprecated, and no stable one beside it: publish no IPv6
    };
    Kind kind = Kind::asEchoed;
    std::string address; // what to publish; empty when withheld

    bool operator==(const StableAddressChoice&) const = default;
};

// Among the machine's addresses of the echoed one's /64 that are neither temporary nor tentative: a preferred
// one before a deprecated one, then a stable-private one before a DHCPv6 one before any other, then the one
// preferred longest; the lowest address settles a tie, so that the choice does not flap between cycles.
StableAddressChoice chooseStableAddress(std::string_view echoed, const std::vector<HostAddress>& own);
