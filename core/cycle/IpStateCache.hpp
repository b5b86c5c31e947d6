// The addresses last pushed successfully, in memory and mirrored to ipstate.json.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

class IpStateCache {
public:
    // Loads the file when a path is given; a missing or damaged file is an empty record. Without a
    // path the cache lives in memory only.
    explicit IpStateCache(std::optional<std::filesystem::path> path);

    std::optional<std::string> lastIpv4() const;
    std::optional<std::string> lastIpv6() const;

    // True when a given address differs (ASCII case ignored) from the one recorded for its family.
    bool needsUpdate(const std::optional<std::string>& ipv4, const std::optional<std::string>& ipv6) const;
    // Stores each given address (an absent one keeps the recorded one) and writes the file.
    void record(const std::optional<std::string>& ipv4, const std::optional<std::string>& ipv6);

private:
    struct State {
        std::optional<std::string> ipv4;
        std::optional<std::string> ipv6;
    };

    void persist() const;

    std::optional<std::filesystem::path> path_;
    State state_;
};
