#include "updater/WorkingDirectory.hpp"

#include "config/ConfigDirectory.hpp"
#include "support/AtomicFile.hpp"
#include "support/DirectoryEntries.hpp"
#include "support/RandomUuid.hpp"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Only the owner (root, or the user the daemon runs as) can rename or replace what is in it; a sticky
// directory such as /tmp protects the entries that are not another user's own.
Expected<void> requireSafe(const Descriptor& directory, const std::filesystem::path& path) {
    struct stat info {};
    if (::fstat(directory.get(), &info) != 0) {
        return Failure::of(path.string(), errno);
    }
    if (ConfigDirectory::othersMayWrite(info, /*stickyProtects=*/true)) {
        return Failure{path.string() + ": Verzeichnis ist für andere Benutzer veränderbar"};
    }
    return {};
}

// The absolute path with the symbolic links of its existing part resolved, so that the walk below can
// refuse to follow any.
Expected<std::filesystem::path> resolved(const std::filesystem::path& base) {
    std::error_code code;
    std::filesystem::path existing = std::filesystem::absolute(base, code).lexically_normal();
    if (code) {
        return Failure::of(base.string(), code.value());
    }
    if (!existing.has_filename() && existing.has_relative_path()) {
        existing = existing.parent_path(); // a trailing "/", as TMPDIR often has
    }
    std::vector<std::filesystem::path> missing;
    while (existing.has_relative_path() && !std::filesystem::exists(existing, code)) {
        missing.push_back(existing.filename());
        existing = existing.parent_path();
    }
    std::filesystem::path result = std::filesystem::canonical(existing, code);
    if (code) {
        return Failure::of(existing.string(), code.value());
    }
    for (auto part = missing.rbegin(); part != missing.rend(); ++part) {
        result /= *part;
    }
    return result;
}

// Opens `base` one directory at a time from the root, making the missing ones, and checks each: nobody
// else can swap anything below a directory only its trusted owner can change.
Expected<Descriptor> openSafely(const std::filesystem::path& base) {
    std::filesystem::path reached = "/";
    Descriptor current(::open("/", directoryFlags));
    if (!current.valid()) {
        return Failure::of(reached.string(), errno);
    }
    for (const std::filesystem::path& part : base.relative_path()) {
        if (Expected<void> safe = requireSafe(current, reached); !safe) {
            return safe.failure();
        }
        reached /= part;
        Descriptor next(::openat(current.get(), part.c_str(), directoryFlags));
        // Made only where missing: a read-only system volume refuses even to make what exists.
        bool made = !next.valid() && errno == ENOENT && ::mkdirat(current.get(), part.c_str(), 0700) == 0;
        if (made) {
            next = Descriptor(::openat(current.get(), part.c_str(), directoryFlags));
        }
        current = std::move(next);
        // The umask may have taken bits away; the mode is set exactly.
        if (!current.valid() || (made && ::fchmod(current.get(), 0700) != 0)) {
            return Failure::of(reached.string(), errno);
        }
    }
    if (Expected<void> safe = requireSafe(current, reached); !safe) {
        return safe.failure();
    }
    return current;
}

// Empties the directory open at `directory`, descending by descriptor with O_NOFOLLOW.
void removeEntries(int directory) {
    for (const std::string& name : DirectoryEntries::names(directory)) {
        struct stat info {};
        if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode)) {
            ::unlinkat(directory, name.c_str(), 0);
            continue;
        }
        Descriptor inner(::openat(directory, name.c_str(), directoryFlags));
        if (inner.valid()) {
            removeEntries(inner.get());
            ::unlinkat(directory, name.c_str(), AT_REMOVEDIR);
        }
    }
}

constexpr std::string_view namePrefix = "korvane-update-";

bool isAttemptName(std::string_view name) {
    return name.starts_with(namePrefix) && RandomUuid::isCanonical(name.substr(namePrefix.size()));
}

// The working directories earlier attempts left in `parent`, with everything in them: only directories of
// this program's name and the effective user's, opened without following a link. `parent` is safe from
// other users (or sticky), so none can put another directory in place of one of ours meanwhile.
void removeEarlierAttempts(int parent) {
    for (const std::string& name : DirectoryEntries::names(parent)) {
        struct stat info {};
        // Nothing of another name is even opened.
        Descriptor attempt(isAttemptName(name) ? ::openat(parent, name.c_str(), directoryFlags) : -1);
        if (!attempt.valid() || ::fstat(attempt.get(), &info) != 0 || info.st_uid != ::geteuid()) {
            continue;
        }
        removeEntries(attempt.get());
        ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
    }
}

} // namespace

Expected<WorkingDirectory> WorkingDirectory::create(const std::filesystem::path& base) {
    Expected<std::filesystem::path> parentPath = resolved(base);
    if (!parentPath) {
        return parentPath.failure();
    }
    Expected<Descriptor> parent = openSafely(*parentPath);
    if (!parent) {
        return parent.failure();
    }
    removeEarlierAttempts(parent->get());
    std::string name = std::string(namePrefix) + RandomUuid::generate();
    std::filesystem::path path = *parentPath / name;
    // A name that exists already is refused: nobody can slip a directory in beforehand.
    if (::mkdirat(parent->get(), name.c_str(), 0700) != 0) {
        return Failure::of(path.string(), errno);
    }
    Descriptor directory(::openat(parent->get(), name.c_str(), directoryFlags));
    if (!directory.valid() || ::fchmod(directory.get(), 0700) != 0) {
        return Failure::of(path.string(), errno);
    }
    return WorkingDirectory(std::move(*parent), std::move(directory), name, std::move(path));
}

WorkingDirectory::WorkingDirectory(Descriptor parent, Descriptor directory, std::string name,
                                   std::filesystem::path path)
    : parent_(std::move(parent)), directory_(std::move(directory)), name_(std::move(name)),
      path_(std::move(path)) {}

Expected<void> WorkingDirectory::writeNewFile(const std::string& fileName, std::string_view bytes) const {
    const std::string path = (path_ / fileName).string();
    Descriptor file(::openat(directory_.get(), fileName.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.valid()) {
        return Failure::of(path, errno);
    }
    if (Expected<void> written = AtomicFile::writeAll(file.get(), bytes, path); !written) {
        return written;
    }
    return file.close(path);
}

void WorkingDirectory::removeAll() const {
    removeEntries(directory_.get());
    ::unlinkat(parent_.get(), name_.c_str(), AT_REMOVEDIR);
}
