// Starting a child program and waiting for it to end: the one way the programs run launchctl, the package
// installer and osascript.
#pragma once

#include "support/Expected.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Subprocess {

// What a standard stream of the child is connected to.
enum class Stream { inherit, nullDevice };

struct Stdio {
    Stream input = Stream::inherit;
    Stream output = Stream::inherit;
    Stream error = Stream::inherit;
};

// How a child that ran ended. That it could not be started or waited for is the Failure beside it.
struct Outcome {
    enum class Kind { exited, signaled, timedOut };

    Kind kind = Kind::exited;
    int exitStatus = 0; // Kind::exited
    int signal = 0;     // Kind::signaled

    bool succeeded() const { return kind == Kind::exited && exitStatus == 0; }

    static Outcome exitedWith(int status);
    static Outcome killedBy(int signal);
    static Outcome timedOut();

    bool operator==(const Outcome&) const = default;
};

// How long a child may take; none waits for ever. A child still running at its bound is killed with its
// whole process group, reaped, and reported as Kind::timedOut.
using Limit = std::optional<std::chrono::milliseconds>;

// Runs `program` (an absolute path; no search of PATH) with argv[0] = program followed by `arguments`,
// with exactly `environment` ("NAME=value" entries) as its environment, and waits for it within `limit`.
// The child starts with an empty signal mask and the default action for SIGPIPE, whatever this process
// blocks or ignores, and with no descriptor of this process but the three standard streams. With a limit
// it leads a process group of its own, so that what it started dies with it. The failure's text is the C
// library's for why the child could not be started or waited for.
Expected<Outcome> run(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment, Stdio stdio = {},
                      Limit limit = std::nullopt);

// What a child wrote to its standard output and error, and how it ended.
struct Captured {
    Outcome outcome;
    std::string output; // at most the limit asked for
};

// Like run(), with standard input from the null device and standard output and error both read into
// `output`: the first `limit` bytes are kept, the rest is read and dropped so the child never blocks.
Expected<Captured> capture(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment, std::size_t limit,
                           Limit timeLimit = std::nullopt);

// A copy of this process's environment.
std::vector<std::string> currentEnvironment();
// `base` with NAME set to `value`: an existing entry is replaced in place, otherwise one is appended.
std::vector<std::string> environmentWith(std::vector<std::string> base, std::string_view name,
                                         std::string_view value);
// This process's environment with NAME set to `value`.
std::vector<std::string> currentEnvironmentWith(std::string_view name, std::string_view value);

} // namespace Subprocess
