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
    in6_addr address{};
    return parse(AF_INET6, text, &address);
}

std::optional<std::string> normalize(std::string_view text) {
    in_addr v4{};
    if (parse(AF_INET, text, &v4)) {
        char buffer[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, &v4, buffer, sizeof buffer) == nullptr) {
            return std::nullopt;
        }
        return std::string(buffer);
    }
    in6_addr v6{};
    if (!parse(AF_INET6, text, &v6)) {
        return std::nullopt;
    }
    char buffer[INET6_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET6, &v6, buffer, sizeof buffer) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer);
}

} // namespace IpAddress
