#include "commands/DiagnoseCommand.hpp"

#include "commands/ConfigurationSummary.hpp"
#include "commands/StatusCommand.hpp"
#include "config/ClientConfiguration.hpp"
#include "config/ClientPaths.hpp"
#include "config/ConfigurationStore.hpp"
#include "dnscheck/ResolverHostConfirmer.hpp"
#include "host/DiscoverySocket.hpp"
#include "host/HostAddresses.hpp"
#include "host/InternetRoute.hpp"
#include "host/RouteTable.hpp"
#include "host/RouterAddress.hpp"
#include "host/StableAddress.hpp"
#include "network/InterfaceSnapshot.hpp"
#include "process/OutputStream.hpp"
#include "process/ProcessExit.hpp"
#include "status/IpAddress.hpp"
#include "status/StatusFile.hpp"
#include "support/BuildConstants.hpp"
#include "support/Descriptor.hpp"
#include "support/Environment.hpp"
#include "support/HttpTrust.hpp"
#include "support/JsonStrict.hpp"
#include "support/Rfc3339.hpp"
#include "support/Unicode.hpp"

#include <arpa/inet.h>
#include <functional>
#include <netdb.h>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DiagnoseCommand {
namespace {

using nlohmann::json;

// One part of the report: its lines for a person, and the same as one value of the JSON object under `key`.
// A further part (say, the home router's view) is one more entry in the list execute() runs.
struct Section {
    std::string key;
    std::string text;
    json value;
};

// What one part finds that a later one needs.
struct Findings {
    std::optional<ClientConfiguration> config;
    std::optional<DiscoveryPath::Interface> ipv6Below;
    std::vector<std::string> needsRoot;
};

std::string shown(std::string_view text) {
    return Unicode::shownPeerText(text);
}

// Paths and messages of our own, which the environment may have put anything into: one line of valid UTF-8,
// as the JSON writer needs, and long enough for any path.
std::string local(const std::string& text) {
    return Unicode::shownPeerText(text, 4096, 16384);
}

json orNull(const std::string& text) {
    return text.empty() ? json(nullptr) : json(text);
}

std::string familyName(int family) {
    return family == AF_INET6 ? "IPv6" : "IPv4";
}

Section build() {
    std::string text = "korvane-client " + std::string(ClientVersion::current) + " (" +
                       std::string(BuildTarget::architecture);
    if (!BuildTarget::minimumMacos.empty()) {
        text += ", ab macOS " + std::string(BuildTarget::minimumMacos);
    }
    return {"build", text + ")\n",
            json{{"version", ClientVersion::current},
                 {"architecture", BuildTarget::architecture},
                 {"minimumMacos", orNull(std::string(BuildTarget::minimumMacos))}}};
}

Section configuration(Findings& found) {
    const std::filesystem::path configFile = ClientPaths::configFile(), directory = configFile.parent_path();
    const std::string path = local(configFile.string());
    json files = json::object();
    for (std::string_view name : ClientPaths::fileNames) {
        files[std::string(name)] = local((directory / name).string());
    }
    std::string text = "Konfiguration: " + path + "\n  Verzeichnis: " + local(directory.string()) +
                       " (config.json, ipstate.json, status.json, dnscheck.json)\n";
    json value{{"path", path}, {"files", files}, {"settings", nullptr}, {"error", nullptr}};
    Expected<std::optional<ClientConfiguration>> loaded = ConfigurationStore(configFile).load();
    if (!loaded) {
        value["error"] = local(loaded.failure().text);
        if (::geteuid() != 0) {
            found.needsRoot.push_back("Konfiguration");
        }
        return {"configuration", text + "  nicht lesbar: " + local(loaded.failure().text) + "\n", value};
    }
    if (!*loaded) {
        return {"configuration", text + "  (noch nicht konfiguriert)\n", value};
    }
    found.config = **loaded;
    const std::string masked = ClientConfiguration::maskedApiKey(found.config->apiKey);
    json settings = JsonStrict::parseObject(found.config->toJson());
    settings["apiKey"] = masked;
    value["settings"] = settings;
    text += ConfigurationSummary::settingsLines(*found.config, masked);
    if (Expected<void> valid = found.config->validate(); !valid) {
        value["error"] = local(valid.failure().text);
        text += "  ⚠ ungültig: " + local(valid.failure().text) + "\n";
    }
    return {"configuration", text, value};
}

Section trust(const HttpTrust& trusted) {
    // Apple's libcurl also trusts the keychain unless the environment names the roots (HttpTrust).
    const bool named = Environment::value("SSL_CERT_FILE") || Environment::value("SSL_CERT_DIR");
    const bool keychain = !named && !BuildTarget::minimumMacos.empty();
    std::string text = "Vertrauen: ";
    std::string source = "builtIn";
    if (trusted.source == HttpTrust::Source::bundleFile) {
        text += "Datei " + local(trusted.path);
        source = "bundleFile";
    } else if (trusted.source == HttpTrust::Source::directory) {
        text += "Verzeichnis " + local(trusted.path);
        source = "directory";
    } else {
        text += "die eingebauten Wurzeln von libcurl";
    }
    text += named      ? " (aus der Umgebung; Schlüsselbund-Rückgriff aus)"
            : keychain ? " und der Schlüsselbund"
                       : "";
    return {"trust", text + "\n",
            json{{"source", source}, {"path", orNull(local(trusted.path))}, {"keychainFallback", keychain}}};
}

std::string interfaceName(const std::vector<HostInterface>& interfaces, unsigned index) {
    for (const HostInterface& interface : interfaces) {
        if (interface.index == index) {
            return interface.name;
        }
    }
    return "#" + std::to_string(index);
}

std::string router(const std::string& gateway) {
    return gateway.empty() ? ", ohne Router" : ", Router " + shown(gateway);
}

Section route(int family, Findings& found) {
    const std::string key = family == AF_INET6 ? "ipv6Route" : "ipv4Route";
    const std::string label = familyName(family) + "-Weg ins Internet: ";
    Expected<FamilyRoutes> routes = RouteTable::read(family);
    Expected<std::optional<RouteTable::Hop>> hop = RouteTable::lookUp(family);
    if (!routes || !hop) {
        const std::string why = local(!routes ? routes.failure().text : hop.failure().text);
        return {key, label + "nicht lesbar (" + why + ")\n", json{{"error", why}}};
    }
    if (!*hop) {
        return {key, label + "keine Route\n", json{{"interface", nullptr}}};
    }
    const std::string out = shown(interfaceName(routes->interfaces, (*hop)->interface));
    json value{{"interface", out},
               {"gateway", orNull(shown((*hop)->gateway))},
               {"tunnel", false},
               {"below", nullptr}};
    const InternetRoute decided = InternetRouting::decide(*routes);
    if (!decided.tunnel) {
        return {key, label + out + router((*hop)->gateway) + "\n", value};
    }
    value["tunnel"] = true;
    std::string text = label + "Tunnel " + out;
    if (!decided.below) {
        return {key, text + " — kein Interface darunter hat einen eigenen Weg hinaus\n", value};
    }
    Expected<std::optional<RouteTable::Hop>> below = RouteTable::lookUp(family, decided.below->index);
    const std::string gateway = below && *below ? (*below)->gateway : "";
    value["below"] = json{{"interface", shown(decided.below->name)}, {"gateway", orNull(shown(gateway))}};
    if (family == AF_INET6) {
        found.ipv6Below = decided.below;
    }
    return {key, text + " — darunter " + shown(decided.below->name) + router(gateway) + "\n", value};
}

std::string prefix64(const std::string& address) {
    std::optional<in6_addr> bytes = IpAddress::parseIpv6(address);
    char text[INET6_ADDRSTRLEN] = {};
    if (!bytes) {
        return address;
    }
    std::fill(bytes->s6_addr + 8, bytes->s6_addr + 16, 0);
    inet_ntop(AF_INET6, &*bytes, text, sizeof text);
    return std::string(text) + "/64";
}

std::string flags(const HostAddress& address) {
    std::string text;
    for (auto [set, name] :
         {std::pair{address.temporary, "temporär"}, std::pair{address.secured, "gesichert"},
          std::pair{address.dhcp, "DHCPv6"}, std::pair{address.deprecated, "veraltet"},
          std::pair{address.tentative, "vorläufig"}}) {
        text += set ? std::string(text.empty() ? "" : ", ") + name : "";
    }
    const std::string lifetime =
        address.preferredLifetime
            ? "bevorzugt noch " + std::to_string(address.preferredLifetime->count()) + " s"
            : "bevorzugt unbegrenzt";
    return (text.empty() ? "" : text + ", ") + lifetime;
}

// The machine's IPv6 addresses beyond its links, and per /64 the one an echo of any of them would publish:
// an echoed temporary or deprecated address is replaced by its stable neighbour.
Section addresses() {
    Expected<HostAddresses> own = readHostAddresses();
    if (!own) {
        const std::string why = local(own.failure().text);
        return {"ipv6Addresses", "IPv6-Adressen: nicht lesbar (" + why + ")\n", json{{"error", why}}};
    }
    std::vector<const HostAddress*> global;
    for (const HostAddress& address : own->addresses) {
        if (address.family == AF_INET6 && beyondLink(address)) {
            global.push_back(&address);
        }
    }
    json prefixes = json::array();
    std::vector<std::string> chosen;
    std::string withheld;
    for (const HostAddress* address : global) {
        const std::string prefix = prefix64(address->address);
        if (std::any_of(prefixes.begin(), prefixes.end(),
                        [&](const json& p) { return p["prefix"] == prefix; })) {
            continue;
        }
        std::string echoed = address->address;
        for (const HostAddress* other : global) {
            if (prefix64(other->address) == prefix && (other->temporary || other->deprecated)) {
                echoed = other->address;
                break;
            }
        }
        StableAddressChoice choice = chooseStableAddress(echoed, own->addresses);
        prefixes.push_back(json{{"prefix", prefix}, {"published", orNull(choice.address)}});
        chosen.push_back(choice.address);
        if (choice.kind == StableAddressChoice::Kind::withheld) {
            withheld += "  " + prefix + ": keine stabile Adresse — keine IPv6-Adresse veröffentlicht\n";
        }
    }
    std::string text = global.empty() ? "IPv6-Adressen: keine globalen\n" : "IPv6-Adressen:\n";
    json list = json::array();
    for (const HostAddress* address : global) {
        const bool mine = std::find(chosen.begin(), chosen.end(), address->address) != chosen.end();
        text += "  " + shown(address->interfaceName) + "  " + address->address + "/" +
                std::to_string(address->prefixLength) + "  " + flags(*address) +
                (mine ? "  ← veröffentlicht" : "") + "\n";
        list.push_back(
            json{{"interface", shown(address->interfaceName)},
                 {"address", address->address},
                 {"prefixLength", address->prefixLength},
                 {"temporary", address->temporary},
                 {"secured", address->secured},
                 {"dhcp", address->dhcp},
                 {"deprecated", address->deprecated},
                 {"tentative", address->tentative},
                 {"preferredLifetime",
                  address->preferredLifetime ? json(address->preferredLifetime->count()) : json(nullptr)},
                 {"published", mine}});
    }
    return {"ipv6Addresses", text + withheld, json{{"addresses", list}, {"prefixes", prefixes}}};
}

// The source the kernel picks for an IPv6 discovery request with its socket options: a connected datagram
// socket has one at once, and sends nothing.
Section discoverySource(const Findings& found) {
    const std::string label = "IPv6-Absender der Discovery: ";
    auto failed = [&](const std::string& why) {
        return Section{"ipv6DiscoverySource", label + why + "\n", json{{"address", nullptr}, {"error", why}}};
    };
    Descriptor socket(::socket(AF_INET6, SOCK_DGRAM, 0));
    if (!socket.valid()) {
        return failed(Failure::of("socket", errno).text);
    }
    const DiscoveryPath path{.preferPublicSource = true, .boundInterface = found.ipv6Below};
    if (Expected<void> prepared = prepareDiscoverySocket(socket.get(), AF_INET6, path); !prepared) {
        return failed(local(prepared.failure().text));
    }
    const RouteTable::Destination internet = RouteTable::internetDestination(AF_INET6);
    if (::connect(socket.get(), internet.get(), internet.length) != 0) {
        return failed(errno == ENETUNREACH || errno == EHOSTUNREACH ? "keine IPv6-Route"
                                                                    : Failure::of("connect", errno).text);
    }
    sockaddr_in6 source{};
    socklen_t length = sizeof source;
    char text[INET6_ADDRSTRLEN] = {};
    if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&source), &length) != 0 ||
        inet_ntop(AF_INET6, &source.sin6_addr, text, sizeof text) == nullptr) {
        return failed(Failure::of("getsockname", errno).text);
    }
    const std::string through = found.ipv6Below ? " (gebunden an " + shown(found.ipv6Below->name) + ")" : "";
    return {"ipv6DiscoverySource", label + text + through + "\n",
            json{{"address", text},
                 {"boundInterface", found.ipv6Below ? json(shown(found.ipv6Below->name)) : json()}}};
}

