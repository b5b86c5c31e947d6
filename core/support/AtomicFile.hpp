// Replace a file in one step: readers see the old or the new complete file, never a mixture.
#pragma once

#include <filesystem>
#include <string_view>
#include <sys/types.h>

namespace AtomicFile {

enum class Step { none, createDirectory, writeTemporary, rename };

struct Result {
    Step failedStep = Step::none;
    int error = 0; // errno of the failed step
    // `path` + ".tmp", the name messages give the temporary file; each write's own file carries a
    // unique suffix after it.
    std::filesystem::path temporaryPath;

    bool ok() const { return failedStep == Step::none; }
};

// Missing parent directories are created with mode 0755. A leftover at `path` + ".tmp" is removed by name
// (a directory there fails the write step). The data goes to a new file `path` + ".tmp." + a unique
// suffix, created with exactly `mode` (umask ignored), written whole, synced to the disk and renamed onto
// `path`. On any failure that file is removed and `path` is untouched.
Result write(const std::filesystem::path& path, std::string_view bytes, mode_t mode);

// Every byte to an open descriptor, retrying after EINTR; false with errno set when a write fails. For a
// plain (non-replacing) write to a file opened with the caller's own flags, such as the downloaded package.
bool writeAll(int fd, std::string_view bytes);

} // namespace AtomicFile
