// One open file descriptor, closed when it goes unless released.
#pragma once

#include "support/Expected.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <utility>

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    // Closes it now; a failed close (some file systems report a write error only there) is
    // "{what}: {its errno's text}".
    Expected<void> close(const std::string& what) {
        int fd = release();
        if (fd < 0 || ::close(fd) == 0) {
            return {};
        }
        return Failure::of(what, errno);
    }

private:
    int fd_;
};

// Whole milliseconds left until `deadline`, rounded up so that no wait ends early; zero once it has passed.
inline std::chrono::milliseconds millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

// Waits until `fd` is ready for `events` or `deadline` passes (EINTR retried); false when the time is up or
// the descriptor failed instead (a refused datagram, a reset connection).
inline bool awaitReady(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        std::chrono::milliseconds left = millisecondsUntil(deadline);
        if (left.count() <= 0) {
            return false;
        }
        pollfd watched{fd, events, 0};
        int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return (watched.revents & events) != 0;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}
