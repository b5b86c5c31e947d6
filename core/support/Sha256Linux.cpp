// SHA-256 through OpenSSL's EVP interface.
#include "support/Sha256.hpp"

#include <openssl/evp.h>

namespace Sha256 {

std::optional<Digest> digest(std::string_view data) {
    Digest result{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), result.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != result.size()) {
        return std::nullopt;
    }
    return result;
}

} // namespace Sha256
