// One open file descriptor, closed when it goes unless released.
#pragma once

#include "support/Failure.hpp"

#include <cerrno>
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