std::string peerText(const DnsTransport::Peer& peer) {
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&peer.address), peer.length, host, sizeof host, nullptr,
                    0, NI_NUMERICHOST) != 0) {
        return "?";
    }
    return shown(host);
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

Section resolvers() {
    std::vector<std::string> found;
    for (const DnsTransport::Peer& peer : DnsWire::system().resolvers()) {
        found.push_back(peerText(peer));
    }
    return {"resolvers", "Resolver: " + (found.empty() ? std::string("keine") : joined(found)) + "\n",
            json(found)};
}

// The DNS confirmation's first step, with its own time bound: which servers it would ask for the host.
Section zoneServers(const Findings& found) {
    const std::string label = "Nameserver der Zone: ";
    if (!found.config || found.config->hostname.empty()) {
        return {"zoneServers", label + "ohne Hostnamen aus der Konfiguration nicht bestimmbar\n",
                json{{"servers", nullptr}}};
    }
    const std::vector<DnsServer> servers =
        ResolverHostConfirmer(found.config->hostname, DnsWire::system()).zoneServers();
    if (servers.empty()) {
        const std::string why = "nicht gefunden (kein Resolver nannte binnen " +
                                std::to_string(ResolverHostConfirmer::total.count()) +
                                " s Nameserver mit Adresse)";
        return {"zoneServers", label + why + "\n", json{{"servers", json::array()}, {"error", why}}};
    }
    std::vector<std::string> named;
    json list = json::array();
    for (const DnsServer& server : servers) {
        named.push_back(shown(server.name) + " (" + shown(server.address) + ")");
        list.push_back(json{{"name", shown(server.name)}, {"address", shown(server.address)}});
    }
    return {"zoneServers", label + joined(named) + "\n", json{{"servers", list}}};
}

