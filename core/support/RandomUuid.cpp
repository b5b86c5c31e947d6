#include "support/RandomUuid.hpp"

#include "support/Descriptor.hpp"
#include "support/HexDigit.hpp"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace RandomUuid {
namespace {

bool readRandom(std::array<unsigned char, 16>& bytes) {
    Descriptor random(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (!random.valid()) {
        return false;
    }
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t n = ::read(random.get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    return filled == bytes.size();
}

} // namespace

std::string generate() {
    std::array<unsigned char, 16> bytes{};
    if (!readRandom(bytes)) {
        std::random_device device;
        for (unsigned char& byte : bytes) {
            byte = static_cast<unsigned char>(device());
        }
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        HexDigit::append(text, bytes[i], HexDigit::Letters::upper);
    }
    return text;
}

bool isCanonical(std::string_view text) {
    if (text.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        char c = text[i];
        if (hyphen ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

} // namespace RandomUuid
