#include "selfupdate/UpdatePackageVerifier.hpp"

#include "support/HexDigit.hpp"
#include "support/Sha256.hpp"
#include "support/Unicode.hpp"

namespace UpdatePackageVerifier {
namespace {

std::optional<std::string> sha256Hex(std::string_view data) {
    std::optional<Sha256::Digest> digest = Sha256::digest(data);
    if (!digest) {
        return std::nullopt;
    }
    std::string hex;
    hex.reserve(digest->size() * 2);
    for (unsigned char byte : *digest) {
        HexDigit::append(hex, byte, HexDigit::Letters::lower);
    }
    return hex;
}

} // namespace

std::string normalisedDigest(std::string_view expected) {
    std::string stripped;
    stripped.reserve(expected.size());
    for (char c : expected) {
        if (c != ':' && c != '-') {
            stripped += c;
        }
    }
    // Digests are ASCII: lower-casing A-Z is all the case folding a match can need.
    return Unicode::asciiLower(Unicode::trim(stripped));
}

Result sha256Matches(std::string_view data, std::string_view expected) {
    std::optional<std::string> actual = sha256Hex(data);
    if (!actual) {
        return {};
    }
    return {*actual == normalisedDigest(expected), *actual};
}

} // namespace UpdatePackageVerifier
