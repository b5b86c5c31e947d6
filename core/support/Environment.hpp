// The environment variables the programs read. A variable that is set but empty counts as not set, so
// `VAR= program` can switch a setting back to its default.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace Environment {

inline std::optional<std::string> value(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    return std::string(text);
}

} // namespace Environment
