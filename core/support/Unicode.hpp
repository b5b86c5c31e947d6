// Unicode text helpers over UTF-8 (utf8proc): validation, White_Space trimming and splitting,
// grapheme clusters and character classes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Unicode {

bool isValidUtf8(std::string_view text);

// The Unicode White_Space property: blanks, tabs, line ends, NEL, and the Z* separators.
bool isWhiteSpace(char32_t codePoint);
// Space separators (Zs) and the horizontal tab; line breaks are not blanks.
bool isBlank(char32_t codePoint);

// Removes White_Space at both ends. Bytes that are not valid UTF-8 are kept as they are.
std::string_view trim(std::string_view text);
// Removes blanks (isBlank) at both ends.
std::string_view trimBlanks(std::string_view text);
// Splits at every White_Space character and drops empty pieces.
std::vector<std::string_view> split(std::string_view text);

// User-perceived characters (extended grapheme clusters); invalid bytes are clusters of their own.
std::vector<std::string_view> graphemes(std::string_view text);
// A grapheme whose first code point is a letter (L*) or a number (N*), in any script.
bool isLetterOrNumber(std::string_view grapheme);

// Lower-cases A-Z only: enough for protocol words and address texts.
std::string asciiLower(std::string_view text);

} // namespace Unicode
