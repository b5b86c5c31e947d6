#include "support/Unicode.hpp"

#include "support/ControlCharacter.hpp"
#include "support/HexDigit.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace Unicode {
namespace {

struct Decoded {
    char32_t codePoint; // 0xFFFFFFFF for an invalid byte
    size_t length;
};

constexpr char32_t invalidCodePoint = 0xFFFFFFFF;

Decoded decodeAt(std::string_view text, size_t offset) {
    utf8proc_int32_t cp = 0;
    auto rest = static_cast<utf8proc_ssize_t>(text.size() - offset);
    utf8proc_ssize_t n =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + offset), rest, &cp);
    if (n <= 0) {
        return {invalidCodePoint, 1};
    }
    return {static_cast<char32_t>(cp), static_cast<size_t>(n)};
}

// Start offset of the code point that ends at `end` (exclusive), or end - 1 for an invalid byte.
Decoded decodeBefore(std::string_view text, size_t end) {
    size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
        --start;
    }
    Decoded d = decodeAt(text, start);
    if (d.codePoint == invalidCodePoint || start + d.length != end) {
        return {invalidCodePoint, 1};
    }
    return d;
}

template <typename Predicate> std::string_view trimWith(std::string_view text, Predicate keepOut) {
    size_t begin = 0;
    while (begin < text.size()) {
        Decoded d = decodeAt(text, begin);
        if (d.codePoint == invalidCodePoint || !keepOut(d.codePoint)) {
            break;
        }
        begin += d.length;
    }
    size_t end = text.size();
    while (end > begin) {
        Decoded d = decodeBefore(text, end);
        if (d.codePoint == invalidCodePoint || !keepOut(d.codePoint)) {
            break;
        }
        end -= d.length;
    }
    return text.substr(begin, end - begin);
}

void appendHex(std::string& out, std::uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out += HexDigit::of(value >> shift, HexDigit::Letters::upper);
    }
}

void appendEscape(std::string& out, Decoded d, unsigned char firstByte) {
    if (d.codePoint == invalidCodePoint) {
        out += "\\x";
        appendHex(out, firstByte, 2);
    } else if (d.codePoint == '\n') {
        out += "\\n";
    } else if (d.codePoint == '\r') {
        out += "\\r";
    } else if (d.codePoint == '\t') {
        out += "\\t";
    } else if (d.codePoint < 0x80) {
        out += "\\x";
        appendHex(out, d.codePoint, 2);
    } else {
        out += "\\u";
        appendHex(out, d.codePoint, 4);
    }
}

// One grapheme as shown, and whether it had to be escaped (controls always stand alone as graphemes).
std::pair<std::string, bool> shownGrapheme(std::string_view grapheme) {
    std::string shown;
    bool escaped = false;
    for (size_t offset = 0; offset < grapheme.size();) {
        Decoded d = decodeAt(grapheme, offset);
        if (d.codePoint == invalidCodePoint || ControlCharacter::is(d.codePoint)) {
            appendEscape(shown, d, static_cast<unsigned char>(grapheme[offset]));
            escaped = true;
        } else {
            shown.append(grapheme.substr(offset, d.length));
        }
        offset += d.length;
    }
    return {std::move(shown), escaped};
}

// The leading whole code points of a grapheme that fit in `room` bytes.
std::string_view leadingCodePoints(std::string_view grapheme, size_t room) {
    size_t end = 0;
    while (end < grapheme.size()) {
        size_t next = end + decodeAt(grapheme, end).length;
        if (next > room) {
            break;
        }
        end = next;
    }
    return grapheme.substr(0, end);
}

// RFC 3492's parameters for IDNA.
constexpr std::uint64_t punyBase = 36, punyTMin = 1, punyTMax = 26, punySkew = 38, punyDamp = 700;
constexpr std::size_t maxLabelBytes = 63;

