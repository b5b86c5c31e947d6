#include "process/StdLog.hpp"

#include "process/DaemonLogFile.hpp"
#include "process/OutputStream.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace StdLog {
namespace {

std::mutex& outputLock() {
    static std::mutex lock;
    return lock;
}

// The time-stamp part of a line; Western digits and the Gregorian calendar whatever the locale.
std::string timestamp(std::chrono::system_clock::time_point time) {
    std::tm local = localTime(time);
    // Formatted from numbers, not through the locale, so no other digits or calendar can appear.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

std::string formatted(ClientLog::Level level, std::string_view message) {
    std::string text = timestamp(std::chrono::system_clock::now());
    text += " [";
    text += ClientLog::rawValue(level);
    text += "] ";
    text += message;
    text += '\n';
    return text;
}

void line(ClientLog::Level level, std::string_view message, DaemonLogFile* logFile = nullptr) {
    std::string text = formatted(level, message);
    std::lock_guard guard(outputLock());
    if (logFile != nullptr) {
        if (std::optional<std::string> refused = logFile->followRotation()) {
            OutputStream::write(stdout, formatted(ClientLog::Level::warn, *refused));
        }
    }
    OutputStream::write(stdout, text);
}

} // namespace

std::tm localTime(std::chrono::system_clock::time_point time) {
    std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

ClientLog clientLog() {
    static const ClientLog log([](ClientLog::Level level, const std::string& message) {
        if (level != ClientLog::Level::debug) {
            line(level, message);
        }
    });
    return log;
}

ClientLog daemonLog(const std::filesystem::path& path) {
    auto logFile = std::make_shared<DaemonLogFile>(path, std::vector<int>{STDOUT_FILENO, STDERR_FILENO});
    return ClientLog([logFile](ClientLog::Level level, const std::string& message) {
        if (level != ClientLog::Level::debug) {
            line(level, message, logFile.get());
        }
    });
}

} // namespace StdLog
