// The characters that must never be shown as they are in a log line, a terminal or a one-line label.
#pragma once

namespace ControlCharacter {

// Controls of every kind and the two separators that end a line without being a control.
constexpr bool is(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

} // namespace ControlCharacter
