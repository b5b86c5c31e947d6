// The SHA-256 digest, from the platform's own library (OpenSSL here, CommonCrypto on macOS).
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace Sha256 {

using Digest = std::array<unsigned char, 32>;

// Nothing only when the library fails to allocate.
std::optional<Digest> digest(std::string_view data);

} // namespace Sha256