std::string_view answerName(RouterAnswer::Kind kind) {
    switch (kind) {
    case RouterAnswer::Kind::address:
        return "address";
    case RouterAnswer::Kind::noPublicAddress:
        return "noPublicAddress";
    case RouterAnswer::Kind::noIpv4:
        return "noIpv4";
    case RouterAnswer::Kind::none:
        break;
    }
    return "none";
}

std::string answerText(const RouterAnswer& answer) {
    switch (answer.kind) {
    case RouterAnswer::Kind::address:
        return "externe IPv4 " + shown(answer.externalIpv4);
    case RouterAnswer::Kind::noPublicAddress:
        return "keine öffentliche IPv4-Adresse";
    case RouterAnswer::Kind::noIpv4:
        return "keine eigene IPv4-Verbindung";
    case RouterAnswer::Kind::none:
        break;
    }
    return "keine Antwort (NAT-PMP, PCP und UPnP aus oder gesperrt)";
}

// The router is asked now; the verdict is the daemon's last, since it needs the address the echo service saw.
Section router() {
    const RouterSighting seen = RouterAddress::ask();
    std::optional<DaemonStatus> status = StatusFile(ClientPaths::statusFile()).load();
    const Reachability verdict =
        status ? status->reachability.value_or(Reachability::unknown) : Reachability::unknown;
    std::string text = "Router: " + answerText(seen.answer) + "\n";
    if (verdict != Reachability::unknown) {
        text += "  zuletzt: " + ReachabilityText::line(verdict) + "\n";
    }
    json own = json::array();
    for (const std::string& address : seen.ownIpv4) {
        own.push_back(shown(address));
    }
    return {"router", text,
            json{{"answer", answerName(seen.answer.kind)},
                 {"externalIpv4", orNull(shown(seen.answer.externalIpv4))},
                 {"ownIpv4", own},
                 {"lastVerdict", ReachabilityText::name(verdict)}}};
}

