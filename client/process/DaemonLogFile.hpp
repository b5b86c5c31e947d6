// The daemon log under launchd. launchd opens the job's output file once; the rotation renames that file
// and puts a new empty one at the path, telling nobody. A daemon whose standard output was the file at the
// path when it started finds the new one again: it opens the path for appending onto its standard output
// and standard error. Under a pipe, a terminal or any other file nothing is ever reopened or created.
#pragma once

#include <filesystem>
#include <optional>
#include <sys/types.h>

class DaemonLogFile {
public:
    // Decides, now, whether standard output is the regular file at `path`.
    explicit DaemonLogFile(std::filesystem::path path);

    // Before a line is written: when the path names another regular file than standard output, that file
    // becomes standard output and standard error, appended to (the rotation may have written its own line
    // into it already). One stat otherwise.
    void followRotation();

private:
    struct Identity {
        dev_t device;
        ino_t inode;
        bool operator==(const Identity&) const = default;
    };

    std::filesystem::path path_;
    std::optional<Identity> followed_;
};
