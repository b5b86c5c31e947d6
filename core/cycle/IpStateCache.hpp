// The addresses last pushed successfully, in memory and mirrored to ipstate.json.
#pragma once

#include "status/AddressPair.hpp"

#include <filesystem>
#include <optional>
#include <string>

class IpStateCache {
public:
    // Loads the file when a path is given; a missing or damaged file is an empty record. Without a
    // path the cache lives in memory only.
    explicit IpStateCache(std::optional<std::filesystem::path> path);

    const AddressPair& last() const { return state_; }

    // True when a given address differs (ASCII case ignored) from the one recorded for its family.
    bool needsUpdate(const AddressPair& found) const;
    // Stores each given address (an absent one keeps the recorded one) and writes the file.
    void record(const AddressPair& pushed);

private:
    void persist() const;

    std::optional<std::filesystem::path> path_;
    AddressPair state_;
};
