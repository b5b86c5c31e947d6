// posix_spawn rather than fork: the daemon has a second thread, and after fork only async-signal-safe
// calls would be allowed before exec.
#include "support/Subprocess.hpp"

#include "support/Descriptor.hpp"
#include "support/SpawnPlatform.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace Subprocess {
namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

Deadline deadlineAfter(Limit limit) {
    return limit ? Deadline(Clock::now() + *limit) : std::nullopt;
}

Failure failure(int error) {
    return Failure{std::generic_category().message(error), error};
}

class FileActions {
public:
    FileActions() { status_ = ::posix_spawn_file_actions_init(&actions_); }
    ~FileActions() {
        if (status_ == 0) {
            ::posix_spawn_file_actions_destroy(&actions_);
        }
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;

    int status() const { return status_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

    void connect(int fd, Stream stream) {
        if (status_ != 0) {
            return;
        }
        if (stream == Stream::inherit) {
            status_ = SpawnPlatform::keepInherited(&actions_, fd);
            return;
        }
        int flags = fd == STDIN_FILENO ? O_RDONLY : O_WRONLY;
        status_ = ::posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", flags, 0);
    }

    void closeOthers() {
        if (status_ == 0) {
            status_ = SpawnPlatform::closeOthers(&actions_);
        }
    }

    void duplicate(int from, int to) {
        if (status_ == 0) {
            status_ = ::posix_spawn_file_actions_adddup2(&actions_, from, to);
        }
    }

private:
    posix_spawn_file_actions_t actions_{};
    int status_ = 0;
};

class Attributes {
public:
    explicit Attributes(bool ownGroup) {
        status_ = ::posix_spawnattr_init(&attributes_);
        if (status_ != 0) {
            return;
        }
        initialised_ = true;
        // A blocked or ignored signal would be inherited across exec and silently change how the child
        // reacts (an ignored SIGPIPE, a mask set by one of our threads).
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | SpawnPlatform::closeOthersFlag();
        if (ownGroup) {
            flags |= POSIX_SPAWN_SETPGROUP;
            status_ = ::posix_spawnattr_setpgroup(&attributes_, 0);
        }
        if (status_ == 0) {
            status_ = ::posix_spawnattr_setsigmask(&attributes_, &none);
        }
        if (status_ == 0) {
            status_ = ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
        }
        if (status_ == 0) {
            status_ = ::posix_spawnattr_setflags(&attributes_, flags);
        }
    }
    ~Attributes() {
        if (initialised_) {
            ::posix_spawnattr_destroy(&attributes_);
        }
    }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;

    int status() const { return status_; }
    const posix_spawnattr_t* get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
    int status_ = 0;
    bool initialised_ = false;
};

// posix_spawn wants a null-terminated array of mutable C strings; `strings` must outlive the result.
std::vector<char*> cStrings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Waits for the child; at the deadline its group is killed and the child reaped all the same.
Expected<Outcome> waitFor(pid_t pid, Deadline deadline = std::nullopt) {
    int status = 0;
    bool killed = false;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        pid_t result = ::waitpid(pid, &status, deadline ? WNOHANG : 0);
        if (result == pid) {
            break;
        }
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result < 0) {
            return failure(errno);
        }
        if (millisecondsUntil(*deadline).count() == 0) {
            ::kill(-pid, SIGKILL);
            killed = true;
            deadline.reset();
            continue;
        }
        std::this_thread::sleep_for(std::min(pause, millisecondsUntil(*deadline)));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    if (killed) {
        return Outcome::timedOut();
    }
    if (WIFEXITED(status)) {
        return Outcome::exitedWith(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return Outcome::killedBy(WTERMSIG(status));
    }
    return failure(ECHILD);
}

bool isEntryFor(std::string_view entry, std::string_view name) {
    return entry.size() > name.size() && entry.substr(0, name.size()) == name && entry[name.size()] == '=';
}

// Starts the child with `actions` applied.
Expected<pid_t> spawn(const std::string& program, const std::vector<std::string>& arguments,
                      std::vector<std::string> environment, FileActions& actions, bool ownGroup) {
    // Last, so that the descriptors the other actions set up are the only ones left.
    actions.closeOthers();
    if (actions.status() != 0) {
        return failure(actions.status());
    }
    Attributes attributes(ownGroup);
    if (attributes.status() != 0) {
        return failure(attributes.status());
    }

    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = cStrings(argvStrings);
    std::vector<char*> envp = cStrings(environment);

    pid_t pid = 0;
    int error =
        ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), envp.data());
    return error == 0 ? Expected<pid_t>(pid) : failure(error);
}

