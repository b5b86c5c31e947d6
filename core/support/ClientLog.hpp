// The core library's only way of reporting: a levelled log whose sink the program chooses.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class ClientLog {
public:
    enum class Level { debug, info, warn, error };
    using Sink = std::function<void(Level, const std::string&)>;

    // Without a sink every message is discarded. Copies share one sink.
    explicit ClientLog(Sink sink = {});

    static std::string_view rawValue(Level level);

    void debug(const std::string& message) const { emit(Level::debug, message); }
    void info(const std::string& message) const { emit(Level::info, message); }
    void warn(const std::string& message) const { emit(Level::warn, message); }
    void error(const std::string& message) const { emit(Level::error, message); }

private:
    void emit(Level level, const std::string& message) const;

    std::shared_ptr<const Sink> sink_;
};
