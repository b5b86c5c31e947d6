#include "config/ConfigurationStore.hpp"

#include "config/ConfigurationError.hpp"
#include "support/AtomicFile.hpp"
#include "support/FileRead.hpp"
#include "support/JsonStrict.hpp"

#include <cstring>
#include <system_error>

std::optional<ClientConfiguration> ConfigurationStore::load() const {
    // Only "not found" is absence; a status that cannot be asked for (no permission) is a read error below.
    std::error_code ec;
    if (std::filesystem::status(path_, ec).type() == std::filesystem::file_type::not_found) {
        return std::nullopt;
    }
    ConfigurationError damaged("Konfigurationsdatei ist leer oder ungültig: " + path_.string());
    std::string bytes;
    try {
        bytes = FileRead::readAll(path_);
    } catch (const FileRead::UnusableFile&) {
        // A FIFO, a device or a huge file cannot be a configuration this program wrote.
        throw damaged;
    }
    try {
        return ClientConfiguration::fromJson(bytes);
    } catch (const std::exception&) {
        throw damaged;
    }
}

std::optional<ClientConfiguration> ConfigurationStore::loadValidated() const {
    std::optional<ClientConfiguration> config = load();
    if (config) {
        config->validate();
    }
    return config;
}

void ConfigurationStore::save(const ClientConfiguration& config) const {
    std::string bytes = config.toJson();
    AtomicFile::Result result = AtomicFile::write(path_, bytes, 0600);
    switch (result.failedStep) {
    case AtomicFile::Step::none:
        return;
    case AtomicFile::Step::createDirectory:
        throw std::system_error(result.error, std::generic_category(), path_.parent_path().string());
    case AtomicFile::Step::writeTemporary:
        throw ConfigurationSaveError("Konfigurationsdatei konnte nicht geschrieben werden: " +
                                         result.temporaryPath.string(),
                                     result.error);
    case AtomicFile::Step::rename:
        throw ConfigurationSaveError(std::string("Konfigurationsdatei konnte nicht ersetzt werden: ") +
                                         std::strerror(result.error),
                                     result.error);
    }
}
