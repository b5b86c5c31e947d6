#include "process/DaemonLogFile.hpp"

#include "support/Descriptor.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A regular file's identity, nothing for anything else.
template <typename Stat> std::optional<Stat> regular(int result, const Stat& info) {
    return result == 0 && S_ISREG(info.st_mode) ? std::optional<Stat>(info) : std::nullopt;
}

} // namespace

DaemonLogFile::DaemonLogFile(std::filesystem::path path) : path_(std::move(path)) {
    struct stat output {};
    struct stat atPath {};
    auto out = regular(fstat(STDOUT_FILENO, &output), output);
    auto named = regular(lstat(path_.c_str(), &atPath), atPath);
    if (out && named && out->st_dev == named->st_dev && out->st_ino == named->st_ino) {
        followed_ = Identity{out->st_dev, out->st_ino};
    }
}

void DaemonLogFile::followRotation() {
    struct stat atPath {};
    if (!followed_ || lstat(path_.c_str(), &atPath) != 0 || !S_ISREG(atPath.st_mode) ||
        Identity{atPath.st_dev, atPath.st_ino} == *followed_) {
        return;
    }
    // Missing, a link or anything but a regular file: the old file goes on until the path holds one.
    // Never blocking on a FIFO planted there between the look and the open.
    Descriptor file(
        ::open(path_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {};
    if (!file.valid() || !regular(fstat(file.get(), &opened), opened)) {
        return;
    }
    fcntl(file.get(), F_SETFL, O_APPEND);
    if (dup2(file.get(), STDOUT_FILENO) < 0) {
        return;
    }
    dup2(file.get(), STDERR_FILENO);
    followed_ = Identity{opened.st_dev, opened.st_ino};
}
