#include "status/IpAddress.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace IpAddress {
namespace {

// inet_pton needs a NUL-terminated string; an embedded NUL would cut the text short, so it is invalid.
bool parse(int family, std::string_view text, void* out) {
    if (text.find('\0') != std::string_view::npos) {
        return false;
    }
    std::string terminated(text);
    return ::inet_pton(family, terminated.c_str(), out) == 1;
}

} // namespace

bool isValidIpv4(std::string_view text) {
    return parseIpv4(text).has_value();
}

std::optional<in_addr> parseIpv4(std::string_view text) {
    in_addr address{};
    if (!parse(AF_INET, text, &address)) {
        return std::nullopt;
    }
    return address;
}

bool isValidIpv6(std::string_view text) {
    return parseIpv6(text).has_value();
}

std::optional<in6_addr> parseIpv6(std::string_view text) {
    in6_addr address{};
    if (!parse(AF_INET6, text, &address)) {
        return std::nullopt;
    }
    return address;
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
