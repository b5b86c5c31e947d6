// Decimal integers as the command line and version numbers spell them: "+" or "-" once, then ASCII digits.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace DecimalInteger {

// An optional single "+" or "-", then one or more ASCII digits and nothing else, within the signed 64-bit
// range; nothing for any other text (blanks, letters, other scripts' digits, an overflow).
std::optional<std::int64_t> parseInt64(std::string_view text);

} // namespace DecimalInteger
