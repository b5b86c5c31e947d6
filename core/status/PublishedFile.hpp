// A record the daemon publishes for other processes: read from a bounded regular file and decoded
// tolerantly, written best effort, readable by the unprivileged menu-bar app.
#pragma once

#include "support/AtomicFile.hpp"
#include "support/FileRead.hpp"
#include "support/JsonStrict.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// `Codec` gives `static std::string encode(const Record&)` and `static std::optional<Record>
// fromObject(const nlohmann::json&)`, which may throw for a damaged document.
template <typename Codec, typename Record> class PublishedFile {
public:
    explicit PublishedFile(std::filesystem::path path) : path_(std::move(path)) {}

    // Nothing when the file is missing, unreadable or not a valid record. Never throws or logs.
    std::optional<Record> load() const {
        Expected<std::string> bytes = FileRead::readAll(path_);
        return bytes ? decode(*bytes) : std::nullopt;
    }

    // Mode 0644, so the unprivileged menu-bar app reads what the root daemon wrote, through a temporary file
    // and rename; failures are silent and keep the old file.
    void write(const Record& record) const {
        AtomicFile::writeBestEffort(
            path_, [&record] { return Codec::encode(record); }, 0644);
    }

    // Nothing for any document the rules reject; never throws.
    static std::optional<Record> decode(std::string_view text) {
        try {
            return Codec::fromObject(JsonStrict::parseObject(text));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

private:
    std::filesystem::path path_;
};
