// How korvane-client's commands end the process: what is buffered for the terminal or the log is written
// first, so the last lines are never lost.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace ProcessExit {

[[noreturn]] inline void exitWith(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(code);
}

} // namespace ProcessExit
