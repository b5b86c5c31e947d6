// Whether the manifest's release is to be installed over the running one: dotted decimal versions of 2 to
// 4 components, compared as numbers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace AppUpdateDecision {

using Version = std::array<std::int64_t, 4>;

// Four numbers (missing trailing components are 0), or nothing for a text that is not such a version.
std::optional<Version> parse(std::string_view text);

// False for an unparseable manifest version; true for a parseable one over an unparseable current one.
bool isNewer(std::string_view current, std::string_view manifest);

} // namespace AppUpdateDecision
