// The command-line program's log sink: one time-stamped line per message on standard output.
#pragma once

#include "support/ClientLog.hpp"

#include <filesystem>

namespace StdLog {

// The program's one log: "{yyyy-MM-dd HH:mm:ss} [{LEVEL}] {message}" in local time, each line written and
// flushed under one lock; debug is dropped.
ClientLog clientLog();

// The daemon's log: the same lines, each written after DaemonLogFile on `path` found the file again that a
// rotation put there (when standard output was that file at this call); a WARN line before it when that
// file was refused.
ClientLog daemonLog(const std::filesystem::path& path);

} // namespace StdLog
