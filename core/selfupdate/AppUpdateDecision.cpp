#include "selfupdate/AppUpdateDecision.hpp"

#include "support/DecimalInteger.hpp"

#include <vector>

namespace AppUpdateDecision {
namespace {

std::vector<std::string_view> components(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, dot - start));
        start = dot + 1;
    }
}

// A decimal integer within int64; negative numbers (but -0) are refused.
std::optional<std::int64_t> component(std::string_view text) {
    std::optional<std::int64_t> value = DecimalInteger::parseInt64(text);
    if (!value || *value < 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<Version> parse(std::string_view text) {
    std::vector<std::string_view> parts = components(text);
    if (parts.size() < 2 || parts.size() > 4) {
        return std::nullopt;
    }
    Version version{0, 0, 0, 0};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::optional<std::int64_t> number = component(parts[i]);
        if (!number) {
            return std::nullopt;
        }
        version[i] = *number;
    }
    return version;
}

bool isNewer(std::string_view current, std::string_view manifest) {
    std::optional<Version> offered = parse(manifest);
    if (!offered) {
        return false;
    }
    std::optional<Version> running = parse(current);
    if (!running) {
        return true;
    }
    return *offered > *running;
}

} // namespace AppUpdateDecision
