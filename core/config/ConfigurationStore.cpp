#include "config/ConfigurationStore.hpp"

#include "support/AtomicFile.hpp"
#include "support/FileRead.hpp"
#include "support/JsonStrict.hpp"

#include <cstring>

Expected<std::optional<ClientConfiguration>> ConfigurationStore::load() const {
    // Only "not found" is absence; a status that cannot be asked for (no permission) is a read error below.
    std::error_code ec;
    if (std::filesystem::status(path_, ec).type() == std::filesystem::file_type::not_found) {
        return std::optional<ClientConfiguration>();
    }
    Failure damaged{"Konfigurationsdatei ist leer oder ungültig: " + path_.string()};
    Expected<std::string> bytes = FileRead::readAll(path_);
    if (!bytes) {
        // A FIFO, a device or a huge file (no errno) cannot be a configuration this program wrote.
        return bytes.failure().error == 0 ? damaged : Failure{bytes.failure().text};
    }
    try {
        return std::optional(ClientConfiguration::fromJson(*bytes));
    } catch (const std::exception&) {
        return damaged;
    }
}

Expected<std::optional<ClientConfiguration>> ConfigurationStore::loadValidated() const {
    Expected<std::optional<ClientConfiguration>> config = load();
    if (config && *config) {
        if (Expected<void> valid = (*config)->validate(); !valid) {
            return valid.failure();
        }
    }
    return config;
}

Expected<void> ConfigurationStore::save(const ClientConfiguration& config) const {
    Expected<void, AtomicFile::WriteFailure> written = AtomicFile::write(path_, config.toJson(), 0600);
    if (written) {
        return {};
    }
    const AtomicFile::WriteFailure& failure = written.failure();
    switch (failure.step) {
    case AtomicFile::Step::createDirectory:
        return Failure(failure);
    case AtomicFile::Step::writeTemporary:
        return Failure{"Konfigurationsdatei konnte nicht geschrieben werden: " + path_.string() + ".tmp",
                       failure.error};
    case AtomicFile::Step::rename:
        break;
    }
    return Failure{std::string("Konfigurationsdatei konnte nicht ersetzt werden: ") +
                       std::strerror(failure.error),
                   failure.error};
}
