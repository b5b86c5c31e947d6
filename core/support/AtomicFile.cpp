#include "support/AtomicFile.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
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

constexpr mode_t directoryMode = 0755;

Result failure(Step step, int error, const std::filesystem::path& tmp) {
    return Result{step, error, tmp};
}

// Data and metadata on the medium, not only in the kernel: on Apple fsync stops at the drive's cache.
int syncToDisk(int fd) {
#ifdef F_FULLFSYNC
    if (::fcntl(fd, F_FULLFSYNC) == 0) {
        return 0;
    }
#endif
    return ::fsync(fd) == 0 ? 0 : errno;
}

// Each missing directory gets exactly 0755: readers that run as another user (the menu-bar app) must get
// in, and a root daemon under umask 000 must not leave a directory anyone may write to.
int createDirectories(const std::filesystem::path& dir) {
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) {
        return 0;
    }
    std::filesystem::path parent = dir.parent_path();
    if (!parent.empty() && parent != dir) {
        if (int error = createDirectories(parent); error != 0) {
            return error;
        }
    }
    if (::mkdir(dir.c_str(), directoryMode) != 0) {
        int error = errno;
        // Another writer may have created it just now.
        return error == EEXIST && std::filesystem::is_directory(dir, ec) ? 0 : error;
    }
    // The umask can only have narrowed the mode, so there was never a moment with wider permissions.
    return ::chmod(dir.c_str(), directoryMode) == 0 ? 0 : errno;
}

// A leftover at the plain temporary name (an interrupted older write, or something planted there) is
// removed by name, never opened: unlinking a hard link, a symbolic link or a FIFO writes through nothing.
// A directory there cannot be unlinked and is reported, so that it does not go unnoticed.
int removeLeftover(const std::filesystem::path& tmp) {
    if (::unlink(tmp.c_str()) == 0 || errno == ENOENT) {
        return 0;
    }
    struct stat info {};
    if (::lstat(tmp.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    return 0;
}

struct Temporary {
    std::string path; // empty when it could not be created
    int error = 0;
};

// Writes a file of its own next to the target. The name is unique per write and the file created with
// O_CREAT|O_EXCL, so it is never one that existed before: two writers at once (`once` beside the daemon)
// each rename a file they wrote whole, and neither can truncate or extend the other's. A lock would
// serialise them as well, but any user who can read the directory could hold it and stall the root daemon.
Temporary writeTemporary(const std::filesystem::path& tmp, std::string_view bytes, mode_t mode) {
    std::string unique = tmp.string() + ".XXXXXX";
    int fd = ::mkostemp(unique.data(), O_CLOEXEC);
    if (fd < 0) {
        return Temporary{"", errno};
    }
    int error = 0;
    // fchmod after open: the umask must not narrow the mode.
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, bytes)) {
        error = errno;
    } else {
        error = syncToDisk(fd);
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(unique.c_str());
        return Temporary{"", error};
    }
    return Temporary{unique, 0};
}

} // namespace

Result write(const std::filesystem::path& path, std::string_view bytes, mode_t mode) {
    std::filesystem::path tmp = path;
    tmp += ".tmp";

    std::filesystem::path parent = path.parent_path();
    if (!parent.empty()) {
        if (int error = createDirectories(parent); error != 0) {
            return failure(Step::createDirectory, error, tmp);
        }
    }
    if (int error = removeLeftover(tmp); error != 0) {
        return failure(Step::writeTemporary, error, tmp);
    }
    Temporary written = writeTemporary(tmp, bytes, mode);
    if (written.path.empty()) {
        return failure(Step::writeTemporary, written.error, tmp);
    }
    if (::rename(written.path.c_str(), path.c_str()) != 0) {
        int error = errno;
        ::unlink(written.path.c_str());
        return failure(Step::rename, error, tmp);
    }
    return Result{Step::none, 0, tmp};
}

} // namespace AtomicFile
