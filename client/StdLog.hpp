// The command-line program's log sink: one time-stamped line per message on standard output.
#pragma once

#include "config/ClientLog.hpp"

namespace StdLog {

// The program's one log: "{yyyy-MM-dd HH:mm:ss} [{LEVEL}] {message}" in local time, each line written and
// flushed under one lock; debug is dropped.
ClientLog clientLog();

} // namespace StdLog
