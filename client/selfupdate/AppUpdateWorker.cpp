#include "selfupdate/AppUpdateWorker.hpp"

#include "StdLog.hpp"
#include "config/ClientConfiguration.hpp"
#include "config/ClientPaths.hpp"
#include "selfupdate/AppUpdateDecision.hpp"
#include "selfupdate/UpdateManifestSource.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <thread>
#include <utility>

namespace AppUpdateWorker {
namespace {

// One check; true when the installation succeeded and the process is to end.
bool check(UpdateManifestSource& source, const Dependencies& deps) {
    std::optional<UpdateManifest> manifest = source.latest();
    if (!manifest || !AppUpdateDecision::isNewer(ClientVersion::current, manifest->version)) {
        return false;
    }
    StdLog::line(ClientLog::Level::info, "Neue Version " + manifest->version + " verfügbar (aktuell " +
                                             std::string(ClientVersion::current) + ").");
    return PkgAutoUpdater::downloadAndInstall(*manifest, deps.installer);
}

} // namespace

std::string defaultManifestUrl() {
    const char* value = std::getenv("KORVANE_UPDATE_MANIFEST_URL");
    if (value != nullptr && *value != '\0') {
        return value;
    }
    return ClientConfiguration::updateManifestUrl;
}

void autoUpdateLoop(const Dependencies& deps) {
    Pause::tolerant(deps.sleep, deps.startDelay);
    UpdateManifestSource source(deps.manifestUrl, StdLog::clientLog());
    StdLog::line(ClientLog::Level::info, "App-Update-Worker gestartet (aktuelle Version " +
                                             std::string(ClientVersion::current) + ", Prüfintervall " +
                                             std::to_string(ClientConfiguration::updateCheckIntervalHours) +
                                             "h).");
    while (deps.keepRunning()) {
        if (check(source, deps)) {
            deps.exit(0);
            return;
        }
        Pause::tolerant(deps.sleep, deps.checkInterval);
    }
}

void start(Dependencies deps) {
    std::thread([deps = std::move(deps)] {
        try {
            autoUpdateLoop(deps);
        } catch (const std::exception& error) {
            // Nothing in a check throws; should it anyway, the daemon keeps its DNS record current.
            StdLog::line(ClientLog::Level::error, std::string("App-Update-Worker beendet: ") + error.what());
        }
    }).detach();
}

} // namespace AppUpdateWorker
