// The private directory one self-update attempt writes its package into. It is created below a directory
// that no other user can change, and held open: the files in it are made and removed through its
// descriptor, so nobody can swap it for another between the download and the installer.
#pragma once

#include "support/Descriptor.hpp"
#include "support/Expected.hpp"

#include <filesystem>
#include <string>
#include <string_view>

class WorkingDirectory {
public:
    // Makes "korvane-update-" + a new random UUID (mode 0700) in `base`, creating the missing directories of
    // `base` (0700). Refused when `base` or a directory above it is writable by another user (a sticky one
    // such as /tmp is fine) or owned by one. The failure's text names the path and why. The directories
    // that earlier attempts left in `base` go first: of that name's shape and the effective user's, with
    // everything in them, never through a link. The last failed attempt's thus stays until the next.
    static Expected<WorkingDirectory> create(const std::filesystem::path& base);

    // Its absolute path, symbolic links resolved: what pkgutil and the installer are given.
    const std::filesystem::path& path() const { return path_; }

    // A new file (never one that is there already), written whole with mode 0600.
    Expected<void> writeNewFile(const std::string& fileName, std::string_view bytes) const;

    // Removes the directory with everything in it (the installer may leave files behind), through the
    // descriptors only: a link in it is removed, never followed. Failures are ignored.
    void removeAll() const;

private:
    WorkingDirectory(Descriptor parent, Descriptor directory, std::string name, std::filesystem::path path);

    Descriptor parent_;
    Descriptor directory_;
    std::string name_;
    std::filesystem::path path_;
};
