#include "support/FileRead.hpp"

#include "support/Descriptor.hpp"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace FileRead {
namespace {

[[noreturn]] void throwError(int error, const std::filesystem::path& path) {
    throw std::system_error(error, std::generic_category(), path.string());
}

// Decided on the opened file, so the path cannot be swapped between the check and the read.
void requireUsable(int fd, const std::filesystem::path& path) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throwError(errno, path);
    }
    if (S_ISDIR(info.st_mode)) {
        throwError(EISDIR, path);
    }
    if (!S_ISREG(info.st_mode)) {
        throw UnusableFile(path.string() + ": not a regular file");
    }
    if (static_cast<std::uintmax_t>(info.st_size) > maximumSize) {
        throw UnusableFile(path.string() + ": too large");
    }
    // Non-blocking was only for the open; a regular file reads the same either way.
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        throwError(errno, path);
    }
}

} // namespace

std::string readAll(const std::filesystem::path& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer, for ever.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throwError(errno, path);
    }
    Descriptor file(fd);
    requireUsable(fd, path);
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throwError(errno, path);
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<size_t>(got));
        // The file may grow while it is read.
        if (bytes.size() > maximumSize) {
            throw UnusableFile(path.string() + ": too large");
        }
    }
}

std::optional<std::string> tryReadAll(const std::filesystem::path& path) {
    try {
        return readAll(path);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace FileRead
