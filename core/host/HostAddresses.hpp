// The machine's own interfaces and addresses with what the kernel knows of each: whether an IPv6 address is
// a temporary (privacy) one, deprecated, stable-private, from DHCPv6, still being checked for duplicates,
// and how long it stays preferred. The one reader of them: the discovery's choice of the stable address and
// the network watch both read it here.
#pragma once

#include "support/Failure.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct HostInterface {
    std::string name;
    unsigned index = 0;
    bool running = false; // up, with a carrier
    bool loopback = false;

    bool operator==(const HostInterface&) const = default;
};

struct HostAddress {
    std::string interfaceName;
    unsigned interfaceIndex = 0;
    int family = 0;      // AF_INET or AF_INET6
    std::string address; // inet_ntop's text
    unsigned prefixLength = 0;
    bool temporary = false;  // an RFC 8981 privacy address, made to rotate
    bool deprecated = false; // its preferred lifetime is over: kept for old connections only
    bool secured = false;    // a stable-private interface identifier (RFC 7217)
    bool dhcp = false;       // leased by DHCPv6
    bool tentative = false;  // not usable yet, or found to be a duplicate
    // How long the address stays preferred from now; absent: for ever.
    std::optional<std::chrono::seconds> preferredLifetime;

    bool operator==(const HostAddress&) const = default;
};

struct HostAddresses {
    std::vector<HostInterface> interfaces;
    std::vector<HostAddress> addresses;
};

// Every interface and every IPv4 and IPv6 address of the machine; fails when the kernel cannot be asked or
// answers something this reader cannot trust (one file per platform).
Expected<HostAddresses> readHostAddresses();
