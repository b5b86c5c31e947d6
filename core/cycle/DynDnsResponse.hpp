// The DynDNS answer vocabulary, one parsed answer, and the parser that classifies answer texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class DynDnsResponseCode {
    good,
    noChange,
    noHost,
    badAuth,
    notFqdn,
    abuse,
    serverError,
    badParam,
    unknown
};

struct DynDnsResponse {
    DynDnsResponseCode code = DynDnsResponseCode::unknown;
    std::string raw;
    std::optional<std::string> reportedIp; // interface only: the address the service names, read by nobody

    bool isSuccess() const;
    bool isFatal() const;

    bool operator==(const DynDnsResponse&) const = default;
};

namespace DynDnsResponseParser {

// Never fails: whatever it does not understand is `unknown`.
DynDnsResponse parse(const std::optional<std::string>& body);

// The code an empty answer gets from its HTTP status (0 when there was no HTTP status).
DynDnsResponseCode codeForStatus(long httpStatus);

} // namespace DynDnsResponseParser
