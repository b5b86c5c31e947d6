#include "support/ClientLog.hpp"

ClientLog::ClientLog(Sink sink) {
    if (sink) {
        sink_ = std::make_shared<const Sink>(std::move(sink));
    }
}

std::string_view ClientLog::rawValue(Level level) {
    switch (level) {
    case Level::debug:
        return "DEBUG";
    case Level::info:
        return "INFO";
    case Level::warn:
        return "WARN";
    case Level::error:
        return "ERROR";
    }
    return "ERROR";
}

void ClientLog::emit(Level level, const std::string& message) const {
    if (sink_) {
        (*sink_)(level, message);
    }
}