Section launchd() {
    if (BuildTarget::minimumMacos.empty()) {
        return {"launchd", "Daemon (launchd): nur auf macOS\n", json(nullptr)};
    }
    const std::string state = StatusCommand::daemonState({});
    return {"launchd", "Daemon (launchd): " + state + "\n", json(state)};
}

// Whether the running daemon writes into the file at the path (and not a rotated one) only a look at its
// open files tells, which needs root: size and time show whether anything arrives.
Section logFile(Findings& found) {
    const std::filesystem::path log = ClientPaths::daemonLogFile();
    const std::string path = local(log.string());
    struct stat info {};
    if (::stat(log.c_str(), &info) != 0) {
        const std::string why = errno == ENOENT ? "fehlt" : Failure::of("stat", errno).text;
        return {"log", "Log: " + path + " — " + why + "\n", json{{"path", path}, {"exists", false}}};
    }
    const std::string written = Rfc3339::format(std::chrono::system_clock::from_time_t(info.st_mtime));
    found.needsRoot.push_back("ob der Daemon ins Log schreibt ('sudo lsof " + path + "')");
    return {"log",
            "Log: " + path + " — " + std::to_string(info.st_size) + " Bytes, zuletzt geschrieben " + written +
                "\n",
            json{{"path", path}, {"exists", true}, {"size", info.st_size}, {"modifiedAt", written}}};
}

