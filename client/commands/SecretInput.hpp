// Reading lines from standard input, and the hidden prompt for the API key.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace SecretInput {

// One line from `fd`: the characters up to the next line feed, without the line feed and a carriage
// return right before it. Nothing at end of input (or on a read error) when no character was read; a last
// line without line feed is returned as it is. Reads one byte at a time, so nothing after the line feed is
// consumed: the next call, or another program sharing the descriptor, gets the next line.
std::optional<std::string> readLine(int fd);

// On a terminal: shows `prompt` on `output`, reads one line with echo switched off and puts the terminal
// back (also when the process is interrupted meanwhile), then ends the output line. Otherwise: reads one
// line, without prompt and without touching any terminal setting.
std::optional<std::string> read(std::string_view prompt, int inputFd, std::FILE* output);

} // namespace SecretInput
