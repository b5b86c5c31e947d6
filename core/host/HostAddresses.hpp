// The machine's own interfaces and addresses with what the kernel knows of each: whether an interface is a
// tunnel's, whether an IPv6 address is a temporary (privacy) one, deprecated, stable-private, from DHCPv6,
// still being checked for duplicates, and how long it stays preferred. The one reader of them: the way past
// a VPN's tunnel, the discovery's choice of the stable address and the network watch all read it here.
#pragma once

#include "support/Expected.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct HostInterface {
    std::string name;
    unsigned index = 0;
    bool running = false;          // up, with a carrier
    bool pointToPoint = false;     // IFF_POINTOPOINT
    bool linkLayerAddress = false; // a hardware address that is not all zeros
    bool tunnelType = false;       // the kernel's own type says so (PPP, IP-in-IP, GRE, ...)
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
// The interfaces alone; with `index`, only that one (none, or on Linux a failure, when it has gone).
Expected<std::vector<HostInterface>> readHostInterfaces(std::optional<unsigned> index = std::nullopt);
