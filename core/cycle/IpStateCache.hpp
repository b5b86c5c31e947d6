// The addresses last pushed successfully for one host name, in memory and mirrored to ipstate.json.
#pragma once

#include "status/AddressPair.hpp"

#include <filesystem>
#include <optional>
#include <string>

class IpStateCache {
public:
    // Loads the file when a path is given; a missing or damaged file is an empty record, and so is the
    // record of another host or of none (as older files are): a daemon still running with the previous
    // configuration may have written it after `configure` removed it. Without a host name (a reader that
    // cannot know the configuration) the file's record is taken whoever's it is. Without a path the cache
    // lives in memory only.
    IpStateCache(std::optional<std::filesystem::path> path, std::optional<std::string> hostname);

    const AddressPair& last() const { return state_; }

    // True when a given address differs (ASCII case ignored) from the one recorded for its family.
    bool needsUpdate(const AddressPair& found) const;
    // Stores each given address (an absent one keeps the recorded one) and writes the file with the host
    // name.
    void record(const AddressPair& pushed);

private:
    void persist() const;

    std::optional<std::filesystem::path> path_;
    std::optional<std::string> hostname_;
    AddressPair state_;
};
