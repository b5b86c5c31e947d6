#include "config/ClientPaths.hpp"

#include "support/Environment.hpp"

namespace ClientPaths {

std::filesystem::path configDir() {
    std::optional<std::string> value = Environment::value("KORVANE_CONFIG_DIR");
    if (!value) {
        return std::filesystem::path(defaultConfigDir);
    }
    // Taken verbatim; a relative value is resolved against the working directory.
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(*value, ec);
    return ec ? std::filesystem::path(*value) : absolute;
}

std::filesystem::path configFile() {
    return configDir() / configFileName;
}
std::filesystem::path ipStateFile() {
    return configDir() / ipStateFileName;
}
std::filesystem::path statusFile() {
    return configDir() / statusFileName;
}

std::filesystem::path dnsCheckFile() {
    return configDir() / dnsCheckFileName;
}

std::filesystem::path daemonLogFile() {
    return Environment::value("KORVANE_DAEMON_LOG").value_or(std::string(daemonLog));
}

} // namespace ClientPaths
