// Strict JSON reading (exact types; missing and null mean "use the default") and the house writing style.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace JsonStrict {

// A document that is not JSON, not an object, or holds a key of the wrong type.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses text whose top level must be an object (invalid UTF-8 is not JSON).
nlohmann::json parseObject(std::string_view text);

// Each returns nothing for a missing key or null and throws DecodeError for any other JSON type.
std::optional<std::string> optionalString(const nlohmann::json& object, const char* key);
std::optional<bool> optionalBool(const nlohmann::json& object, const char* key);
std::optional<std::int64_t> optionalInt64(const nlohmann::json& object, const char* key);
std::optional<std::vector<std::string>> optionalStringArray(const nlohmann::json& object, const char* key);
// A required key: missing or null throws DecodeError like a wrong type.
std::string requiredString(const nlohmann::json& object, const char* key);

// The value among `all` whose text is `written`; nothing for any other text.
template <typename Enum, std::size_t count>
std::optional<Enum> oneOf(const std::array<Enum, count>& all, std::string_view (*text)(Enum),
                          std::string_view written) {
    for (Enum value : all) {
        if (text(value) == written) {
            return value;
        }
    }
    return std::nullopt;
}

// Pretty-printed with sorted keys and "/" written as "\/"; throws nlohmann's error on invalid UTF-8.
std::string writePretty(const nlohmann::json& value);
// One line, sorted keys, no escaping beyond JSON's own.
std::string writeCompact(const nlohmann::json& value);

} // namespace JsonStrict
