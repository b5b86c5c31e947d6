// Whether the published IPv4 address reaches this Mac, drawn from what the home router says of its own
// external address, the address the echo service saw and the Mac's own IPv4 addresses. Pure.
#pragma once

#include "host/RouterAddress.hpp"
#include "status/Reachability.hpp"

#include <optional>
#include <string>
#include <vector>

namespace ReachabilityRule {

// Unknown unless the echoed address is a global one: of any other nothing can be said from outside. Then
// direct when it is the Mac's own, and carrier NAT when the Mac's own address is a carrier's shared one (a
// mobile hotspot), whatever the router says; otherwise from the router's answer: forwardable when its address
// is the echoed one, carrier NAT for a shared address (100.64.0.0/10) or an answer that it has none, DS-Lite
// for an address in 192.0.0.0/29 or a router without IPv4 of its own while IPv4 gets out, a second router for
// any other address; unknown when no router answered.
Reachability classify(const RouterAnswer& router, const std::optional<std::string>& echoedIpv4,
                      const std::vector<std::string>& ownIpv4);
// Outside every special-purpose block (private, shared, loopback, link-local, documentation, benchmarking,
// multicast, reserved): an address the internet can reach.
bool global(const std::string& ipv4);

} // namespace ReachabilityRule
