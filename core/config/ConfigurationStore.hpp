// Reads and replaces config.json: missing is told apart from unreadable, and a save is all or nothing.
#pragma once

#include "config/ClientConfiguration.hpp"

#include <filesystem>
#include <optional>

class ConfigurationStore {
public:
    explicit ConfigurationStore(std::filesystem::path path) : path_(std::move(path)) {}

    const std::filesystem::path& path() const { return path_; }

    // Nothing when no file exists; throws std::system_error when it cannot be read and
    // ConfigurationError when it cannot be decoded or is no regular file of a sensible size.
    std::optional<ClientConfiguration> load() const;
    // Writes with mode 0600 through a temporary file and rename; throws on failure, old file untouched.
    void save(const ClientConfiguration& config) const;

private:
    std::filesystem::path path_;
};
