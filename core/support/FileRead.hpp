// Whole-file reads with the platform's own error. Only regular files of a bounded size are read, and the
// open never blocks: a FIFO or a device planted at a path must not stall the daemon or the menu-bar app,
// and a huge file must not be pulled into memory.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace FileRead {

// Far above anything the programs write (a few hundred bytes); larger files are not theirs.
inline constexpr std::size_t maximumSize = 4u << 20;

// Something at the path that is not a regular file (a directory aside), or one larger than maximumSize.
// Readers treat it as a damaged file.
class UnusableFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file's bytes. Throws std::system_error whose what() is "{path}: {strerror}" when it cannot be
// opened or read (a directory included), UnusableFile as above.
std::string readAll(const std::filesystem::path& path);

// The same for derived state that is read best effort: nothing on any failure.
std::optional<std::string> tryReadAll(const std::filesystem::path& path);

} // namespace FileRead
