#include "process/DaemonLogFile.hpp"

#include "config/ConfigDirectory.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A regular file's identity, nothing for anything else.
template <typename Stat> std::optional<Stat> regular(int result, const Stat& info) {
    return result == 0 && S_ISREG(info.st_mode) ? std::optional<Stat>(info) : std::nullopt;
}

} // namespace

DaemonLogFile::DaemonLogFile(const std::filesystem::path& path, std::vector<int> outputs)
    : path_(path), outputs_(std::move(outputs)) {
    struct stat output {};
    struct stat atPath {};
    auto out = regular(fstat(outputs_.front(), &output), output);
    auto named = regular(lstat(path_.c_str(), &atPath), atPath);
    if (!out || !named || out->st_dev != named->st_dev || out->st_ino != named->st_ino) {
        return;
    }
    // A folder that is itself a symbolic link is not followed: the log then stays in the file it has.
    folder_ =
        Descriptor(::open(path_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder_.valid()) {
        followed_ = Identity{out->st_dev, out->st_ino};
    }
}

std::optional<std::string> DaemonLogFile::followRotation() {
    struct stat atName {};
    // Missing (between the rotation's rename and its new file): the old file goes on.
    if (!followed_ || fstatat(folder_.get(), path_.filename().c_str(), &atName, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    const Identity found{atName.st_dev, atName.st_ino};
    if (found == *followed_ || found == refused_) {
        return std::nullopt;
    }
    struct stat opened {};
    Expected<Descriptor> file = openChecked(opened);
    if (!file) {
        refused_ = found;
        return "Neue Log-Datei " + path_.string() + " nicht übernommen (" + file.failure().text +
               ") — das Log geht in die bisherige Datei.";
    }
    for (int output : outputs_) {
        if (dup2(file->get(), output) < 0) {
            return std::nullopt;
        }
    }
    followed_ = Identity{opened.st_dev, opened.st_ino};
    return std::nullopt;
}

// Never blocking on a FIFO planted at the name between the look and the open.
Expected<Descriptor> DaemonLogFile::openChecked(struct stat& info) const {
    struct stat folder {};
    if (fstat(folder_.get(), &folder) != 0) {
        return Failure::of(path_.parent_path().string(), errno);
    }
    if (ConfigDirectory::othersMayWrite(folder)) {
        return Failure{"der Ordner ist für andere Benutzer veränderbar"};
    }
    Descriptor file(::openat(folder_.get(), path_.filename().c_str(),
                             O_WRONLY | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) {
        return errno == ELOOP ? Failure{"ein symbolischer Link", ELOOP} : Failure::of(path_.string(), errno);
    }
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return Failure{"keine gewöhnliche Datei"};
    }
    if (ConfigDirectory::othersMayWrite(info)) {
        return Failure{"die Datei ist für andere Benutzer veränderbar"};
    }
    if (info.st_nlink != 1) {
        return Failure{"die Datei hat einen zweiten Namen"};
    }
    fcntl(file.get(), F_SETFL, O_APPEND);
    return file;
}
