#include "cycle/HttpPublicIpResolver.hpp"

#include "cycle/IpAddress.hpp"
#include "host/StableAddress.hpp"
#include "support/Unicode.hpp"
#include "support/UrlText.hpp"

HttpPublicIpResolver::HttpPublicIpResolver(ClientConfiguration config, ClientLog log,
                                           std::chrono::milliseconds requestTimeout)
    : config_(std::move(config)),
      session_(HttpSession::Options{.requestTimeout = requestTimeout, .totalTimeout = requestTimeout}),
      log_(std::move(log)) {}

std::optional<std::string> HttpPublicIpResolver::resolveIpv4() {
    return resolve(config_.ipv4DiscoveryUrls, "IPv4", &IpAddress::isValidIpv4, DiscoveryPath{});
}

std::optional<std::string> HttpPublicIpResolver::resolveIpv6() {
    // The echo is to see the machine's stable address, which the DNS record must follow, rather than the
    // temporary one the kernel would send from.
    std::optional<std::string> echoed =
        resolve(config_.ipv6DiscoveryUrls, "IPv6", &IpAddress::isValidIpv6,
                DiscoveryPath{.preferPublicSource = true, .boundInterface = std::nullopt});
    return echoed ? stableIpv6(*echoed) : std::nullopt;
}

std::optional<std::string> HttpPublicIpResolver::stableIpv6(const std::string& echoed) const {
    Expected<HostAddresses> own = readHostAddresses();
    if (!own) {
        log_.warn("Eigene Adressen nicht lesbar (" + own.failure().text + ") — IPv6 " + echoed +
                  " wird ungeprüft verwendet.");
        return echoed;
    }
    StableAddressChoice choice = chooseStableAddress(echoed, own->addresses);
    switch (choice.kind) {
    case StableAddressChoice::Kind::asEchoed:
        return echoed;
    case StableAddressChoice::Kind::replaced:
        log_.debug("IPv6 " + echoed +
                   " ist temporär oder veraltet — veröffentlicht wird die stabile Adresse " + choice.address +
                   ".");
        return choice.address;
    case StableAddressChoice::Kind::withheld:
        break;
    }
    log_.warn("IPv6 " + echoed +
              " ist eine temporäre oder veraltete Adresse dieses Rechners, und im selben /64 " +
              "gibt es keine stabile — IPv6 wird in diesem Zyklus nicht veröffentlicht.");
    return std::nullopt;
}

std::optional<std::string> HttpPublicIpResolver::resolve(const std::vector<std::string>& urls,
                                                         std::string_view family,
                                                         bool (*isValid)(std::string_view),
                                                         const DiscoveryPath& path) {
    HttpSession::RequestOptions options;
    options.prepareSocket = [&path](int socket, int socketFamily) {
        return prepareDiscoverySocket(socket, socketFamily, path);
    };
    for (const std::string& url : urls) {
        // Credentials in a configured address are never logged.
        const std::string shownUrl = UrlText::withoutPassword(url);
        if (!HttpSession::isValidUrl(url)) {
            log_.warn("IP-Discovery-URL ungültig: " + shownUrl);
            continue;
        }
        HttpResult result = session_.get(url, {}, options);
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
