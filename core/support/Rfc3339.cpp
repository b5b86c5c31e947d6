#include "support/Rfc3339.hpp"

#include <cstdio>
#include <ctime>

namespace Rfc3339 {
namespace {

bool digits(std::string_view text, size_t offset, size_t count, int& value) {
    value = 0;
    for (size_t i = offset; i < offset + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

} // namespace

std::string format(std::chrono::system_clock::time_point time) {
    auto seconds = std::chrono::floor<std::chrono::seconds>(time);
    std::time_t t = std::chrono::system_clock::to_time_t(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return buffer;
}

std::optional<std::chrono::system_clock::time_point> parse(std::string_view text) {
    int year, month, day, hour, minute, second;
    bool shapeOk = text.size() >= 20 && digits(text, 0, 4, year) && text[4] == '-' &&
                   digits(text, 5, 2, month) && text[7] == '-' && digits(text, 8, 2, day) &&
                   (text[10] == 'T' || text[10] == 't') && digits(text, 11, 2, hour) && text[13] == ':' &&
                   digits(text, 14, 2, minute) && text[16] == ':' && digits(text, 17, 2, second);
    if (!shapeOk || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 60) {
        return std::nullopt;
    }
    int offsetSeconds = 0;
    std::string_view zone = text.substr(19);
    if (zone == "Z" || zone == "z") {
        offsetSeconds = 0;
    } else {
        int offsetHours, offsetMinutes;
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || !digits(zone, 1, 2, offsetHours) ||
            zone[3] != ':' || !digits(zone, 4, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59) {
            return std::nullopt;
        }
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (zone[0] == '-' ? -1 : 1);
    }
    using namespace std::chrono;
    sys_days date = year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                   std::chrono::day{static_cast<unsigned>(day)}};
    auto time = date + hours{hour} + minutes{minute} + seconds{second} - seconds{offsetSeconds};
    // A date the clock cannot hold would wrap around to some other instant; it is rejected instead.
    if (time < ceil<seconds>(system_clock::time_point::min()) ||
        time > floor<seconds>(system_clock::time_point::max())) {
        return std::nullopt;
    }
    return time_point_cast<system_clock::duration>(time);
}

} // namespace Rfc3339
