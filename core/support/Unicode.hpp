// Unicode text helpers over UTF-8 (utf8proc): validation, White_Space trimming and splitting,
// grapheme clusters and character classes.
#pragma once

#include <cstddef>
#include <optional>
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

// Text a peer chose (an echo body, a service's answer), made inert for a log line, a message or a status
// file: every C0 control, DEL, C1 control, line or paragraph separator and bidirectional control becomes a
// visible escape ("\n", "\x1B", "\u0085", "\u202E"), and bytes that are not UTF-8 become "\xFF"-style
// escapes, so the text stays one line and sends nothing to a terminal. Longer than maxCharacters
// user-perceived characters (an escape counts as the characters it shows) or maxBytes bytes, it is cut there
// and "…" follows.
inline constexpr std::size_t shownCharacters = 64;
inline constexpr std::size_t shownBytes = 512;
// For a text that may be a whole error line or URL.
inline constexpr std::size_t longShownCharacters = 256;
inline constexpr std::size_t longShownBytes = 1024;
std::string shownPeerText(std::string_view text, std::size_t maxCharacters = shownCharacters,
                          std::size_t maxBytes = shownBytes);

// A host name in the form the name system knows: each label with a character beyond ASCII lower-cased,
// composed (NFC) and written as "xn--" and its Punycode (RFC 3492), as IDNA does; ASCII labels as they are.
// Nothing when such a label holds anything but letters, marks, digits and "-", is not UTF-8, or would be
// longer than a label may be (63 bytes).
std::optional<std::string> asciiHostName(std::string_view host);

// Lower-cases A-Z only: enough for protocol words and address texts.
std::string asciiLower(std::string_view text);

} // namespace Unicode