std::uint64_t punyAdapt(std::uint64_t delta, std::uint64_t points, bool first) {
    delta = first ? delta / punyDamp : delta / 2;
    delta += delta / points;
    std::uint64_t k = 0;
    while (delta > ((punyBase - punyTMin) * punyTMax) / 2) {
        delta /= punyBase - punyTMin;
        k += punyBase;
    }
    return k + (punyBase - punyTMin + 1) * delta / (delta + punySkew);
}

char punyDigit(std::uint64_t digit) {
    return static_cast<char>(digit < 26 ? 'a' + digit : '0' + (digit - 26));
}

// RFC 3492's encoder; the callers keep a label short enough that no sum can overflow.
std::string punycode(const std::u32string& label) {
    std::string out;
    for (char32_t c : label) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        }
    }
    const std::size_t basic = out.size();
    if (basic > 0) {
        out += '-';
    }
    std::uint64_t n = 0x80, delta = 0, bias = 72;
    for (std::size_t handled = basic; handled < label.size(); ++delta, ++n) {
        char32_t next = 0x10FFFF;
        for (char32_t c : label) {
            if (c >= n && c < next) {
                next = c;
            }
        }
        delta += (next - n) * (handled + 1);
        n = next;
        for (char32_t c : label) {
            if (c < n) {
                ++delta;
            }
            if (c != n) {
                continue;
            }
            std::uint64_t q = delta;
            for (std::uint64_t k = punyBase;; k += punyBase) {
                std::uint64_t t = k <= bias ? punyTMin : k >= bias + punyTMax ? punyTMax : k - bias;
                if (q < t) {
                    break;
                }
                out += punyDigit(t + (q - t) % (punyBase - t));
                q = (q - t) / (punyBase - t);
            }
            out += punyDigit(q);
            bias = punyAdapt(delta, handled + 1, handled == basic);
            delta = 0;
            ++handled;
        }
    }
    return out;
}

// What IDNA lets stand in a label, near enough for a name to look up: letters, marks and digits of any
// script, the ASCII ones lower case, and "-". Controls, blanks, symbols and punctuation never.
bool belongsInLabel(char32_t c) {
    if (c < 0x80) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    }
    // Letters (L*), marks (M*) and decimal digits (Nd) are the categories utf8proc numbers one after another.
    utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(c));
    return category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_ND;
}

// One label beyond ASCII in its "xn--" form.
std::optional<std::string> asciiLabel(std::string_view label) {
    std::string lower;
    for (size_t offset = 0; offset < label.size();) {
        Decoded d = decodeAt(label, offset);
        if (d.codePoint == invalidCodePoint) {
            return std::nullopt;
        }
        utf8proc_uint8_t bytes[4];
        utf8proc_ssize_t n =
            utf8proc_encode_char(utf8proc_tolower(static_cast<utf8proc_int32_t>(d.codePoint)), bytes);
        lower.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
        offset += d.length;
    }
    utf8proc_uint8_t* composed = nullptr;
    utf8proc_ssize_t length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(lower.data()), static_cast<utf8proc_ssize_t>(lower.size()),
        &composed, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (length < 0) {
        return std::nullopt;
    }
    std::string nfc(reinterpret_cast<const char*>(composed), static_cast<size_t>(length));
    std::free(composed);
    std::u32string codePoints;
    for (size_t offset = 0; offset < nfc.size();) {
        Decoded d = decodeAt(nfc, offset);
        offset += d.length;
        codePoints += d.codePoint;
        // Each code point takes at least one byte after "xn--": more could not fit.
        if (!belongsInLabel(codePoints.back()) || codePoints.size() > maxLabelBytes - 4) {
            return std::nullopt;
        }
    }
    std::string ascii = "xn--" + punycode(codePoints);
    if (ascii.size() > maxLabelBytes) {
        return std::nullopt;
    }
    return ascii;
}

} // namespace

