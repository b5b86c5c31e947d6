// Every location and launchd identifier the programs share, and the system's version.
#pragma once

#include <filesystem>
#include <string_view>

namespace ClientPaths {

inline constexpr std::string_view launchdLabel = "com.korvane.client";
inline constexpr std::string_view launchdPlist = "/Library/LaunchDaemons/com.korvane.client.plist";
inline constexpr std::string_view daemonLog = "/Library/Logs/RuzEdaRoredo/daemon.log";
inline constexpr std::string_view menuBarApp = "/Applications/Korvane.app";
inline constexpr std::string_view defaultConfigDir = "/Library/Application Support/RuzEdaRoredo";

// Read from KORVANE_CONFIG_DIR on every call, so tests and the demo can move it at run time.
std::filesystem::path configDir();
std::filesystem::path configFile();
std::filesystem::path ipStateFile();
std::filesystem::path statusFile();
std::filesystem::path dnsCheckFile();

} // namespace ClientPaths

namespace ClientVersion {
inline constexpr std::string_view current = "0.24.0";
}
