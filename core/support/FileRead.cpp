#include "support/FileRead.hpp"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace FileRead {

std::string readAll(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), path.string());
    }
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            int error = errno;
            ::close(fd);
            throw std::system_error(error, std::generic_category(), path.string());
        }
        if (got == 0) {
            break;
        }
        bytes.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return bytes;
}

std::optional<std::string> tryReadAll(const std::filesystem::path& path) {
    try {
        return readAll(path);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

} // namespace FileRead
