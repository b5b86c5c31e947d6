// One question to one name server: UDP from a fresh ephemeral port, TCP when the answer is truncated, all
// within one deadline.
#pragma once

#include "dnscheck/DnsMessage.hpp"

#include <chrono>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>

namespace DnsTransport {

using Deadline = std::chrono::steady_clock::time_point;

// A name server's socket address.
struct Peer {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// A server at an IPv4 or IPv6 address given as text, port 53; nothing for anything else.
std::optional<Peer> peerAt(const std::string& address);

// The first reply to `query` from `peer` (over TCP when the UDP one is truncated); nothing when none came
// before the deadline.
std::optional<DnsMessage::Bytes> exchange(const Peer& peer, const DnsMessage::Bytes& query,
                                          Deadline deadline);

} // namespace DnsTransport
