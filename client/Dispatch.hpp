// Reads the first argument and hands control to the command it names.
#pragma once

#include <string>
#include <vector>

namespace Dispatch {

// What the commands are and how they are called, as `korvane-client` without a command prints it.
std::string usageText();
void printUsage();

// Never returns: every command ends the process with its exit code.
[[noreturn]] void run(const std::vector<std::string>& arguments);

} // namespace Dispatch
