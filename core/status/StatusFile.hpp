// What the daemon publishes for other processes: the status record and its status.json file.
#pragma once

#include "status/PublishedFile.hpp"
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

class StatusFile : public PublishedFile<StatusFile, DaemonStatus> {
public:
    using PublishedFile::PublishedFile;

    // Throws nlohmann::json::exception when a text is not valid UTF-8.
    static std::string encode(const DaemonStatus& status);
    static std::optional<DaemonStatus> fromObject(const nlohmann::json& object);
};
