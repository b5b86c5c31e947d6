// The characters that must never be shown as they are in a log line, a terminal or a one-line label.
#pragma once

namespace ControlCharacter {

// Controls of every kind, the two separators that end a line without being a control, and the
// bidirectional marks, embeddings, overrides and isolates that reorder the rest of a line in a viewer.
constexpr bool is(char32_t c) {
    bool bidirectional = c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
                         (c >= 0x2066 && c <= 0x2069);
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || bidirectional;
}

} // namespace ControlCharacter
