// What the daemon publishes for other processes: the status record and its status.json file.
#pragma once

#include "status/Reachability.hpp"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

struct DaemonStatus {
    enum class State { ok, warning, error, idle };

    State state;
    std::string message;
    std::optional<std::string> hostname;
    std::optional<std::string> lastIpv4;
    std::optional<std::string> lastIpv6;
    std::optional<std::chrono::system_clock::time_point> lastSuccessAt;
    std::chrono::system_clock::time_point updatedAt;
    std::string daemonVersion;
    // What the home router says of the published IPv4 address; absent until a router answered. Readers that
    // predate these keys ignore them.
    std::optional<Reachability> reachability = std::nullopt;
    // The router's own external IPv4 address, when it reported one.
    std::optional<std::string> routerIpv4 = std::nullopt;

    static std::string_view text(State state);
    // Exactly "ok", "warning", "error" or "idle".
    static std::optional<State> stateFromText(std::string_view text);

    bool operator==(const DaemonStatus&) const = default;
};

class StatusFile {
public:
    explicit StatusFile(std::filesystem::path path) : path_(std::move(path)) {}

    // Nothing when the file is missing, unreadable or not a valid status. Never throws or logs.
    std::optional<DaemonStatus> load() const;
    // Mode 0644 through a temporary file and rename; failures are silent and keep the old file.
    void write(const DaemonStatus& status) const;

    // Throws nlohmann::json::exception when a text is not valid UTF-8.
    static std::string encode(const DaemonStatus& status);
    // Nothing for any document the rules reject; never throws.
    static std::optional<DaemonStatus> decode(std::string_view text);

private:
    std::filesystem::path path_;
};
