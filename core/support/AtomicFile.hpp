// Replace a file in one step: readers see the old or the new complete file, never a mixture.
#pragma once

#include "support/Expected.hpp"

#include <exception>
#include <filesystem>
#include <span>
#include <string_view>
#include <sys/types.h>

namespace AtomicFile {

enum class Step { createDirectory, writeTemporary, rename };

// The step that failed beside the failure; its text names the directory, the temporary file (`path` +
// ".tmp", the name messages give it; each write's own file carries a unique suffix after it) or `path`.
struct WriteFailure : Failure {
    Step step = Step::writeTemporary;
};

// Missing parent directories are created with mode 0755, each set through its own descriptor. The data goes
// to a new file `path` + ".tmp." + six letters or digits, created with exactly `mode` (umask ignored),
// locked (flock) from its creation until after the rename, written whole, synced to the disk and renamed
// onto `path`. On any failure that file is removed and `path` is untouched. Whatever is at the plain
// `path` + ".tmp" is left alone.
Expected<void, WriteFailure> write(const std::filesystem::path& path, std::string_view bytes, mode_t mode);

// For derived state that a later write brings up to date: `encode()` gives the bytes, and any failure, an
// encoder's refusal of invalid UTF-8 included, keeps the previous complete file and is dropped here.
template <typename Encode>
void writeBestEffort(const std::filesystem::path& path, const Encode& encode, mode_t mode) {
    try {
        write(path, encode(), mode).ignore();
    } catch (const std::exception&) {
    }
}

// Removes what writes killed between create and rename left in `dir`: regular files named
// `<one of names>.tmp.` + six letters or digits, owned by the effective user and locked by no writer. Links
// are never followed, nothing else is touched, nothing is waited for, failures are ignored.
void sweepLeftovers(const std::filesystem::path& dir, std::span<const std::string_view> names);

// Every byte to an open descriptor, retrying after EINTR; a failed write is "{what}: {its errno's text}".
// For a plain (non-replacing) write to a file opened with the caller's own flags, such as the package.
Expected<void> writeAll(int fd, std::string_view bytes, const std::string& what);

} // namespace AtomicFile
