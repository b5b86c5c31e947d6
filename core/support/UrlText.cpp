#include "support/UrlText.hpp"

namespace UrlText {

std::string withoutPassword(std::string_view url) {
    size_t scheme = url.find("://");
    size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    // The user name ends at the first ":" and holds no "/", "?" or "#". The password may hold any of them and
    // "@" unencoded, so it ends only at the last "@": one that belongs to the path or query after the host
    // cannot be told from one in the password, and hiding too much is the safe mistake.
    size_t colon = url.find_first_of(":/?#", start);
    size_t at = url.rfind('@');
    if (colon == std::string_view::npos || url[colon] != ':' || at == std::string_view::npos || at < colon) {
        return std::string(url);
    }
    return std::string(url.substr(0, colon + 1)) + "***" + std::string(url.substr(at));
}

} // namespace UrlText
