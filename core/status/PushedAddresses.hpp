// How the addresses of one update read wherever they are shown: the log, `status` and the menu bar.
#pragma once

#include <optional>
#include <string>

namespace PushedAddresses {

// "{ipv4} / {ipv6}", or the one that is there; empty when neither is.
inline std::string text(const std::optional<std::string>& ipv4, const std::optional<std::string>& ipv6) {
    if (ipv4 && ipv6) {
        return *ipv4 + " / " + *ipv6;
    }
    return ipv4 ? *ipv4 : ipv6.value_or("");
}

} // namespace PushedAddresses
