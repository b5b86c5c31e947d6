// The one way korvane-client writes text to a stream: whole, then flushed, so a line is out before
// whatever comes next (a prompt before the read, a status line before launchctl). A failed write is
// ignored: a closed terminal must not change what a command does.
#pragma once

#include <cstdio>
#include <string_view>

namespace OutputStream {

inline void write(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

} // namespace OutputStream
