// Any bytes, any bounds: peer text as shown is UTF-8, one inert line without a control or a reordering mark,
// within its byte bound, and plain printable text of the default length comes through unchanged.
#include "Fuzz.hpp"
#include "support/Unicode.hpp"

#include <algorithm>
#include <string>
#include <string_view>

namespace {

// The code points of valid UTF-8.
std::u32string codePoints(std::string_view text) {
    std::u32string points;
    for (unsigned char byte : text) {
        if ((byte & 0xC0) == 0x80) {
            points.back() = (points.back() << 6) | (byte & 0x3F);
        } else {
            points.push_back(byte & (byte >= 0xF0 ? 0x07 : byte >= 0xE0 ? 0x0F : byte >= 0xC0 ? 0x1F : 0x7F));
        }
    }
    return points;
}

// Neither a control, a line or paragraph separator, nor a bidirectional mark.
bool inert(char32_t c) {
    return !(c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C ||
             c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
    for (auto [characters, bytes] : {std::pair<std::size_t, std::size_t>{1 + data[0] % 96, 1 + data[1] * 3},
                                     {Unicode::shownCharacters, Unicode::shownBytes}}) {
        std::string shown = Unicode::shownPeerText(text, characters, bytes);
        std::u32string points = Unicode::isValidUtf8(shown) ? codePoints(shown) : U"\n";
        require(shown.size() <= bytes + std::string_view("…").size() &&
                std::all_of(points.begin(), points.end(), inert));
    }
    bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    require(!printable || text.size() > Unicode::shownCharacters || Unicode::shownPeerText(text) == text);
    return 0;
}
