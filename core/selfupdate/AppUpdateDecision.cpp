#include "selfupdate/AppUpdateDecision.hpp"

#include <charconv>
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

// An optional sign, then ASCII digits only, within int64; negative numbers (but -0) are refused.
std::optional<std::int64_t> component(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    // The digits as a magnitude; -9223372036854775808 is in range but negative anyway, so refused too.
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (negative) {
        if (magnitude != 0) {
            return std::nullopt;
        }
        return 0;
    }
    if (magnitude > static_cast<std::uint64_t>(INT64_MAX)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(magnitude);
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
