// How korvane-client's commands end the process: what is buffered for the terminal or the log is written
// first, so the last lines are never lost.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace ProcessExit {

inline void flushStandardStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
}

[[noreturn]] inline void exitWith(int code) {
    flushStandardStreams();
    std::exit(code);
}

// Ends the process without running static destructors, for a thread that ends it while another still runs.
[[noreturn]] inline void exitNow(int code) {
    flushStandardStreams();
    std::_Exit(code);
}

} // namespace ProcessExit
