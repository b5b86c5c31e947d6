// The daemon log under launchd. launchd opens the job's output file once; the rotation renames that file
// and puts a new empty one at the path, telling nobody. A daemon whose standard output was the file at the
// path when it started finds the new one again: it opens it for appending onto its standard output and
// standard error. Under a pipe, a terminal or any other file nothing is ever reopened or created.
//
// The daemon runs as root, so the new file is taken only as the rotation makes it: in the folder held open
// since the start (not wherever the path leads later), not through a symbolic link, the folder and the
// file root's (or the effective user's) and writable by nobody else, the file with no second name.
#pragma once

#include "support/Descriptor.hpp"
#include "support/Expected.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

class DaemonLogFile {
public:
    // Decides, now, whether the first of `outputs` (standard output, then standard error) is the regular
    // file at `path`.
    DaemonLogFile(const std::filesystem::path& path, std::vector<int> outputs);

    // Before a line is written: when the folder holds another file at the log's name than the outputs,
    // that file becomes each of them, appended to (the rotation may have written its own line into it
    // already). One fstatat otherwise. A file that fails the checks leaves the outputs as they are; the
    // text of a warning is returned, once for each such file.
    std::optional<std::string> followRotation();

private:
    struct Identity {
        dev_t device;
        ino_t inode;
        bool operator==(const Identity&) const = default;
    };

    // The file at the log's name, opened for appending if it passes the checks; `info` is its status.
    Expected<Descriptor> openChecked(struct stat& info) const;

    std::filesystem::path path_;
    std::vector<int> outputs_;
    Descriptor folder_{-1};
    std::optional<Identity> followed_;
    std::optional<Identity> refused_;
};
