#include "cycle/HttpDynDnsUpdateClient.hpp"

#include "support/BuildConstants.hpp"
#include "support/HexDigit.hpp"
#include "support/Unicode.hpp"

#include <stdexcept>

namespace {

bool isKeptInQuery(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == ':';
}

bool isPresent(const std::optional<std::string>& value) {
    return value.has_value() && !value->empty();
}

} // namespace

HttpDynDnsUpdateClient::HttpDynDnsUpdateClient(ClientConfiguration config, ClientLog log,
                                               std::string serviceBaseUrl,
                                               std::chrono::milliseconds sessionTimeout,
                                               std::chrono::milliseconds requestTimeout, HttpTrust trust)
    : config_(std::move(config)),
      session_(HttpSession::open(
          {.requestTimeout = sessionTimeout, .totalTimeout = requestTimeout, .trust = std::move(trust)})),
      log_(std::move(log)) {
    if (serviceBaseUrl.ends_with('/')) {
        serviceBaseUrl.pop_back();
    }
    endpoint_ = serviceBaseUrl + "/nic/update";
}

std::string HttpDynDnsUpdateClient::percentEncode(std::string_view text) {
    std::string encoded;
    encoded.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (isKeptInQuery(c)) {
            encoded += ch;
            continue;
        }
        encoded += '%';
        HexDigit::append(encoded, c, HexDigit::Letters::upper);
    }
    return encoded;
}

std::string HttpDynDnsUpdateClient::buildUrl(const std::optional<std::string>& ipv4,
                                             const std::optional<std::string>& ipv6) const {
    std::string url = endpoint_ + "?hostname=" + percentEncode(config_.hostname);
    if (isPresent(ipv4)) {
        url += "&myip=" + percentEncode(*ipv4);
    }
    if (isPresent(ipv6)) {
        url += "&myipv6=" + percentEncode(*ipv6);
    }
    return url;
}

Expected<DynDnsResponse> HttpDynDnsUpdateClient::send(const std::optional<std::string>& ipv4,
                                                      const std::optional<std::string>& ipv6) {
    if (!isPresent(ipv4) && !isPresent(ipv6)) {
        return Failure{"an update needs at least one address"};
    }
    std::vector<std::string> headers = {"User-Agent: RuzEdaRoredo-macOS/" +
                                        std::string(ClientVersion::current)};
    // libcurl builds the Basic credential itself and keeps it to this host, whatever its version.
    HttpSession::RequestOptions options;
    options.basicAuth = HttpSession::Credential{config_.hostname, config_.apiKey};
    Expected<HttpResponse> result = session_.get(buildUrl(ipv4, ipv6), headers, options);
    if (!result) {
        return result.failure();
    }
    const HttpResponse& response = *result;
    std::string body = Unicode::isValidUtf8(response.body) ? response.body : std::string();
    if (!Unicode::trim(body).empty()) {
        return DynDnsResponseParser::parse(body);
    }
    log_.warn("Leerer Body bei HTTP " + std::to_string(response.status) + " von " + config_.hostname +
              " — Status-Code als Fallback.");
    return DynDnsResponse{DynDnsResponseParser::codeForStatus(response.status), body, std::nullopt};
}
