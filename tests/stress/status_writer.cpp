// Writes status records to one file as fast as it can, for the crash test of the status file: killed at any
// moment, it must leave either no file or a complete one. Each record's message carries a counter that
// continues from the file an earlier, killed writer left, so the test can see that it never goes back.
// With --sweep it sweeps the directory before each write, as the daemon does before each cycle, and ends
// with status 3 when a write did not land.
#include "config/ConfigDirectory.hpp"
#include "status/StatusFile.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

constexpr const char* messagePrefix = "write ";

// The counter of the file's message, 0 without a file; nothing when the file is not a valid status.
std::optional<unsigned long long> previousCounter(const std::filesystem::path& path) {
    if (::access(path.c_str(), F_OK) != 0) {
        return 0;
    }
    std::optional<DaemonStatus> status = StatusFile(path).load();
    if (!status || status->message.rfind(messagePrefix, 0) != 0) {
        return std::nullopt;
    }
    return std::stoull(status->message.substr(std::char_traits<char>::length(messagePrefix)));
}

// Records of changing length and shape, so a torn write could not pass for a whole one.
DaemonStatus record(unsigned long long counter) {
    auto now = std::chrono::system_clock::now();
    bool even = counter % 2 == 0;
    bool third = counter % 3 == 0;
    using Text = std::optional<std::string>;
    return {even ? DaemonStatus::State::warning : DaemonStatus::State::ok,
            messagePrefix + std::to_string(counter) + (third ? " " + std::string(counter % 200, 'x') : ""),
            third ? Text() : Text("home.example.net"),
            "203.0.113.7",
            even ? Text("2001:db8::" + std::to_string(counter % 0xffff)) : Text(),
            even ? std::nullopt : std::optional(now),
            now,
            "0.24.0"};
}

} // namespace

int main(int argc, char** argv) {
    bool sweeping = argc == 3 && std::string_view(argv[2]) == "--sweep";
    if (argc != 2 && !sweeping) {
        std::fprintf(stderr, "usage: korvane-status-writer STATUS-FILE [--sweep]\n");
        return 64;
    }
    const std::filesystem::path path = argv[1];
    StatusFile file(path);
    std::optional<unsigned long long> counter = previousCounter(path);
    if (!counter) {
        std::fprintf(stderr, "korvane-status-writer: %s holds no valid status\n", argv[1]);
        return 2;
    }
    bool reported = false;
    for (;;) {
        ++*counter;
        if (sweeping) {
            ConfigDirectory::sweepLeftovers(path.parent_path());
        }
        file.write(record(*counter));
        if (sweeping && previousCounter(path) != counter) {
            std::fprintf(stderr, "korvane-status-writer: write %llu did not land\n", *counter);
            return 3;
        }
        if (!reported && file.load()) {
            // Tells the test that from now on the file must always be there.
            std::fputs("written\n", stdout);
            std::fflush(stdout);
            reported = true;
        }
    }
}
