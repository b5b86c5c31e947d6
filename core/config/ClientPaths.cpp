#include "config/ClientPaths.hpp"

#include <cstdlib>

namespace ClientPaths {

std::filesystem::path configDir() {
    const char* value = std::getenv("KORVANE_CONFIG_DIR");
    if (value == nullptr || *value == '\0') {
        return std::filesystem::path(defaultConfigDir);
    }
    // Taken verbatim; a relative value is resolved against the working directory.
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(value, ec);
    return ec ? std::filesystem::path(value) : absolute;
}

std::filesystem::path configFile() {
    return configDir() / "config.json";
}
std::filesystem::path ipStateFile() {
    return configDir() / "ipstate.json";
}
std::filesystem::path statusFile() {
    return configDir() / "status.json";
}

std::filesystem::path dnsCheckFile() {
    return configDir() / "dnscheck.json";
}

} // namespace ClientPaths
