// The command-line program's log sink: one time-stamped line per message on standard output.
#pragma once

#include "config/ClientLog.hpp"

#include <chrono>
#include <string>

namespace StdLog {

// The program's one log: "{yyyy-MM-dd HH:mm:ss} [{LEVEL}] {message}" in local time, each line written and
// flushed under one lock; debug is dropped.
ClientLog clientLog();

// The time-stamp part of a line; Western digits and the Gregorian calendar whatever the locale.
std::string timestamp(std::chrono::system_clock::time_point time);

} // namespace StdLog