// 0, or 64 for arguments other than one --json.
int execute(const std::vector<std::string>& arguments, const HttpTrust& trusted) {
    const bool asJson = arguments == std::vector<std::string>{"--json"};
    if (!arguments.empty() && !asJson) {
        OutputStream::write(stderr, "Verwendung: korvane-client diagnose [--json]\n");
        return 64;
    }
    Findings found;
    const std::vector<std::function<Section()>> parts{
        build,
        [&] { return configuration(found); },
        [&] { return trust(trusted); },
        [&] { return route(AF_INET, found); },
        [&] { return route(AF_INET6, found); },
        addresses,
        [&] { return discoverySource(found); },
        resolvers,
        [&] { return zoneServers(found); },
        [] { return router(); },
        launchd,
        [&] { return logFile(found); },
    };
    json report = json::object();
    for (const auto& part : parts) {
        // A person sees each part as soon as it is known: the name servers may take their seconds.
        Section section = part();
        if (!asJson) {
            OutputStream::write(stdout, section.text);
        }
        report[section.key] = std::move(section.value);
    }
    report["needsRoot"] = found.needsRoot;
    if (asJson) {
        OutputStream::write(stdout, JsonStrict::writePretty(report) + "\n");
    } else if (!found.needsRoot.empty()) {
        OutputStream::write(stdout, "Nur als root: " + joined(found.needsRoot) + "\n");
    }
    return 0;
}

} // namespace

void run(const std::vector<std::string>& arguments) {
    ProcessExit::exitWith(execute(arguments, HttpTrust::fromEnvironment()));
}

} // namespace DiagnoseCommand
