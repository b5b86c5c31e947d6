#include "support/JsonStrict.hpp"

namespace JsonStrict {
namespace {

const nlohmann::json* present(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

[[noreturn]] void wrongType(const char* key, const char* expected) {
    throw DecodeError(std::string("key \"") + key + "\" is not " + expected);
}

} // namespace

nlohmann::json parseObject(std::string_view text) {
    // nlohmann stops at a NUL byte as if the text ended there; JSON text never holds one.
    if (text.find('\0') != std::string_view::npos) {
        throw DecodeError("not valid JSON");
    }
    nlohmann::json value = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded()) {
        throw DecodeError("not valid JSON");
    }
    if (!value.is_object()) {
        throw DecodeError("top level is not an object");
    }
    return value;
}

std::optional<std::string> optionalString(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = present(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        wrongType(key, "a string");
    }
    return value->get<std::string>();
}

std::string requiredString(const nlohmann::json& object, const char* key) {
    std::optional<std::string> value = optionalString(object, key);
    if (!value) {
        throw DecodeError(std::string("key \"") + key + "\" is missing");
    }
    return *value;
}

std::optional<bool> optionalBool(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = present(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (!value->is_boolean()) {
        wrongType(key, "a boolean");
    }
    return value->get<bool>();
}

std::optional<std::int64_t> optionalInt64(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = present(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->is_number_integer() && !value->is_number_unsigned()) {
        return value->get<std::int64_t>();
    }
    // nlohmann keeps non-negative integers as unsigned; above INT64_MAX they do not fit the field.
    if (value->is_number_unsigned()) {
        auto unsignedValue = value->get<std::uint64_t>();
        if (unsignedValue <= static_cast<std::uint64_t>(INT64_MAX)) {
            return static_cast<std::int64_t>(unsignedValue);
        }
        wrongType(key, "a signed 64-bit integer");
    }
    wrongType(key, "an integer");
}

std::optional<std::vector<std::string>> optionalStringArray(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = present(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (!value->is_array()) {
        wrongType(key, "an array");
    }
    std::vector<std::string> items;
    items.reserve(value->size());
    for (const auto& item : *value) {
        if (!item.is_string()) {
            wrongType(key, "an array of strings");
        }
        items.push_back(item.get<std::string>());
    }
    return items;
}

std::string writePretty(const nlohmann::json& value) {
    std::string text = value.dump(2);
    // A "/" can only occur inside a JSON string, so every one of them is escaped.
    std::string escaped;
    escaped.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '/') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

std::string writeCompact(const nlohmann::json& value) {
    return value.dump();
}

} // namespace JsonStrict
