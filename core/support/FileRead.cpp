#include "support/FileRead.hpp"

#include "support/Descriptor.hpp"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileRead {
namespace {

Failure unusable(const std::filesystem::path& path, const char* why) {
    return Failure{path.string() + ": " + why};
}

// Decided on the opened file, so the path cannot be swapped between the check and the read.
Expected<void> requireUsable(int fd, const std::filesystem::path& path) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return Failure::of(path.string(), errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return Failure::of(path.string(), EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        return unusable(path, "not a regular file");
    }
    if (static_cast<std::uintmax_t>(info.st_size) > maximumSize) {
        return unusable(path, "too large");
    }
    // Non-blocking was only for the open; a regular file reads the same either way.
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return Failure::of(path.string(), errno);
    }
    return {};
}

} // namespace

Expected<std::string> readAll(const std::filesystem::path& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer, for ever.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.valid()) {
        return Failure::of(path.string(), errno);
    }
    if (Expected<void> usable = requireUsable(file.get(), path); !usable) {
        return usable.failure();
    }
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return Failure::of(path.string(), errno);
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<size_t>(got));
        // The file may grow while it is read.
        if (bytes.size() > maximumSize) {
            return unusable(path, "too large");
        }
    }
}

} // namespace FileRead
