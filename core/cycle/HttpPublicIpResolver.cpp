#include "cycle/HttpPublicIpResolver.hpp"

#include "cycle/IpAddress.hpp"
#include "support/Unicode.hpp"
#include "support/UrlText.hpp"

HttpPublicIpResolver::HttpPublicIpResolver(ClientConfiguration config, ClientLog log,
                                           std::chrono::milliseconds requestTimeout)
    : config_(std::move(config)),
      session_(HttpSession::Options{.requestTimeout = requestTimeout, .totalTimeout = requestTimeout}),
      log_(std::move(log)) {}

std::optional<std::string> HttpPublicIpResolver::resolveIpv4() {
    return resolve(config_.ipv4DiscoveryUrls, "IPv4", &IpAddress::isValidIpv4);
}

std::optional<std::string> HttpPublicIpResolver::resolveIpv6() {
    return resolve(config_.ipv6DiscoveryUrls, "IPv6", &IpAddress::isValidIpv6);
}

std::optional<std::string> HttpPublicIpResolver::resolve(const std::vector<std::string>& urls,
                                                         std::string_view family,
                                                         bool (*isValid)(std::string_view)) {
    for (const std::string& url : urls) {
        // Credentials in a configured address are never logged.
        const std::string shownUrl = UrlText::withoutPassword(url);
        if (!HttpSession::isValidUrl(url)) {
            log_.warn("IP-Discovery-URL ungültig: " + shownUrl);
            continue;
        }
        HttpResult result = session_.get(url);
        if (!result.ok()) {
            log_.warn("IP-Discovery " + shownUrl + " fehlgeschlagen: " + result.error);
            continue;
        }
        // Any status: an echo service's error page simply fails the address test below.
        const std::string& body = result.response->body;
        std::string_view text = Unicode::isValidUtf8(body) ? Unicode::trim(body) : std::string_view();
        if (isValid(text)) {
            return std::string(text);
        }
        log_.warn("IP-Discovery " + shownUrl + " lieferte keine gültige " + std::string(family) +
                  "-Adresse: " + Unicode::shownPeerText(text));
    }
    return std::nullopt;
}
