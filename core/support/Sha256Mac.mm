// SHA-256 through CommonCrypto, part of macOS: the shipped program needs no OpenSSL.
#include "support/Sha256.hpp"

#include <CommonCrypto/CommonDigest.h>

#include <algorithm>
#include <limits>
#include <tuple>

namespace Sha256 {

std::optional<Digest> digest(std::string_view data) {
    static_assert(CC_SHA256_DIGEST_LENGTH == std::tuple_size_v<Digest>);
    Digest result{};
    CC_SHA256_CTX context;
    CC_SHA256_Init(&context);
    // CC_LONG is 32 bits: feed larger data in pieces.
    constexpr std::size_t chunk = std::numeric_limits<CC_LONG>::max();
    for (std::size_t offset = 0; offset < data.size(); offset += chunk) {
        std::size_t length = std::min(chunk, data.size() - offset);
        CC_SHA256_Update(&context, data.data() + offset, static_cast<CC_LONG>(length));
    }
    CC_SHA256_Final(result.data(), &context);
    return result;
}

} // namespace Sha256
