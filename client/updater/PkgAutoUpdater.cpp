#include "updater/PkgAutoUpdater.hpp"

#include "selfupdate/UpdatePackageVerifier.hpp"
#include "support/Environment.hpp"
#include "support/HttpSession.hpp"
#include "support/Subprocess.hpp"
#include "support/Unicode.hpp"
#include "support/UrlText.hpp"
#include "updater/PackageSignature.hpp"
#include "updater/WorkingDirectory.hpp"

#include <cstdlib>
#include <exception>
#include <utility>
#include <vector>

namespace PkgAutoUpdater {
namespace {

// The process's temporary directory as the C++ library names it, whether or not it exists yet.
std::filesystem::path temporaryBase(const Options& options) {
    if (options.temporaryDirectory) {
        return *options.temporaryDirectory;
    }
    for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
        if (std::optional<std::string> value = Environment::value(name)) {
            return *value;
        }
    }
    return "/tmp";
}

// True when the installer may run the package. A development build without a pinned team only warns.
bool signatureAccepted(const std::filesystem::path& file, const Options& options) {
    if (options.teamId.empty()) {
        options.log.warn("Signatur des pkg nicht geprüft: diesem Entwicklungs-Build ist kein "
                         "Developer-ID-Team eingebaut.");
        return true;
    }
    std::optional<std::string> problem = PackageSignature::problem(options.pkgutilPath, file, options.teamId);
    if (problem) {
        options.log.error("Das heruntergeladene pkg ist nicht mit dem Developer-ID-Installer-"
                          "Zertifikat des Teams " +
                          options.teamId + " signiert (" + *problem + ") — Update abgebrochen.");
    }
    return !problem;
}

// The number installer(8) ended with; a signal is reported by its number.
int statusOf(const Subprocess::Outcome& outcome) {
    return outcome.kind == Subprocess::Outcome::Kind::signaled ? outcome.signal : outcome.exitStatus;
}

bool install(const UpdateManifest& manifest, const Options& options) {
    if (!HttpSession::isHttpsUrl(manifest.url)) {
        options.log.error("Update-URL ungültig oder nicht https: " +
                          Unicode::shownPeerText(UrlText::withoutPassword(manifest.url), 256, 1024) +
                          " — Update abgebrochen.");
        return false;
    }

    std::string package;
    {
        HttpSession::Options sessionOptions;
        sessionOptions.requestTimeout = options.downloadTimeout;
        sessionOptions.totalTimeout = options.downloadTotalTimeout;
        sessionOptions.bodyLimit = options.maxPackageBytes;
        HttpSession session(sessionOptions);
        HttpResult result = session.get(manifest.url);
        if (!result.ok()) {
            options.log.error("Update-Download fehlgeschlagen: " + result.error);
            return false;
        }
        package = std::move(result.response->body);
    }

    // Checked before anything is written: a package that fails here never touches the disk.
    UpdatePackageVerifier::Result digest = UpdatePackageVerifier::sha256Matches(package, manifest.sha256);
    if (!digest.matches) {
        // The expected digest is the web host's text like any other.
        options.log.error("SHA-256 des heruntergeladenen pkg passt nicht zum Manifest (erwartet " +
                          Unicode::shownPeerText(manifest.sha256, 256, 1024) + ", erhalten " + digest.actual +
                          ") — Update abgebrochen.");
        return false;
    }

    Expected<WorkingDirectory> working = WorkingDirectory::create(temporaryBase(options));
    if (!working) {
        options.log.error("Update-Installation fehlgeschlagen: " + working.failure().text);
        return false;
    }
    std::string fileName = packageFileName(manifest.version);
    std::filesystem::path file = working->path() / fileName;
    if (Expected<void> written = working->writeNewFile(fileName, package); !written) {
        options.log.error("Update-Installation fehlgeschlagen: " + written.failure().text);
        return false;
    }
    std::string().swap(package);
    if (!signatureAccepted(file, options)) {
        working->removeAll();
        return false;
    }

    std::vector<std::string> arguments{"-pkg", file.string(), "-target", "/"};
    std::vector<std::string> environment = Subprocess::currentEnvironmentWith("KORVANE_SELF_UPDATE", "1");
    options.log.info("Update " + manifest.version + " wird installiert (" + file.string() + ").");

    Expected<Subprocess::Outcome> outcome = Subprocess::run(options.installerPath, arguments, environment);
    if (!outcome) {
        options.log.error("Update-Installation fehlgeschlagen: " + options.installerPath + ": " +
                          outcome.failure().text);
        return false;
    }
    if (!outcome->succeeded()) {
        options.log.error("installer(8) beendete sich mit Status " + std::to_string(statusOf(*outcome)) +
                          " — Update fehlgeschlagen.");
        return false;
    }

    // Whatever the installer left in it goes too.
    working->removeAll();
    options.log.info("Update " + manifest.version + " installiert — Daemon startet neu.");
    return true;
}

} // namespace

bool downloadAndInstall(const UpdateManifest& manifest, const Options& options) {
    try {
        return install(manifest, options);
    } catch (const std::exception& error) {
        // Out of memory for a large package and the like: a failed attempt, tried again at the next check.
        options.log.error(std::string("Update-Installation fehlgeschlagen: ") + error.what());
        return false;
    }
}

std::string sanitize(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::string_view grapheme : Unicode::graphemes(text)) {
        if (grapheme == "." || grapheme == "-" || Unicode::isLetterOrNumber(grapheme)) {
            result += grapheme;
        } else {
            result += '_';
        }
    }
    return result;
}

std::string packageFileName(std::string_view version) {
    return "RuzEdaRoredo-" + sanitize(version) + ".pkg";
}

} // namespace PkgAutoUpdater
