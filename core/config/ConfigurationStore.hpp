// Reads and replaces config.json: missing is told apart from unreadable, and a save is all or nothing.
#pragma once

#include "config/ClientConfiguration.hpp"
#include "config/ConfigurationError.hpp"

#include <filesystem>
#include <optional>

// A save that failed on the file system: the message, and the errno behind it, so that a caller can tell
// a missing privilege from other causes.
class ConfigurationSaveError : public ConfigurationError {
public:
    ConfigurationSaveError(std::string message, int error)
        : ConfigurationError(std::move(message)), error_(error) {}

    int error() const { return error_; }

private:
    int error_;
};

class ConfigurationStore {
public:
    explicit ConfigurationStore(std::filesystem::path path) : path_(std::move(path)) {}

    const std::filesystem::path& path() const { return path_; }

    // Nothing when no file exists; throws std::system_error when it cannot be read and
    // ConfigurationError when it cannot be decoded or is no regular file of a sensible size.
    std::optional<ClientConfiguration> load() const;
    // load(), and a stored configuration must also pass validate(): what run and once start from.
    std::optional<ClientConfiguration> loadValidated() const;
    // Writes with mode 0600 through a temporary file and rename; throws on failure (std::system_error when
    // the directory cannot be created, ConfigurationSaveError otherwise), old file untouched.
    void save(const ClientConfiguration& config) const;

private:
    std::filesystem::path path_;
};
