#include "status/IpAddress.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace IpAddress {
namespace {

// inet_pton needs a NUL-terminated string; an embedded NUL would cut the text short, so it is invalid.
template <typename Address> std::optional<Address> parse(int family, std::string_view text) {
    Address address{};
    if (text.find('\0') != std::string_view::npos ||
        ::inet_pton(family, std::string(text).c_str(), &address) != 1) {
        return std::nullopt;
    }
    return address;
}

} // namespace

bool isValidIpv4(std::string_view text) {
    return parseIpv4(text).has_value();
}

std::optional<in_addr> parseIpv4(std::string_view text) {
    return parse<in_addr>(AF_INET, text);
}

bool isValidIpv6(std::string_view text) {
    return parseIpv6(text).has_value();
}

std::optional<in6_addr> parseIpv6(std::string_view text) {
    return parse<in6_addr>(AF_INET6, text);
}

std::optional<std::string> normalize(std::string_view text) {
    char buffer[INET6_ADDRSTRLEN] = {};
    const char* shown = nullptr;
    if (std::optional<in_addr> v4 = parseIpv4(text)) {
        shown = ::inet_ntop(AF_INET, &*v4, buffer, sizeof buffer);
    } else if (std::optional<in6_addr> v6 = parseIpv6(text)) {
        shown = ::inet_ntop(AF_INET6, &*v6, buffer, sizeof buffer);
    }
    return shown != nullptr ? std::optional<std::string>(shown) : std::nullopt;
}

} // namespace IpAddress
