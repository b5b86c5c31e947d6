#include "selfupdate/UpdatePackageVerifier.hpp"

#include "support/Sha256.hpp"
#include "support/Unicode.hpp"

namespace UpdatePackageVerifier {
namespace {

std::string sha256Hex(std::string_view data) {
    std::optional<Sha256::Digest> digest = Sha256::digest(data);
    if (!digest) {
        // No real digest can equal this text.
        return std::string();
    }
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(digest->size() * 2);
    for (unsigned char byte : *digest) {
        hex += hexDigits[byte >> 4];
        hex += hexDigits[byte & 0x0F];
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
    Result result;
    result.actual = sha256Hex(data);
    result.matches = !result.actual.empty() && result.actual == normalisedDigest(expected);
    return result;
}

} // namespace UpdatePackageVerifier
