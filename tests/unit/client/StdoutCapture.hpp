// Sends standard output to a scratch file while alive, so StdLog's lines can be read back as
// (level, message) pairs.
#pragma once

#include "config/ClientLog.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

class StdoutCapture {
public:
    using Lines = std::vector<std::pair<ClientLog::Level, std::string>>;

    StdoutCapture() {
        std::string pattern = (std::filesystem::temp_directory_path() / "korvane-stdout-XXXXXX").string();
        int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            throw std::runtime_error("mkstemp failed for " + pattern);
        }
        path_ = pattern;
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }

    ~StdoutCapture() {
        restore();
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Puts standard output back; the text written so far stays readable.
    void restore() {
        if (saved_ < 0) {
            return;
        }
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    }

    std::string text() const {
        std::fflush(stdout);
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    // Every "{timestamp} [{LEVEL}] {message}" line; any other line is kept whole with level debug, so a
    // stray line makes a comparison fail instead of vanishing.
    Lines lines() const {
        Lines result;
        std::istringstream in(text());
        std::string line;
        while (std::getline(in, line)) {
            std::size_t open = line.find(" [");
            std::size_t close = line.find("] ", open == std::string::npos ? 0 : open);
            std::optional<ClientLog::Level> level;
            if (open == 19 && close != std::string::npos) {
                level = ClientLog::levelFromRawValue(line.substr(open + 2, close - open - 2));
            }
            if (level) {
                result.emplace_back(*level, line.substr(close + 2));
            } else {
                result.emplace_back(ClientLog::Level::debug, line);
            }
        }
        return result;
    }

private:
    std::filesystem::path path_;
    int saved_ = -1;
};