bool isValidUtf8(std::string_view text) {
    for (size_t offset = 0; offset < text.size();) {
        Decoded d = decodeAt(text, offset);
        if (d.codePoint == invalidCodePoint) {
            return false;
        }
        offset += d.length;
    }
    return true;
}

bool isWhiteSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

bool isBlank(char32_t c) {
    // The tab and the space separators: white space that does not end a line.
    bool endsLine = (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
    return isWhiteSpace(c) && !endsLine;
}

std::string_view trim(std::string_view text) {
    return trimWith(text, isWhiteSpace);
}

std::string_view trimBlanks(std::string_view text) {
    return trimWith(text, isBlank);
}

std::vector<std::string_view> split(std::string_view text) {
    std::vector<std::string_view> pieces;
    size_t pieceStart = 0;
    size_t offset = 0;
    while (offset < text.size()) {
        Decoded d = decodeAt(text, offset);
        if (d.codePoint != invalidCodePoint && isWhiteSpace(d.codePoint)) {
            if (offset > pieceStart) {
                pieces.push_back(text.substr(pieceStart, offset - pieceStart));
            }
            pieceStart = offset + d.length;
        }
        offset += d.length;
    }
    if (text.size() > pieceStart) {
        pieces.push_back(text.substr(pieceStart));
    }
    return pieces;
}

std::vector<std::string_view> graphemes(std::string_view text) {
    std::vector<std::string_view> clusters;
    size_t clusterStart = 0;
    size_t offset = 0;
    utf8proc_int32_t state = 0;
    utf8proc_int32_t previous = -1;
    while (offset < text.size()) {
        Decoded d = decodeAt(text, offset);
        bool invalid = d.codePoint == invalidCodePoint;
        auto current = invalid ? -1 : static_cast<utf8proc_int32_t>(d.codePoint);
        bool breakHere = offset > 0 && (invalid || previous < 0 ||
                                        utf8proc_grapheme_break_stateful(previous, current, &state));
        if (breakHere) {
            clusters.push_back(text.substr(clusterStart, offset - clusterStart));
            clusterStart = offset;
            if (invalid || previous < 0) {
                state = 0;
            }
        }
        previous = current;
        offset += d.length;
    }
    if (text.size() > clusterStart) {
        clusters.push_back(text.substr(clusterStart));
    }
    return clusters;
}

bool isLetterOrNumber(std::string_view grapheme) {
    if (grapheme.empty()) {
        return false;
    }
    Decoded d = decodeAt(grapheme, 0);
    if (d.codePoint == invalidCodePoint) {
        return false;
    }
    switch (utf8proc_category(static_cast<utf8proc_int32_t>(d.codePoint))) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
        return true;
    default:
        return false;
    }
}

std::string shownPeerText(std::string_view text, size_t maxCharacters, size_t maxBytes) {
    std::string shown;
    size_t characters = 0;
    for (std::string_view grapheme : graphemes(text)) {
        auto [piece, escaped] = shownGrapheme(grapheme);
        size_t width = escaped ? piece.size() : 1;
        if (characters + width <= maxCharacters && shown.size() + piece.size() <= maxBytes) {
            shown += piece;
            characters += width;
            continue;
        }
        // One character of thousands of combining marks still ends at the byte limit.
        if (!escaped && characters < maxCharacters) {
            shown += leadingCodePoints(piece, maxBytes - shown.size());
        }
        return shown + "…";
    }
    return shown;
}

std::optional<std::string> asciiHostName(std::string_view host) {
    std::string ascii;
    for (size_t start = 0; start <= host.size();) {
        size_t dot = std::min(host.find('.', start), host.size());
        std::string_view label = host.substr(start, dot - start);
        if (std::all_of(label.begin(), label.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            ascii += label;
        } else if (std::optional<std::string> converted = asciiLabel(label)) {
            ascii += *converted;
        } else {
            return std::nullopt;
        }
        if (dot < host.size()) {
            ascii += '.';
        }
        start = dot + 1;
    }
    return ascii;
}

std::string asciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

} // namespace Unicode
