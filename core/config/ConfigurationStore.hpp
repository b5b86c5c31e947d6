// Reads and replaces config.json: missing is told apart from unreadable, and a save is all or nothing.
#pragma once

#include "config/ClientConfiguration.hpp"
#include "support/Expected.hpp"

#include <filesystem>
#include <optional>

class ConfigurationStore {
public:
    explicit ConfigurationStore(std::filesystem::path path) : path_(std::move(path)) {}

    const std::filesystem::path& path() const { return path_; }

    // Nothing when no file exists; a failure, the one error the commands show for a configuration, when it
    // cannot be read ("{path}: {strerror}"), cannot be decoded or is no regular file of a sensible size.
    Expected<std::optional<ClientConfiguration>> load() const;
    // load(), and a stored configuration must also pass validate(): what run and once start from.
    Expected<std::optional<ClientConfiguration>> loadValidated() const;
    // Writes with mode 0600 through a temporary file and rename; on failure the old file is untouched and
    // the failure carries the message and the errno behind it, so that a caller can tell a missing
    // privilege from other causes.
    Expected<void> save(const ClientConfiguration& config) const;

private:
    std::filesystem::path path_;
};
