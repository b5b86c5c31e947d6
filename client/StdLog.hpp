// The command-line program's log sink: one time-stamped line per message on standard output.
#pragma once

#include "config/ClientLog.hpp"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace StdLog {

// "{yyyy-MM-dd HH:mm:ss} [{LEVEL}] {message}" in local time, written and flushed under one lock.
void line(ClientLog::Level level, std::string_view message);

// Drops debug; passes everything else to line().
ClientLog clientLog();

// The same filter over another line writer (the daemon's, which tests replace).
ClientLog withoutDebug(std::function<void(ClientLog::Level, std::string_view)> writeLine);

// The time-stamp part of a line; Western digits and the Gregorian calendar whatever the locale.
std::string timestamp(std::chrono::system_clock::time_point time);

} // namespace StdLog
