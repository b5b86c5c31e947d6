// The command-line program's log sink: one time-stamped line per message on standard output.
#pragma once

#include "support/ClientLog.hpp"

#include <chrono>
#include <ctime>
#include <filesystem>

namespace StdLog {

// The program's one log: "{yyyy-MM-dd HH:mm:ss} [{LEVEL}] {message}" in local time, each line written and
// flushed under one lock; debug is dropped.
ClientLog clientLog();

// `time`'s calendar fields in the system's time zone, as the log's time stamps show them.
std::tm localTime(std::chrono::system_clock::time_point time);

// The daemon's log: the same lines, each written after DaemonLogFile on `path` found the file again that a
// rotation put there (when standard output was that file at this call); a WARN line before it when that
// file was refused.
ClientLog daemonLog(const std::filesystem::path& path);

} // namespace StdLog
