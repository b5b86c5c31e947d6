#include "commands/SecretInput.hpp"

#include "process/OutputStream.hpp"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

namespace SecretInput {
namespace {

// A signal handler reaches only static storage. This holds the terminal settings to put back when the
// process is interrupted during the hidden read; it is filled before the handlers are installed and only
// read while they are.
struct HiddenRead {
    int fd = -1;
    termios visible{};
    termios hidden{};
};
HiddenRead activeRead;

constexpr int interruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

extern "C" void restoreTerminalAndReraise(int signal) {
    int savedErrno = errno;
    ::tcsetattr(activeRead.fd, TCSANOW, &activeRead.visible);

    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    struct sigaction ours {};
    ::sigaction(signal, &defaultAction, &ours);
    ::raise(signal); // pending until unblocked below, then acted on by default
    sigset_t justThis;
    sigemptyset(&justThis);
    sigaddset(&justThis, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &justThis, nullptr);

    // Still running: a stop signal, and the process was continued. The read goes on, hidden again.
    ::sigaction(signal, &ours, nullptr);
    ::tcsetattr(activeRead.fd, TCSANOW, &activeRead.hidden);
    errno = savedErrno;
}

// Installs the handler for the interrupting signals while it lives and puts the previous ones back.
// A signal that is ignored (nohup, a shell's background job) stays ignored.
class InterruptGuard {
public:
    InterruptGuard() {
        struct sigaction handler {};
        handler.sa_handler = restoreTerminalAndReraise;
        sigemptyset(&handler.sa_mask);
        for (int signal : interruptSignals) {
            sigaddset(&handler.sa_mask, signal);
        }
        handler.sa_flags = SA_RESTART;
        for (size_t i = 0; i < std::size(interruptSignals); ++i) {
            ::sigaction(interruptSignals[i], nullptr, &previous_[i]);
            if (previous_[i].sa_handler != SIG_IGN) {
                ::sigaction(interruptSignals[i], &handler, nullptr);
            }
        }
    }
    ~InterruptGuard() {
        for (size_t i = 0; i < std::size(interruptSignals); ++i) {
            ::sigaction(interruptSignals[i], &previous_[i], nullptr);
        }
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction previous_[std::size(interruptSignals)]{};
};

} // namespace

std::optional<std::string> readLine(int fd) {
    std::string line;
    bool readAny = false;
    for (;;) {
        char c = 0;
        ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            // A broken input is end of input: a half line must not become a host name or a key.
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        readAny = true;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        line.push_back(c);
    }
    if (!readAny) {
        return std::nullopt;
    }
    return line;
}

std::optional<std::string> read(std::string_view prompt, int inputFd, std::FILE* output) {
    if (::isatty(inputFd) == 0) {
        return readLine(inputFd);
    }
    OutputStream::write(output, prompt);

    termios visible{};
    // Without the current settings there is nothing safe to put back: applying zeroed settings would leave
    // the terminal unusable, so the line is read as the terminal stands.
    if (::tcgetattr(inputFd, &visible) != 0) {
        std::optional<std::string> line = readLine(inputFd);
        OutputStream::write(output, "\n");
        return line;
    }
    termios hidden = visible;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    activeRead.fd = inputFd;
    activeRead.visible = visible;
    activeRead.hidden = hidden;

    std::optional<std::string> line;
    {
        InterruptGuard guard;
        ::tcsetattr(inputFd, TCSANOW, &hidden);
        line = readLine(inputFd);
        ::tcsetattr(inputFd, TCSANOW, &visible);
    }
    // Enter was not echoed either.
    OutputStream::write(output, "\n");
    return line;
}

} // namespace SecretInput
