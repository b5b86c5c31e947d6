#include "commands/ConfigurationSummary.hpp"

#include <system_error>

namespace ConfigurationSummary {
namespace {

const char* onOff(bool value) {
    return value ? "an" : "aus";
}

} // namespace

std::string settingsLines(const ClientConfiguration& config, const std::optional<std::string>& keyLine) {
    std::string text = "  Hostname:  " + config.hostname + "\n";
    if (keyLine) {
        text += "  API-Key:   " + *keyLine + "\n";
    }
    text += "  Intervall: " + std::to_string(config.updateIntervalMinutes) + " min\n";
    text += std::string("  IPv4:      ") + onOff(config.enableIpv4) + "\n";
    text += std::string("  IPv6:      ") + onOff(config.enableIpv6) + "\n";
    return text;
}

bool fileExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

} // namespace ConfigurationSummary
