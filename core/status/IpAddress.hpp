// Address tests and canonical text forms, delegated wholly to inet_pton/inet_ntop.
#pragma once

#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>

namespace IpAddress {

bool isValidIpv4(std::string_view text);
// The dotted quad as the kernel holds it; nothing for any other text.
std::optional<in_addr> parseIpv4(std::string_view text);
bool isValidIpv6(std::string_view text);
// The address as the kernel holds it; nothing for any other text.
std::optional<in6_addr> parseIpv6(std::string_view text);
// Canonical form (dotted quad; RFC 5952 for IPv6), or nothing when the text is neither.
std::optional<std::string> normalize(std::string_view text);

} // namespace IpAddress
