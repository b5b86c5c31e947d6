#include "commands/StatusCommand.hpp"

#include "commands/ConfigurationSummary.hpp"
#include "config/ClientConfiguration.hpp"
#include "config/ClientPaths.hpp"
#include "config/ConfigDirectory.hpp"
#include "config/ConfigurationStore.hpp"
#include "cycle/IpStateCache.hpp"
#include "process/OutputStream.hpp"
#include "process/ProcessExit.hpp"
#include "status/AddressPair.hpp"
#include "status/IpAddress.hpp"
#include "status/StatusFile.hpp"
#include "support/BuildConstants.hpp"
#include "support/Subprocess.hpp"

#include <cstdlib>
#include <optional>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace StatusCommand {
namespace {

using Loaded = Expected<std::optional<ClientConfiguration>>;

std::string configurationLines(const Loaded& loaded) {
    if (!loaded) {
        std::string hint =
            ::geteuid() == 0 ? "" : " — Lesen erfordert ggf. root ('sudo korvane-client status')";
        return "  nicht lesbar: " + loaded.failure().text + hint + "\n";
    }
    const std::optional<ClientConfiguration>& config = *loaded;
    if (!config) {
        return "  (noch nicht konfiguriert — 'sudo korvane-client configure')\n";
    }
    std::string text =
        ConfigurationSummary::settingsLines(*config, ClientConfiguration::maskedApiKey(config->apiKey));
    if (Expected<void> valid = config->validate(); !valid) {
        text += "  ⚠ ungültig: " + valid.failure().text + "\n";
    }
    return text;
}

// The record of the configured host; one of another host is of no use to this configuration. Without a
// readable configuration (an ordinary user), whoever's record it is.
std::string lastPushedLine(const std::filesystem::path& configDir, const Loaded& loaded) {
    std::optional<std::string> hostname;
    if (loaded && *loaded) {
        hostname = (*loaded)->hostname;
    }
    IpStateCache cache(configDir / ClientPaths::ipStateFileName, hostname);
    std::string joined = cache.last().text();
    return "Zuletzt gepusht: " + (joined.empty() ? "(noch nichts)" : joined) + "\n";
}

// Nothing while no router has answered: of an unknown verdict nothing is said.
std::string reachabilityLine(const std::filesystem::path& configDir) {
    std::optional<DaemonStatus> status = StatusFile(configDir / ClientPaths::statusFileName).load();
    std::string line = status && status->reachability ? ReachabilityText::line(*status->reachability) : "";
    if (line.empty()) {
        return "";
    }
    // The file is only trusted to hold an address; anything else is left out rather than shown.
    if (status->routerIpv4 && IpAddress::isValidIpv4(*status->routerIpv4)) {
        line += " (Router extern: " + *status->routerIpv4 + ")";
    }
    return line + "\n";
}

} // namespace

std::string daemonState(const LaunchdJob& job) {
    std::string plist = job.plist.string();
    if (!ConfigurationSummary::fileExists(job.plist)) {
        return "nicht installiert (kein " + plist + ")";
    }
    Subprocess::Stdio stdio;
    stdio.output = Subprocess::Stream::nullDevice;
    stdio.error = Subprocess::Stream::nullDevice;
    Expected<Subprocess::Outcome> outcome =
        Subprocess::run(job.launchctl, {"print", "system/" + std::string(ClientPaths::launchdLabel)},
                        Subprocess::currentEnvironment(), stdio, job.limit);
    if (!outcome) {
        return "Zustand unbekannt (" + outcome.failure().text + ")";
    }
    if (outcome->kind == Subprocess::Outcome::Kind::timedOut) {
        return "Zustand unbekannt (launchctl antwortet nicht)";
    }
    if (outcome->succeeded()) {
        return "geladen (Log: " + std::string(ClientPaths::daemonLog) + ")";
    }
    return "installiert, aber nicht geladen — 'sudo launchctl bootstrap system " + plist + "'";
}

int execute(const std::filesystem::path& configDir, const LaunchdJob& job, std::FILE* output) {
    // Each part is out as soon as it is known: a slow or hung launchctl must not leave a blank screen.
    auto emit = [output](const std::string& lines) { OutputStream::write(output, lines); };
    emit("korvane-client " + std::string(ClientVersion::current) + "\n");
    const std::filesystem::path configFile = configDir / ClientPaths::configFileName;
    emit("Konfiguration: " + configFile.string() + "\n");
    const Loaded loaded = ConfigurationStore(configFile).load();
    emit(configurationLines(loaded));
    if (ConfigDirectory::othersMayWrite(configDir)) {
        emit("  ⚠ für andere Benutzer beschreibbar: " + configFile.parent_path().string() + "\n");
    }
    emit(lastPushedLine(configDir, loaded));
    emit(reachabilityLine(configDir));
    emit("Daemon: " + daemonState(job) + "\n");
    return 0;
}

void run() {
    ProcessExit::exitWith(execute(ClientPaths::configDir(), {}, stdout));
}

} // namespace StatusCommand
