#include "cycle/DynDnsResponse.hpp"

#include "status/IpAddress.hpp"
#include "support/Unicode.hpp"

#include <utility>

bool DynDnsResponse::isSuccess() const {
    return code == DynDnsResponseCode::good || code == DynDnsResponseCode::noChange;
}

bool DynDnsResponse::isFatal() const {
    switch (code) {
    case DynDnsResponseCode::noHost:
    case DynDnsResponseCode::badAuth:
    case DynDnsResponseCode::notFqdn:
    case DynDnsResponseCode::abuse:
    case DynDnsResponseCode::badParam:
        return true;
    default:
        return false;
    }
}

namespace DynDnsResponseParser {
namespace {

DynDnsResponseCode codeForToken(std::string_view token) {
    static constexpr std::pair<std::string_view, DynDnsResponseCode> words[] = {
        {"good", DynDnsResponseCode::good},         {"nochg", DynDnsResponseCode::noChange},
        {"nohost", DynDnsResponseCode::noHost},     {"badauth", DynDnsResponseCode::badAuth},
        {"notfqdn", DynDnsResponseCode::notFqdn},   {"abuse", DynDnsResponseCode::abuse},
        {"911", DynDnsResponseCode::serverError},   {"dnserr", DynDnsResponseCode::serverError},
        {"badparam", DynDnsResponseCode::badParam},
    };
    std::string lower = Unicode::asciiLower(token);
    for (const auto& [word, code] : words) {
        if (lower == word) {
            return code;
        }
    }
    return DynDnsResponseCode::unknown;
}

} // namespace

DynDnsResponse parse(const std::optional<std::string>& body) {
    std::string_view trimmed = Unicode::trim(body ? std::string_view(*body) : std::string_view());
    std::vector<std::string_view> tokens = Unicode::split(trimmed);

    DynDnsResponse response;
    response.raw = std::string(trimmed);
    response.code = tokens.empty() ? DynDnsResponseCode::unknown : codeForToken(tokens[0]);
    if (tokens.size() >= 2) {
        response.reportedIp = IpAddress::normalize(tokens[1]);
    }
    return response;
}

DynDnsResponseCode codeForStatus(long httpStatus) {
    if (httpStatus == 400) {
        return DynDnsResponseCode::badParam;
    }
    if (httpStatus == 401) {
        return DynDnsResponseCode::badAuth;
    }
    if (httpStatus == 403) {
        return DynDnsResponseCode::abuse;
    }
    return httpStatus >= 500 ? DynDnsResponseCode::serverError : DynDnsResponseCode::unknown;
}

} // namespace DynDnsResponseParser
