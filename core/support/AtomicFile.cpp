#include "support/AtomicFile.hpp"

#include "support/Descriptor.hpp"
#include "support/DirectoryEntries.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <span>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace AtomicFile {

Expected<void> writeAll(int fd, std::string_view bytes, const std::string& what) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Failure::of(what, errno);
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return {};
}

namespace {

constexpr mode_t directoryMode = 0755;

// Data and metadata on the medium, not only in the kernel: on Apple fsync stops at the drive's cache.
int syncToDisk(int fd) {
#ifdef F_FULLFSYNC
    if (::fcntl(fd, F_FULLFSYNC) == 0) {
        return 0;
    }
#endif
    return ::fsync(fd) == 0 ? 0 : errno;
}

// Opens the directory `name` in `parent`, making it when missing. One it made gets exactly 0755 through its
// own descriptor once it is known to be the caller's directory: a chmod by path would follow a symbolic
// link that another user who can write `parent` put there in the meantime. Readers that run as another user
// (the menu-bar app) must get in, and a root daemon under umask 000 must not leave a directory anyone may
// write to; an existing directory is never changed.
Expected<Descriptor> openOrMake(int parent, const std::string& name) {
    bool made = ::mkdirat(parent, name.c_str(), directoryMode) == 0;
    if (!made && errno != EEXIST) {
        return Failure::of(name, errno);
    }
    Descriptor directory(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!directory.valid() || ::fstat(directory.get(), &info) != 0) {
        return Failure::of(name, errno);
    }
    // Not made here: another writer made it just now.
    if (!made) {
        return directory;
    }
    if (info.st_uid != ::geteuid()) {
        return Failure::of(name, EPERM);
    }
    // The umask can only have narrowed the mode, so there was never a moment with wider permissions.
    if (::fchmod(directory.get(), directoryMode) != 0) {
        return Failure::of(name, errno);
    }
    return directory;
}

// Walks down from the deepest directory that exists (reached by path, as configured), one descriptor at a
// time. A failure names `dir`.
Expected<void> createDirectories(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::path existing = dir;
    std::vector<std::string> missing;
    while (!existing.empty() && !std::filesystem::is_directory(existing, ec) &&
           existing != existing.parent_path()) {
        if (existing.has_filename()) {
            missing.push_back(existing.filename().string());
        }
        existing = existing.parent_path();
    }
    if (missing.empty()) {
        return {};
    }
    Descriptor current(::open(existing.empty() ? "." : existing.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!current.valid()) {
        return Failure::of(dir.string(), errno);
    }
    for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
        Expected<Descriptor> next = openOrMake(current.get(), *name);
        if (!next) {
            return Failure::of(dir.string(), next.failure().error);
        }
        current = std::move(*next);
    }
    return {};
}

constexpr std::string_view uniqueInfix = ".tmp.";
constexpr size_t uniqueLength = 6; // mkostemp's XXXXXX

bool isAsciiAlphanumeric(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool isLeftoverName(std::string_view entry, std::span<const std::string_view> names) {
    for (std::string_view name : names) {
        if (entry.size() == name.size() + uniqueInfix.size() + uniqueLength && entry.starts_with(name) &&
            entry.substr(name.size(), uniqueInfix.size()) == uniqueInfix) {
            std::string_view unique = entry.substr(entry.size() - uniqueLength);
            return std::all_of(unique.begin(), unique.end(), isAsciiAlphanumeric);
        }
    }
    return false;
}

bool sameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// A sweep that opened the file between its creation and the lock may have removed it by now.
bool stillAt(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && held.st_nlink > 0 && ::lstat(path.c_str(), &named) == 0 &&
           sameFile(held, named);
}

struct Temporary {
    Descriptor lock; // holds the flock until the rename is done
    std::string path;
};

// A new file of our own next to the target, locked, still at its name. The lock is what tells a sweep that
// a writer is at work; it is taken without waiting: a sweep that holds it is about to remove that file, so
// the next name is tried. Created 0600 and so, until the lock is ours, openable by no other user.
Expected<Temporary> createLocked(const std::filesystem::path& tmp) {
    constexpr int attempts = 16;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        std::string unique = tmp.string() + ".XXXXXX";
        Descriptor file(::mkostemp(unique.data(), O_CLOEXEC));
        if (!file.valid()) {
            return Failure::of(tmp.string(), errno);
        }
        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) {
                int error = errno;
                ::unlink(unique.c_str());
                return Failure::of(tmp.string(), error);
            }
            continue;
        }
        if (stillAt(file.get(), unique)) {
            return Temporary{std::move(file), unique};
        }
    }
    return Failure::of(tmp.string(), EAGAIN);
}

