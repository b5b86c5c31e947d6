// What the home router says of its own external IPv4 address, asked of the default IPv4 gateway of the
// interface discovery leaves by (below a VPN's tunnel the physical one): PCP, NAT-PMP and UPnP IGD on Linux,
// the system's own NAT port-mapping client on macOS. The question maps nothing and is bounded as a whole, so
// that a router that never answers costs its caller at most `bound`.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct RouterAnswer {
    enum class Kind {
        none,            // no router answered: no protocol enabled, a firewall, no gateway
        address,         // the router named its external address (externalIpv4), reserved or not
        noPublicAddress, // it answered that it has no usable public address (as routers behind carrier NAT
                         // do)
        noIpv4,          // it answered that its IPv4 connection to the internet is down
    };
    Kind kind = Kind::none;
    std::string externalIpv4; // inet_ntop's text, with `address` only

    bool operator==(const RouterAnswer&) const = default;
};

// The answer and the machine's own IPv4 addresses on the interface the router was asked through.
struct RouterSighting {
    RouterAnswer answer;
    std::vector<std::string> ownIpv4;

    bool operator==(const RouterSighting&) const = default;
};

namespace RouterAddress {

constexpr std::chrono::seconds bound{3};

// Finds the interface and asks on a thread of its own, waiting for it at most `bound`; a question past it is
// left to finish unseen. Never throws.
RouterSighting ask();

// The platform's part (RouterAddressLinux.cpp, RouterAddressMac.mm): asks the default IPv4 gateway of the
// interface with `index`, returning by `deadline` wherever the platform's calls allow it.
RouterAnswer askGateway(unsigned index, std::chrono::steady_clock::time_point deadline);

} // namespace RouterAddress
