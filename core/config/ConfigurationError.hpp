// An error that carries one complete German message for the user; what() is exactly that message.
#pragma once

#include <exception>
#include <string>

class ConfigurationError : public std::exception {
public:
    explicit ConfigurationError(std::string message) : message_(std::move(message)) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const { return message_; }

    bool operator==(const ConfigurationError& other) const { return message_ == other.message_; }

private:
    std::string message_;
};