// Writes a file of its own next to the target. The name is unique per write and the file created with
// O_CREAT|O_EXCL, so it is never one that existed before: two writers at once (`once` beside the daemon)
// each rename a file they wrote whole, and neither can truncate or extend the other's. The lock serialises
// nothing and is never waited for: each writer locks only its own new file, before another user could open
// it, so nobody can stall the root daemon with it.
Expected<Temporary> writeTemporary(const std::filesystem::path& tmp, std::string_view bytes, mode_t mode) {
    Expected<Temporary> created = createLocked(tmp);
    if (!created) {
        return created;
    }
    // The lock belongs to the open file, so this second descriptor keeps it while the first is closed to
    // learn the last write error some file systems report only there.
    Descriptor file(::fcntl(created->lock.get(), F_DUPFD_CLOEXEC, 0));
    int error = 0;
    // fchmod after open: the umask must not narrow the mode.
    if (!file.valid() || ::fchmod(file.get(), mode) != 0) {
        error = errno;
    } else if (Expected<void> written = writeAll(file.get(), bytes, created->path); !written) {
        error = written.failure().error;
    } else {
        error = syncToDisk(file.get());
    }
    if (Expected<void> closed = file.close(created->path); error == 0 && !closed) {
        error = closed.failure().error;
    }
    if (error != 0) {
        // Removed while still locked, so no sweep can be deciding about this name meanwhile.
        ::unlink(created->path.c_str());
        return Failure::of(tmp.string(), error);
    }
    return created;
}

// Removes `name` in `dir` when it is a regular file of ours that no writer holds. Every writer removes or
// renames its file before it lets go of the lock, so a file locked here and still at its name is one
// nobody will touch again.
void removeUnheld(int dir, const char* name) {
    struct stat named {};
    if (::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode) ||
        named.st_uid != ::geteuid()) {
        return;
    }
    // O_NONBLOCK: should a FIFO take the file's place meanwhile, opening it must not wait.
    Descriptor file(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {};
    if (!file.valid() || ::fstat(file.get(), &opened) != 0 || !sameFile(named, opened) ||
        ::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        return;
    }
    // A writer that finished has renamed it away; a later file at the same name is another one.
    struct stat again {};
    // unlinkat removes a name, never what a link would lead to.
    if (::fstatat(dir, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(again, opened)) {
        ::unlinkat(dir, name, 0);
    }
}

} // namespace

Expected<void, WriteFailure> write(const std::filesystem::path& path, std::string_view bytes, mode_t mode) {
    std::filesystem::path tmp = path;
    tmp += ".tmp";

    std::filesystem::path parent = path.parent_path();
    if (!parent.empty()) {
        if (Expected<void> made = createDirectories(parent); !made) {
            return WriteFailure{made.failure(), Step::createDirectory};
        }
    }
    Expected<Temporary> written = writeTemporary(tmp, bytes, mode);
    if (!written) {
        return WriteFailure{written.failure(), Step::writeTemporary};
    }
    if (::rename(written->path.c_str(), path.c_str()) != 0) {
        int error = errno;
        ::unlink(written->path.c_str());
        return WriteFailure{Failure::of(path.string(), error), Step::rename};
    }
    return {}; // the lock goes only now, with the file at its final name
}

void sweepLeftovers(const std::filesystem::path& dir, std::span<const std::string_view> names) {
    const Descriptor directory(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const std::string& entry : DirectoryEntries::names(directory.get())) {
        if (isLeftoverName(entry, names)) {
            removeUnheld(directory.get(), entry.c_str());
        }
    }
}

} // namespace AtomicFile
