// Linux: PCP (RFC 6887), then NAT-PMP (RFC 6886, libnatpmp), then UPnP IGD (libminiupnpc), each given a
// share of the time left, the first that names an address deciding. PCP is a small request of our own: a MAP
// with lifetime 0 maps nothing, and its answer carries the router's external address even where it refuses
// the request, which tells a carrier's shared address from a second router's private one where NAT-PMP and
// UPnP only say "no public address".
#include "host/RouteTable.hpp"
#include "host/RouterAddress.hpp"

#include "status/IpAddress.hpp"
#include "support/Descriptor.hpp"
#include "support/RandomUuid.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <natpmp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// A router on the same link answers within milliseconds: one datagram protocol gets this much at most, so
// that a gateway that swallows port 5351 leaves time for the next.
constexpr Ms datagramShare{700};
constexpr Ms upnpSearch{1000};

constexpr std::size_t pcpRequestSize = 60;
constexpr std::uint8_t pcpVersion = 2, pcpMap = 1, pcpResponse = 0x80, udp = 17;

std::optional<std::string> text(in_addr address) {
    if (address.s_addr == 0) {
        return std::nullopt;
    }
    char buffer[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address, buffer, sizeof buffer) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer);
}

RouterAnswer named(const std::string& address) {
    return {RouterAnswer::Kind::address, address};
}

// --- PCP ---

// The external address of a MAP answer to `request` (same nonce), whatever its result code; nothing for any
// other datagram.
std::optional<std::string> pcpExternalAddress(const unsigned char* request, const unsigned char* answer,
                                              std::size_t size) {
    if (size < pcpRequestSize || answer[0] != pcpVersion || answer[1] != (pcpResponse | pcpMap) ||
        std::memcmp(answer + 24, request + 24, 12) != 0) {
        return std::nullopt;
    }
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    const unsigned char* external = answer + 44;
    if (std::memcmp(external, mapped, sizeof mapped) != 0) {
        return std::nullopt;
    }
    in_addr address{};
    std::memcpy(&address, external + 12, sizeof address);
    return text(address);
}

std::optional<RouterAnswer> askPcp(in_addr gateway, Clock::time_point until) {
    Descriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in router{};
    router.sin_family = AF_INET;
    router.sin_port = htons(NATPMP_PORT);
    router.sin_addr = gateway;
    sockaddr_in own{};
    socklen_t ownSize = sizeof own;
    if (!socket.valid() ||
        ::connect(socket.get(), reinterpret_cast<sockaddr*>(&router), sizeof router) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&own), &ownSize) != 0) {
        return std::nullopt;
    }
    // Lifetime 0 for our own socket's UDP port: deletes a mapping no one has, so nothing changes.
    unsigned char request[pcpRequestSize] = {pcpVersion, pcpMap};
    request[18] = request[19] = 0xff; // the client's address, IPv4-mapped
    std::memcpy(request + 20, &own.sin_addr, 4);
    const std::string nonce = RandomUuid::generate();
    std::memcpy(request + 24, nonce.data(), std::min<std::size_t>(12, nonce.size()));
    request[36] = udp;
    std::memcpy(request + 40, &own.sin_port, 2);
    if (::send(socket.get(), request, sizeof request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request)) {
        return std::nullopt;
    }
    unsigned char answer[1100];
    while (awaitReady(socket.get(), POLLIN, until)) {
        const ssize_t got = ::recv(socket.get(), answer, sizeof answer, 0);
        // ECONNREFUSED: the port is closed; version 0: a NAT-PMP router that knows no PCP.
        if (got < 0 || (got >= 1 && answer[0] != pcpVersion)) {
            return std::nullopt;
        }
        if (std::optional<std::string> address =
                pcpExternalAddress(request, answer, static_cast<std::size_t>(got))) {
            return named(*address);
        }
    }
    return std::nullopt;
}

// --- NAT-PMP ---

std::optional<RouterAnswer> askNatPmp(in_addr gateway, Clock::time_point until) {
    natpmp_t natpmp{};
    if (initnatpmp(&natpmp, 1, gateway.s_addr) < 0) {
        return std::nullopt;
    }
    std::optional<RouterAnswer> answer;
    // Sent once: the library's own retries (its schedule runs for a minute) come only from reads that find
    // nothing, and this reads only what has arrived.
    if (sendpublicaddressrequest(&natpmp) >= 0) {
        while (awaitReady(natpmp.s, POLLIN, until)) {
            natpmpresp_t response{};
            const int read = readnatpmpresponseorretry(&natpmp, &response);
            if (read == NATPMP_TRYAGAIN || read == NATPMP_ERR_WRONGPACKETSOURCE) {
                continue;
            }
            if (read == NATPMP_ERR_NETWORKFAILURE) {
                // Result 3: the router has no public address of its own.
                answer = RouterAnswer{RouterAnswer::Kind::noPublicAddress, {}};
            } else if (read >= 0 && response.type == NATPMP_RESPTYPE_PUBLICADDRESS) {
                std::optional<std::string> address = text(response.pnu.publicaddress.addr);
                answer = address ? named(*address) : RouterAnswer{RouterAnswer::Kind::noPublicAddress, {}};
            }
            break;
        }
    }
    closenatpmp(&natpmp);
    return answer;
}

