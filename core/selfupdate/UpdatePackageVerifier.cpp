#include "selfupdate/UpdatePackageVerifier.hpp"

#include "support/Unicode.hpp"

#include <array>
#include <openssl/evp.h>

namespace UpdatePackageVerifier {
namespace {

std::string sha256Hex(std::string_view data) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
        // Only an allocation failure inside OpenSSL gets here; no real digest can equal this text.
        return std::string();
    }
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex += hexDigits[digest[i] >> 4];
        hex += hexDigits[digest[i] & 0x0F];
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
