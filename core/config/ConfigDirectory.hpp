// What the programs check and tidy in the configuration directory as a whole.
#pragma once

#include <filesystem>
#include <sys/stat.h>

namespace ConfigDirectory {

// Removes the temporary files that killed writes of this program's own files left behind (each copy of
// config.json holds the API key), at once: a write in progress in another process (`once` beside the
// daemon) holds its file locked and is never taken for a leftover. Called at daemon start, before each
// cycle and by configure.
void sweepLeftovers(const std::filesystem::path& dir);

// True when a user other than root and the effective user can change what is in `dir`: group or others
// may write it, or another user owns it. Such a directory is reported, never changed.
bool othersMayWrite(const std::filesystem::path& dir);
// The same test on what fstat said of a directory or a file already open. With `stickyProtects`, a sticky
// directory (as /tmp) that others may write passes: they cannot rename or remove what is not their own.
bool othersMayWrite(const struct stat& info, bool stickyProtects = false);

} // namespace ConfigDirectory
