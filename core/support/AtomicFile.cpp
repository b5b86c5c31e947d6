#include "support/AtomicFile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace AtomicFile {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

namespace {

Result failure(Step step, int error, const std::filesystem::path& tmp) {
    return Result{step, error, tmp};
}

// Writes the temporary file; returns 0 or the errno of the failing call.
int writeTemporary(const std::filesystem::path& tmp, std::string_view bytes, mode_t mode) {
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    // fchmod after open: the umask must not narrow or an older file widen the mode.
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

} // namespace

Result write(const std::filesystem::path& path, std::string_view bytes, mode_t mode) {
    std::filesystem::path tmp = path;
    tmp += ".tmp";

    std::error_code ec;
    std::filesystem::path parent = path.parent_path();
    if (!parent.empty()) {
        std::filesystem::create_directories(parent, ec);
        if (ec) {
            return failure(Step::createDirectory, ec.value(), tmp);
        }
    }
    if (int error = writeTemporary(tmp, bytes, mode); error != 0) {
        ::unlink(tmp.c_str());
        return failure(Step::writeTemporary, error, tmp);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int error = errno;
        ::unlink(tmp.c_str());
        return failure(Step::rename, error, tmp);
    }
    return Result{Step::none, 0, tmp};
}

} // namespace AtomicFile
