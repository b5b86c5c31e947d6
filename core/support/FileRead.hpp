// Whole-file reads with the platform's own error. Only regular files of a bounded size are read, and the
// open never blocks: a FIFO or a device planted at a path must not stall the daemon or the menu-bar app,
// and a huge file must not be pulled into memory.
#pragma once

#include "support/Expected.hpp"

#include <cstddef>
#include <filesystem>
#include <string>

namespace FileRead {

// Far above anything the programs write (a few hundred bytes); larger files are not theirs.
inline constexpr std::size_t maximumSize = 4u << 20;

// The file's bytes. The failure reads "{path}: {strerror}" when the file cannot be opened or read (a
// directory included); it carries no errno (0) when what is at the path is not a regular file or is larger
// than maximumSize, which readers treat as a damaged file.
Expected<std::string> readAll(const std::filesystem::path& path);

} // namespace FileRead
