// Any text: the address tests agree with normalize, and a canonical form is a fixed point.
#include "Fuzz.hpp"
#include "status/IpAddress.hpp"

#include <optional>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    bool ipv4 = IpAddress::isValidIpv4(text);
    bool ipv6 = IpAddress::isValidIpv6(text);
    std::optional<std::string> normalized = IpAddress::normalize(text);

    require(!(ipv4 && ipv6));
    require(normalized.has_value() == (ipv4 || ipv6));
    if (!normalized) {
        return 0;
    }
    // The canonical form keeps the family, re-normalises to itself and fits the platform's buffers.
    require(IpAddress::isValidIpv4(*normalized) == ipv4 && IpAddress::isValidIpv6(*normalized) == ipv6);
    require(IpAddress::normalize(*normalized) == normalized);
    require(!normalized->empty() && normalized->size() <= 45 && normalized->find('\0') == std::string::npos);
    return 0;
}