// --- UPnP IGD ---

// Whether a device's description lies on the gateway itself, not on another device of the network.
bool onGateway(const char* url, const std::string& gateway) {
    const std::string prefix = "http://" + gateway;
    const std::string_view location(url);
    return location.starts_with(prefix) && location.size() > prefix.size() &&
           (location[prefix.size()] == ':' || location[prefix.size()] == '/');
}

std::optional<RouterAnswer> askIgd(const char* descriptionUrl) {
    UPNPUrls urls{};
    IGDdatas data{};
    char lanAddress[64] = {};
    if (UPNP_GetIGDFromUrl(descriptionUrl, &urls, &data, lanAddress, sizeof lanAddress) != 1) {
        FreeUPNPUrls(&urls);
        return std::nullopt;
    }
    char status[64] = {}, lastError[64] = {}, external[40] = {};
    unsigned uptime = 0;
    const bool statusRead = UPNP_GetStatusInfo(urls.controlURL, data.first.servicetype, status, &uptime,
                                               lastError) == UPNPCOMMAND_SUCCESS;
    const bool externalRead =
        UPNP_GetExternalIPAddress(urls.controlURL, data.first.servicetype, external) == UPNPCOMMAND_SUCCESS;
    FreeUPNPUrls(&urls);
    std::optional<in_addr> address = externalRead ? IpAddress::parseIpv4(external) : std::nullopt;
    if (std::optional<std::string> shown = address ? text(*address) : std::nullopt) {
        return named(*shown);
    }
    if (!statusRead) {
        return std::nullopt;
    }
    // Connected without an address of its own: what a router says behind a carrier's NAT.
    if (std::string_view(status) == "Connected") {
        return RouterAnswer{RouterAnswer::Kind::noPublicAddress, {}};
    }
    return RouterAnswer{RouterAnswer::Kind::noIpv4, {}};
}

std::optional<RouterAnswer> askUpnp(in_addr gateway, unsigned index, Clock::time_point until) {
    const Ms left = millisecondsUntil(until);
    if (left < Ms(200)) {
        return std::nullopt;
    }
    const std::optional<std::string> router = text(gateway);
    if (!router) {
        return std::nullopt;
    }
    static const char* const types[] = {"urn:schemas-upnp-org:device:InternetGatewayDevice:1",
                                        "urn:schemas-upnp-org:device:InternetGatewayDevice:2", nullptr};
    // The search leaves by the gateway's interface, not wherever multicast is routed (a VPN's tunnel, say).
    char interface[IF_NAMESIZE] = {};
    if (if_indextoname(index, interface) == nullptr) {
        return std::nullopt;
    }
    int error = 0;
    // Both versions searched in one round and waited for once; no minissdpd (""): only what answers on the
    // network counts.
    UPNPDev* devices = upnpDiscoverDevices(types, static_cast<int>(std::min(upnpSearch, left / 2).count()),
                                           interface, "", UPNP_LOCAL_PORT_ANY, 0, 2, &error, 1);
    std::optional<RouterAnswer> answer;
    for (UPNPDev* device = devices; device != nullptr && !answer && Clock::now() < until;
         device = device->pNext) {
        if (onGateway(device->descURL, *router)) {
            answer = askIgd(device->descURL);
        }
    }
    freeUPNPDevlist(devices);
    return answer;
}

// The IPv4 router a socket bound to the interface `index` sends through; none for a route straight onto a
// link.
std::optional<in_addr> gatewayOf(unsigned index) {
    Expected<std::optional<RouteTable::Hop>> hop = RouteTable::lookUp(AF_INET, index);
    return hop && *hop ? IpAddress::parseIpv4((*hop)->gateway) : std::nullopt;
}

} // namespace

RouterAnswer RouterAddress::askGateway(unsigned index, Clock::time_point deadline) {
    std::optional<in_addr> gateway = gatewayOf(index);
    if (!gateway) {
        return {};
    }
    if (std::optional<RouterAnswer> pcp =
            askPcp(*gateway, std::min(deadline, Clock::now() + datagramShare))) {
        return *pcp;
    }
    std::optional<RouterAnswer> natPmp =
        askNatPmp(*gateway, std::min(deadline, Clock::now() + datagramShare));
    if (natPmp && natPmp->kind == RouterAnswer::Kind::address) {
        return *natPmp;
    }
    // Without an address UPnP may still say whether the router's IPv4 connection is up at all.
    std::optional<RouterAnswer> upnp = askUpnp(*gateway, index, deadline);
    if (upnp && (upnp->kind != RouterAnswer::Kind::noPublicAddress || !natPmp)) {
        return *upnp;
    }
    return natPmp.value_or(RouterAnswer{});
}
