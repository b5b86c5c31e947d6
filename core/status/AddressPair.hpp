// The two addresses of one host: what a cycle found, what was pushed, what DNS should serve. An absent one
// was not found, not asked for or not recorded.
#pragma once

#include <optional>
#include <string>

struct AddressPair {
    std::optional<std::string> ipv4;
    std::optional<std::string> ipv6;

    // How they read in the log, `status` and the menu bar: "{ipv4} / {ipv6}", or the one that is there;
    // empty when neither is.
    std::string text() const {
        if (ipv4 && ipv6) {
            return *ipv4 + " / " + *ipv6;
        }
        return ipv4 ? *ipv4 : ipv6.value_or("");
    }

    bool operator==(const AddressPair&) const = default;
};