// One pipe; the descriptors it still holds are closed when it goes.
struct Pipe {
    Descriptor readEnd;
    Descriptor writeEnd;
};

Expected<Pipe> openPipe() {
    int ends[2];
    if (::pipe(ends) != 0) {
        return failure(errno);
    }
    // Only the duplicates on the child's output and error survive exec.
    ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    return Pipe{Descriptor(ends[0]), Descriptor(ends[1])};
}

// Reads to the end of the output; false when the deadline came first.
bool drain(int fd, std::string& output, std::size_t limit, Deadline deadline) {
    char buffer[4096];
    for (;;) {
        if (deadline) {
            pollfd ready{fd, POLLIN, 0};
            int waited = static_cast<int>(std::min<long long>(millisecondsUntil(*deadline).count(), INT_MAX));
            int result = ::poll(&ready, 1, waited);
            if (result < 0 && errno == EINTR) {
                continue;
            }
            if (result == 0) {
                return false;
            }
        }
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return true;
        }
        std::size_t kept = std::min(static_cast<std::size_t>(n), limit - std::min(limit, output.size()));
        output.append(buffer, kept);
    }
}

} // namespace

Outcome Outcome::exitedWith(int status) {
    Outcome outcome;
    outcome.kind = Kind::exited;
    outcome.exitStatus = status;
    return outcome;
}

Outcome Outcome::killedBy(int signal) {
    Outcome outcome;
    outcome.kind = Kind::signaled;
    outcome.signal = signal;
    return outcome;
}

Outcome Outcome::timedOut() {
    Outcome outcome;
    outcome.kind = Kind::timedOut;
    return outcome;
}

Expected<Outcome> run(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment, Stdio stdio, Limit limit) {
    FileActions actions;
    actions.connect(STDIN_FILENO, stdio.input);
    actions.connect(STDOUT_FILENO, stdio.output);
    actions.connect(STDERR_FILENO, stdio.error);
    Expected<pid_t> pid = spawn(program, arguments, environment, actions, limit.has_value());
    if (!pid) {
        return pid.failure();
    }
    return waitFor(*pid, deadlineAfter(limit));
}

Expected<Captured> capture(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment, std::size_t limit, Limit timeLimit) {
    const Deadline deadline = deadlineAfter(timeLimit);
    Expected<Pipe> pipe = openPipe();
    if (!pipe) {
        return pipe.failure();
    }
    FileActions actions;
    actions.connect(STDIN_FILENO, Stream::nullDevice);
    actions.duplicate(pipe->writeEnd.get(), STDOUT_FILENO);
    actions.duplicate(pipe->writeEnd.get(), STDERR_FILENO);
    Expected<pid_t> pid = spawn(program, arguments, environment, actions, timeLimit.has_value());
    if (!pid) {
        return pid.failure();
    }
    // Our copy of the write end would keep the pipe open after the child has ended.
    pipe->writeEnd = Descriptor(-1);
    std::string output;
    bool ended = drain(pipe->readEnd.get(), output, limit, deadline);
    // A deadline already passed kills at once.
    Expected<Outcome> outcome = waitFor(*pid, ended ? deadline : Deadline(Clock::now()));
    if (!outcome) {
        return outcome.failure();
    }
    return Captured{*outcome, std::move(output)};
}

std::vector<std::string> currentEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = SpawnPlatform::environment(); entry != nullptr && *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
    }
    return entries;
}

std::vector<std::string> environmentWith(std::vector<std::string> base, std::string_view name,
                                         std::string_view value) {
    std::string entry = std::string(name) + "=" + std::string(value);
    bool replaced = false;
    std::vector<std::string> result;
    result.reserve(base.size() + 1);
    for (std::string& existing : base) {
        if (!isEntryFor(existing, name)) {
            result.push_back(std::move(existing));
        } else if (!replaced) {
            // Only one entry per name reaches the child, so it cannot read a stale duplicate.
            result.push_back(entry);
            replaced = true;
        }
    }
    if (!replaced) {
        result.push_back(std::move(entry));
    }
    return result;
}

std::vector<std::string> currentEnvironmentWith(std::string_view name, std::string_view value) {
    return environmentWith(currentEnvironment(), name, value);
}

} // namespace Subprocess
