#include "support/UrlText.hpp"

namespace UrlText {

std::string withoutPassword(std::string_view url) {
    size_t scheme = url.find("://");
    size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    std::string_view authority = url.substr(start, url.find_first_of("/?#", start) - start);
    // The last "@" ends the user information: a password with an unencoded "@" is hidden whole.
    size_t at = authority.rfind('@');
    size_t colon = authority.find(':');
    if (at == std::string_view::npos || colon > at) {
        return std::string(url);
    }
    return std::string(url.substr(0, start + colon + 1)) + "***" + std::string(url.substr(start + at));
}

} // namespace UrlText
