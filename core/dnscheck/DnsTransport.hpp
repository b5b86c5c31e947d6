// One question to one name server: UDP from a fresh ephemeral port, TCP when the answer is truncated, all
// within one deadline.
#pragma once

#include "dnscheck/DnsMessage.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace DnsTransport {

using Deadline = std::chrono::steady_clock::time_point;

// The server's address as text (IPv4 or IPv6), port 53 unless given. Nothing when no reply to this query
// came before the deadline.
std::optional<DnsMessage::AddressReply> ask(const std::string& address, const DnsMessage::Bytes& query,
                                            Deadline deadline, int port = 53);

} // namespace DnsTransport
