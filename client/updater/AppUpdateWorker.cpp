#include "updater/AppUpdateWorker.hpp"

#include "config/ClientConfiguration.hpp"
#include "process/ProcessExit.hpp"
#include "selfupdate/AppUpdateDecision.hpp"
#include "selfupdate/UpdateManifestSource.hpp"
#include "support/BuildConstants.hpp"
#include "updater/PkgAutoUpdater.hpp"

#include <exception>
#include <optional>
#include <thread>
#include <utility>

namespace AppUpdateWorker {
namespace {

constexpr std::chrono::seconds startDelay(120);
constexpr std::chrono::hours checkInterval(ClientConfiguration::updateCheckIntervalHours);

// One check; true when the installation succeeded and the process is to end.
bool check(UpdateManifestSource& source, const Settings& settings) {
    std::optional<UpdateManifest> manifest = source.latest();
    if (!manifest || !AppUpdateDecision::isNewer(ClientVersion::current, manifest->version)) {
        return false;
    }
    settings.log.info("Neue Version " + manifest->version + " verfügbar (aktuell " +
                      std::string(ClientVersion::current) + ").");
    Expected<void> installed = PkgAutoUpdater::downloadAndInstall(*manifest, settings.log, settings.trust);
    if (!installed) {
        settings.log.error(installed.failure().text);
    }
    return bool(installed);
}

[[noreturn]] void autoUpdateLoop(const Settings& settings) {
    settings.clock.sleep(startDelay);
    UpdateManifestSource source(settings.manifestUrl, settings.log, settings.trust);
    settings.log.info("App-Update-Worker gestartet (aktuelle Version " + std::string(ClientVersion::current) +
                      ", Prüfintervall " + std::to_string(checkInterval.count()) + "h).");
    for (;;) {
        if (check(source, settings)) {
            ProcessExit::exitNow(0);
        }
        settings.clock.sleep(checkInterval);
    }
}

} // namespace

void start(Settings settings) {
    std::thread([settings = std::move(settings)] {
        try {
            autoUpdateLoop(settings);
        } catch (const std::exception& error) {
            // Only running out of memory throws: the worker ends, the daemon keeps its DNS record current.
            settings.log.error(std::string("App-Update-Worker beendet: ") + error.what());
        }
    }).detach();
}

} // namespace AppUpdateWorker
