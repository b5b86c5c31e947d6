// Listing a directory that is already open.
#pragma once

#include "support/Descriptor.hpp"

#include <dirent.h>
#include <string>
#include <vector>

namespace DirectoryEntries {

// The names in the directory open at `directory` but "." and "..", read from its start through a
// descriptor of their own (the caller's stays open); none when it cannot be listed.
inline std::vector<std::string> names(int directory) {
    std::vector<std::string> names;
    int listed = ::dup(directory); // closedir closes the descriptor it was given
    DIR* listing = listed < 0 ? nullptr : ::fdopendir(listed);
    if (listing == nullptr) {
        Descriptor closeUnlisted(listed);
        return names;
    }
    ::rewinddir(listing);
    while (const dirent* entry = ::readdir(listing)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    }
    ::closedir(listing);
    return names;
}

} // namespace DirectoryEntries
