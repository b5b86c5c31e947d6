// `korvane-client configure`: creates or changes config.json from the stored values, the options and
// what is asked for interactively, then forgets the last pushed addresses so the next cycle pushes, and the
// last DNS outcome, which may be another host's.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace ConfigureCommand {

// The arguments after "configure", for the files in `configDir`, asking on `input` and `output`; the restart
// hint only when `launchdPlist` exists. Returns 0 (saved), 1 (invalid or not saved) or 64 (usage error).
int execute(const std::vector<std::string>& arguments, const std::filesystem::path& configDir,
            const std::filesystem::path& launchdPlist, int input, std::FILE* output);

[[noreturn]] void run(const std::vector<std::string>& arguments);

} // namespace ConfigureCommand
