// Hexadecimal digits: writing a nibble or a byte in either case, reading one digit.
#pragma once

#include <string>

namespace HexDigit {

enum class Letters { lower, upper };

// The digit for the low four bits of `value`.
inline char of(unsigned value, Letters letters) {
    static constexpr char lower[] = "0123456789abcdef";
    static constexpr char upper[] = "0123456789ABCDEF";
    return (letters == Letters::lower ? lower : upper)[value & 0x0F];
}

// Both digits of `byte`, the high one first.
inline void append(std::string& out, unsigned char byte, Letters letters) {
    out += of(byte >> 4, letters);
    out += of(byte, letters);
}

// The value of a digit in either case; -1 for any other character.
inline int value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const int lower = c | 0x20; // 'A'-'F' become 'a'-'f'; no other character lands there
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

} // namespace HexDigit
