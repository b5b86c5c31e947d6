#include "support/SecretForms.hpp"

#include "support/HexDigit.hpp"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

constexpr std::string_view base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t groupCharacters = 4; // Base64 writes three bytes as four characters

std::string base64(std::string_view bytes) {
    std::string encoded;
    for (size_t at = 0; at < bytes.size(); at += 3) {
        unsigned group = static_cast<unsigned char>(bytes[at]) << 16;
        size_t count = std::min<size_t>(3, bytes.size() - at);
        for (size_t i = 1; i < count; ++i) {
            group |= static_cast<unsigned>(static_cast<unsigned char>(bytes[at + i])) << (16 - 8 * i);
        }
        for (size_t i = 0; i < groupCharacters; ++i) {
            encoded += i <= count ? base64Alphabet[(group >> (18 - 6 * i)) & 0x3F] : '=';
        }
    }
    return encoded;
}

// A form to look for, and whether the Base64 group just before or after it holds bytes of the secret too.
struct Form {
    std::string text;
    bool sharesGroupBefore = false;
    bool sharesGroupAfter = false;
};

std::vector<Form> formsOf(std::string_view user, std::string_view secret) {
    std::vector<Form> forms = {{base64(std::string(user) + ":" + std::string(secret))},
                               {std::string(secret)}};
    // Inside a Base64 text the secret starts at one of three offsets in a group; its first `skipped` bytes
    // then share a group with what comes before, and what is left after the whole groups shares one with what
    // follows.
    for (size_t skipped = 0; skipped < 3 && skipped + 3 <= secret.size(); ++skipped) {
        size_t whole = (secret.size() - skipped) / 3 * 3;
        forms.push_back(
            {base64(secret.substr(skipped, whole)), skipped > 0, skipped + whole < secret.size()});
    }
    return forms;
}

// The byte a "%XX" at `at` stands for, in either case of the hex digits.
std::optional<char> percentDecoded(std::string_view text, size_t at) {
    if (at + 2 >= text.size() || text[at] != '%' || HexDigit::value(text[at + 1]) < 0 ||
        HexDigit::value(text[at + 2]) < 0) {
        return std::nullopt;
    }
    return static_cast<char>(HexDigit::value(text[at + 1]) * 16 + HexDigit::value(text[at + 2]));
}

// How many characters of `text` from `at` spell `wanted`, each byte as it is or percent-encoded; 0 if they do
// not.
size_t spelledLength(std::string_view text, size_t at, std::string_view wanted) {
    const size_t start = at;
    for (char byte : wanted) {
        if (percentDecoded(text, at) == byte) {
            at += 3;
        } else if (at < text.size() && text[at] == byte) {
            ++at;
        } else {
            return 0;
        }
    }
    return at - start;
}

bool isBase64Character(char c, bool padding) {
    return base64Alphabet.find(c) != std::string_view::npos || (padding && c == '=');
}

struct Span {
    size_t begin;
    size_t end;
};

// Where the first form found at `at` stands, with the Base64 groups the secret shares with its neighbours;
// never back before `floor`, the end of what is already replaced.
std::optional<Span> formAt(std::string_view text, size_t at, size_t floor, const std::vector<Form>& forms) {
    for (const Form& form : forms) {
        size_t length = spelledLength(text, at, form.text);
        if (length == 0) {
            continue;
        }
        Span span{at, at + length};
        if (form.sharesGroupBefore && span.begin >= floor + groupCharacters &&
            std::all_of(text.begin() + span.begin - groupCharacters, text.begin() + span.begin,
                        [](char c) { return isBase64Character(c, false); })) {
            span.begin -= groupCharacters;
        }
        for (size_t i = 0; form.sharesGroupAfter && i < groupCharacters && span.end < text.size() &&
                           isBase64Character(text[span.end], true);
             ++i) {
            ++span.end;
        }
        return span;
    }
    return std::nullopt;
}

} // namespace

namespace SecretForms {

std::string hidden(std::string_view text, std::string_view user, std::string_view secret,
                   std::string_view shown) {
    if (secret.empty()) {
        return std::string(text);
    }
    const std::vector<Form> forms = formsOf(user, secret);
    std::string result;
    size_t copied = 0;
    for (size_t at = 0; at < text.size();) {
        std::optional<Span> span = formAt(text, at, copied, forms);
        if (!span) {
            ++at;
            continue;
        }
        result.append(text.substr(copied, span->begin - copied)).append(shown);
        at = copied = span->end;
    }
    return result.append(text.substr(copied));
}

} // namespace SecretForms
