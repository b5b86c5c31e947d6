// Every location and launchd identifier the programs share, and the system's version.
#pragma once

#include <array>
#include <filesystem>
#include <string_view>

namespace ClientPaths {

inline constexpr std::string_view launchdLabel = "com.korvane.client";
inline constexpr std::string_view launchdPlist = "/Library/LaunchDaemons/com.korvane.client.plist";
inline constexpr std::string_view daemonLog = "/Library/Logs/RuzEdaRoredo/daemon.log";
// Interface only: where the package installs the menu-bar app.
inline constexpr std::string_view menuBarApp = "/Applications/Korvane.app";
inline constexpr std::string_view defaultConfigDir = "/Library/Application Support/RuzEdaRoredo";

// The files the programs keep in the configuration directory: the one list of their names, which the
// locations below append and the sweep of killed writes' leftovers looks for.
inline constexpr std::string_view configFileName = "config.json";
inline constexpr std::string_view ipStateFileName = "ipstate.json";
inline constexpr std::string_view statusFileName = "status.json";
inline constexpr std::string_view dnsCheckFileName = "dnscheck.json";
inline constexpr std::array fileNames{configFileName, ipStateFileName, statusFileName, dnsCheckFileName};

// Read from KORVANE_CONFIG_DIR on every call, so tests and the demo can move it at run time.
std::filesystem::path configDir();
std::filesystem::path configFile();
std::filesystem::path ipStateFile();
std::filesystem::path statusFile();
std::filesystem::path dnsCheckFile();
// daemonLog, or KORVANE_DAEMON_LOG when set: a test's log that it rotates itself.
std::filesystem::path daemonLogFile();

} // namespace ClientPaths
