// Building queries and reading answers with the system's resolver library. Answers are hostile input: every
// read goes through ns_initparse/ns_parserr, which check each length against the message's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace DnsMessage {

using Bytes = std::vector<unsigned char>;

// The largest DNS message, over TCP; spelled out because not every resolver header names it.
inline constexpr std::size_t maximumSize = 65535;

enum class Kind {
    answer,    // authoritative, NOERROR or NXDOMAIN, every record well formed: the server speaks for the zone
    noAnswer,  // REFUSED, SERVFAIL, not authoritative, a record that does not parse, or anything else
    truncated, // must be asked again over TCP
};

struct AddressReply {
    Kind kind;
    std::vector<std::string> addresses; // the host's records of the asked type, canonical text, sorted

    bool operator==(const AddressReply&) const = default;
};

struct Records {
    std::vector<std::string> values; // NS target names, or addresses as text
    std::uint32_t ttl;               // the least TTL among them
};

// Who is asked: a zone's own server answers from its zone, a resolver recurses.
enum class Asked { authority, resolver };

// A query with the library's random ID; empty when the name cannot be encoded.
Bytes query(const std::string& name, int type, Asked asked = Asked::authority);

// True when the bytes are a reply to `query`: its ID, a reply to a standard query, the same one question.
bool isReplyTo(std::span<const unsigned char> reply, std::span<const unsigned char> query);
bool isTruncated(std::span<const unsigned char> reply);

// Nothing when the bytes are not a reply to `query` (another ID or question, or malformed): the caller
// keeps listening. Otherwise the kind and the addresses of the asked name and type.
std::optional<AddressReply> readAddressReply(std::span<const unsigned char> reply,
                                             std::span<const unsigned char> query);

// The records of `type` (NS, A or AAAA) owned by `owner` in a resolver's reply, perhaps none (NXDOMAIN, no
// data); nothing when the reply is no answer (a failure code, truncated, any record malformed).
std::optional<Records> readRecords(std::span<const unsigned char> reply, const std::string& owner, int type);

// Names compare without letter case and without a trailing dot.
bool sameName(std::string a, std::string b);

} // namespace DnsMessage
