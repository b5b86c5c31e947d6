// RFC 3339 internet date-times: written in UTC with whole seconds and "Z".
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace Rfc3339 {

// "2026-01-31T08:15:00Z"; the fraction of a second is dropped.
std::string format(std::chrono::system_clock::time_point time);

// Accepts "YYYY-MM-DDTHH:MM:SS" followed by "Z" or "+hh:mm"/"-hh:mm"; no fraction, nothing else.
std::optional<std::chrono::system_clock::time_point> parse(std::string_view text);

} // namespace Rfc3339
