// Whole-file reads with the platform's own error.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace FileRead {

// The file's bytes; throws std::system_error whose what() is "{path}: {strerror}".
std::string readAll(const std::filesystem::path& path);

// The same for derived state that is read best effort: nothing on any failure.
std::optional<std::string> tryReadAll(const std::filesystem::path& path);

} // namespace FileRead
