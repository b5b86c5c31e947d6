#include "cycle/HttpPublicIpResolver.hpp"

#include "cycle/IpAddress.hpp"
#include "support/Unicode.hpp"
#include "support/UrlText.hpp"

#include <sys/socket.h>

HttpPublicIpResolver::HttpPublicIpResolver(ClientConfiguration config, ClientLog log,
                                           std::chrono::milliseconds requestTimeout, RouteReading readRoutes)
    : config_(std::move(config)),
      session_(HttpSession::Options{.requestTimeout = requestTimeout, .totalTimeout = requestTimeout}),
      log_(std::move(log)), readRoutes_(std::move(readRoutes)) {}

std::optional<std::string> HttpPublicIpResolver::resolveIpv4() {
    return resolve(config_.ipv4DiscoveryUrls, AF_INET, "IPv4", &IpAddress::isValidIpv4);
}

std::optional<std::string> HttpPublicIpResolver::resolveIpv6() {
    return resolve(config_.ipv6DiscoveryUrls, AF_INET6, "IPv6", &IpAddress::isValidIpv6);
}

std::optional<std::string> HttpPublicIpResolver::resolve(const std::vector<std::string>& urls,
                                                         int addressFamily, std::string_view family,
                                                         bool (*isValid)(std::string_view)) {
    if (urls.empty()) {
        return std::nullopt;
    }
    DiscoveryPath path;
    path.boundInterface = interfacePastTunnel(addressFamily, std::string(family));
    HttpSession::RequestOptions options;
    if (path != DiscoveryPath{}) {
        options.prepareSocket = [path](int socket, int socketFamily) {
            return prepareDiscoverySocket(socket, socketFamily, path);
        };
    }
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
    if (path.boundInterface) {
        // Never asked again unbound: that would find the VPN's exit.
        log_.warn(std::string(family) + "-Discovery am Tunnel " +
                  Unicode::shownPeerText(*tunnelPassed_[addressFamily == AF_INET6]) + " vorbei über " +
                  Unicode::shownPeerText(path.boundInterface->name) + " nicht möglich — keine " +
                  std::string(family) + "-Adresse in diesem Zyklus.");
    }
    return std::nullopt;
}

// --- The way past a VPN's tunnel ---

std::optional<DiscoveryPath::Interface> HttpPublicIpResolver::interfacePastTunnel(int addressFamily,
                                                                                  const std::string& family) {
    Expected<FamilyRoutes> routes = readRoutes_(addressFamily);
    if (!routes) {
        log_.debug("Weg ins Internet für " + family + " nicht lesbar (" + routes.failure().text +
                   ") — IP-Discovery wie ohne VPN.");
        return std::nullopt;
    }
    const InternetRoute route = InternetRouting::decide(*routes);
    if (route.tunnel && !route.below) {
        // A dial-up or 6in4 link is the only way out, no VPN on top of another one.
        log_.debug(family + " geht über " + Unicode::shownPeerText(route.tunnel->name) +
                   " ins Internet, und kein anderes Interface hat einen eigenen Weg hinaus.");
    }
    std::optional<std::string> passed;
    if (route.below) {
        passed = route.tunnel->name;
    }
    std::optional<std::string>& before = tunnelPassed_[addressFamily == AF_INET6];
    if (passed && passed != before) {
        log_.info(family + " geht durch den Tunnel " + Unicode::shownPeerText(*passed) +
                  " ins Internet — die IP-Discovery geht an ihm vorbei über " +
                  Unicode::shownPeerText(route.below->name) + ".");
    } else if (!passed && before) {
        log_.info(family + " geht nicht mehr durch den Tunnel " + Unicode::shownPeerText(*before) +
                  " ins Internet — die IP-Discovery geht wieder den gewöhnlichen Weg.");
    }
    before = passed;
    return route.below;
}
