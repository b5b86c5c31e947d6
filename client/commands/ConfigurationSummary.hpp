// The settings as configure and status show them, with their labels aligned in one column.
#pragma once

#include "config/ClientConfiguration.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace ConfigurationSummary {

// Hostname, the key line when one is given (already masked), interval and the two families.
std::string settingsLines(const ClientConfiguration& config, const std::optional<std::string>& keyLine);

// Whether anything is at `path`; an error reading it counts as nothing.
bool fileExists(const std::filesystem::path& path);

} // namespace ConfigurationSummary
