// The SHA-256 check of a downloaded package against the digest the manifest gives.
#pragma once

#include <string>
#include <string_view>

namespace UpdatePackageVerifier {

struct Result {
    bool matches = false;
    std::string actual; // the data's digest: 64 lower-case hexadecimal digits, empty if none was computed

    bool operator==(const Result&) const = default;
};

// `expected` may be written in upper case, with ":" or "-" between digits and white space around it;
// white space inside it makes it fail.
Result sha256Matches(std::string_view data, std::string_view expected);

// What `expected` is compared as: ":" and "-" removed, trimmed of white space and line breaks, lower case.
std::string normalisedDigest(std::string_view expected);

} // namespace UpdatePackageVerifier
