// Switches the process time zone (TZ) for one scope and puts the old one back.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

class TimeZoneGuard {
public:
    explicit TimeZoneGuard(const char* zone) {
        if (const char* value = std::getenv("TZ")) {
            saved_ = value;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZoneGuard() {
        if (saved_) {
            ::setenv("TZ", saved_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

    TimeZoneGuard(const TimeZoneGuard&) = delete;
    TimeZoneGuard& operator=(const TimeZoneGuard&) = delete;

private:
    std::optional<std::string> saved_;
};
