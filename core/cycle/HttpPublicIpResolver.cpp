#include "cycle/HttpPublicIpResolver.hpp"

#include "host/InternetRoute.hpp"
#include "host/RouteTable.hpp"
#include "host/StableAddress.hpp"
#include "status/IpAddress.hpp"
#include "support/Unicode.hpp"
#include "support/UrlText.hpp"

#include <sys/socket.h>

namespace {

class SystemRouteReading final : public RouteReading {
public:
    Expected<FamilyRoutes> read(int family) override { return RouteTable::read(family); }
};

} // namespace

RouteReading& RouteReading::system() {
    static SystemRouteReading routes;
    return routes;
}

HttpPublicIpResolver::HttpPublicIpResolver(ClientConfiguration config, ClientLog log,
                                           std::chrono::milliseconds requestTimeout, HttpTrust trust,
                                           RouteReading& routes)
    : config_(std::move(config)),
      session_(HttpSession::open(
          {.requestTimeout = requestTimeout, .totalTimeout = requestTimeout, .trust = std::move(trust)})),
      log_(std::move(log)), routes_(routes) {}

std::optional<std::string> HttpPublicIpResolver::resolveIpv4() noexcept {
    return resolve(config_.ipv4DiscoveryUrls, AF_INET, "IPv4", &IpAddress::isValidIpv4, DiscoveryPath{});
}

std::optional<std::string> HttpPublicIpResolver::resolveIpv6() noexcept {
    // The echo is to see the machine's stable address, which the DNS record must follow, rather than the
    // temporary one the kernel would send from.
    std::optional<std::string> echoed =
        resolve(config_.ipv6DiscoveryUrls, AF_INET6, "IPv6", &IpAddress::isValidIpv6,
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
                                                         int addressFamily, std::string_view family,
                                                         bool (*isValid)(std::string_view),
                                                         DiscoveryPath path) {
    if (urls.empty()) {
        return std::nullopt;
    }
    Expected<std::optional<DiscoveryPath::Interface>> past =
        interfacePastTunnel(addressFamily, std::string(family));
    if (!past) {
        return std::nullopt;
    }
    path.boundInterface = *past;
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
        Expected<HttpResponse> result = session_.get(url, {}, options);
        if (!result) {
            log_.warn("IP-Discovery " + shownUrl + " fehlgeschlagen: " + result.failure().text);
            continue;
        }
        // Any status: an echo service's error page simply fails the address test below.
        const std::string& body = result->body;
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

Expected<std::optional<DiscoveryPath::Interface>>
HttpPublicIpResolver::interfacePastTunnel(int addressFamily, const std::string& family) {
    Expected<FamilyRoutes> routes = routes_.read(addressFamily);
    if (!routes) {
        log_.debug("Weg ins Internet für " + family + " nicht lesbar (" + routes.failure().text +
                   ") — IP-Discovery wie ohne VPN.");
        return std::optional<DiscoveryPath::Interface>();
    }
    const InternetRoute route = InternetRouting::decide(*routes);
    if (route.belowUnreadable) {
        // Whether the tunnel is a new one or the way past it changed waits for a cycle that can read it.
        log_.warn(family + "-Discovery am Tunnel " + Unicode::shownPeerText(route.tunnel->name) +
                  " vorbei nicht möglich, der Weg darunter ist nicht lesbar (" + *route.belowUnreadable +
                  ") — keine " + family + "-Adresse in diesem Zyklus.");
        return Failure{*route.belowUnreadable, 0};
    }
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
