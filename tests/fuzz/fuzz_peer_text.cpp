// Any bytes, any bounds: peer text as shown is UTF-8, one inert line without a control or a reordering mark,
// within its byte bound, and plain printable text of the default length comes through unchanged.
#include "support/Unicode.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Decodes strictly (no overlong forms, no surrogates, nothing past U+10FFFF); false on any fault.
bool eachCodePoint(std::string_view text, bool (*allowed)(char32_t)) {
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80                    ? 1
                             : byte >= 0xC2 && byte <= 0xDF ? 2
                             : byte >= 0xE0 && byte <= 0xEF ? 3
                             : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        char32_t point = length == 1 ? byte : byte & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3F);
        }
        const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF) ||
            !allowed(point)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool inert(char32_t c) {
    bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
    bool bidi = c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
                (c >= 0x2066 && c <= 0x2069);
    return !control && !bidi;
}

bool printableAscii(char32_t c) {
    return c >= 0x20 && c < 0x7F;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    std::size_t maxCharacters = 1 + data[0] % 96;
    std::size_t maxBytes = 1 + data[1] * 3;
    std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

    for (auto [characters, bytes] :
         {std::pair{maxCharacters, maxBytes}, std::pair{Unicode::shownCharacters, Unicode::shownBytes}}) {
        std::string shown = Unicode::shownPeerText(text, characters, bytes);
        if (!eachCodePoint(shown, inert) || shown.size() > bytes + std::string_view("…").size()) {
            __builtin_trap();
        }
    }
    if (text.size() <= Unicode::shownCharacters && eachCodePoint(text, printableAscii) &&
        Unicode::shownPeerText(text) != text) {
        __builtin_trap();
    }
    return 0;
}
