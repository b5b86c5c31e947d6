#include "support/DecimalInteger.hpp"

#include <charconv>
#include <system_error>

namespace DecimalInteger {

std::optional<std::int64_t> parseInt64(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    // from_chars takes a "-" but not a "+"; the minus stays so that the lowest value still fits.
    std::string_view number = text.front() == '+' ? digits : text;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace DecimalInteger
