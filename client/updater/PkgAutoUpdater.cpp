#include "updater/PkgAutoUpdater.hpp"

#include "selfupdate/UpdatePackageVerifier.hpp"
#include "support/BuildConstants.hpp"
#include "support/Environment.hpp"
#include "support/HttpSession.hpp"
#include "support/Subprocess.hpp"
#include "support/Unicode.hpp"
#include "support/UrlText.hpp"
#include "updater/PackageSignature.hpp"
#include "updater/WorkingDirectory.hpp"

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <utility>
#include <vector>

namespace PkgAutoUpdater {
namespace {

const std::string installerPath = "/usr/sbin/installer";
// Checks the package's signature before the installer may see it.
const std::string pkgutilPath = "/usr/sbin/pkgutil";
// The team whose Developer ID Installer certificate must have signed the package; empty (a development
// build) installs unchecked, with a warning.
const std::string teamId = BuildConstants::pkgTeamId;
// No byte for this long ends the download.
constexpr std::chrono::milliseconds downloadTimeout = std::chrono::seconds(300);
// The whole download, so a peer that drips bytes cannot hold the worker for days: the largest package
// still arrives over a line of about 0.4 Mbit/s, and the next check comes hours later anyway.
constexpr std::chrono::milliseconds downloadTotalTimeout = std::chrono::hours(3);
// Far above any real release; the whole package is held in memory before the digest check.
constexpr std::size_t maxPackageBytes = std::size_t(512) * 1024 * 1024;

// The process's temporary directory as the C++ library names it, whether or not it exists yet.
std::filesystem::path temporaryBase() {
    for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
        if (std::optional<std::string> value = Environment::value(name)) {
            return *value;
        }
    }
    return "/tmp";
}

// Whether the installer may run the package. A development build without a pinned team only warns.
Expected<void> signatureAccepted(const std::filesystem::path& file, const ClientLog& log) {
    if (teamId.empty()) {
        log.warn("Signatur des pkg nicht geprüft: diesem Entwicklungs-Build ist kein "
                 "Developer-ID-Team eingebaut.");
        return {};
    }
    Expected<void> signature = PackageSignature::check(pkgutilPath, file, teamId);
    if (!signature) {
        return Failure{
            "Das heruntergeladene pkg ist nicht mit dem Developer-ID-Installer-Zertifikat des Teams " +
            teamId + " signiert (" + signature.failure().text + ") — Update abgebrochen."};
    }
    return {};
}

// The number installer(8) ended with; a signal is reported by its number.
int statusOf(const Subprocess::Outcome& outcome) {
    return outcome.kind == Subprocess::Outcome::Kind::signaled ? outcome.signal : outcome.exitStatus;
}

} // namespace

Expected<void> downloadAndInstall(const UpdateManifest& manifest, const ClientLog& log,
                                  const HttpTrust& trust) {
    if (!HttpSession::isHttpsUrl(manifest.url)) {
        return Failure{"Update-URL ungültig oder nicht https: " +
                       Unicode::shownPeerText(UrlText::withoutPassword(manifest.url),
                                              Unicode::longShownCharacters, Unicode::longShownBytes) +
                       " — Update abgebrochen."};
    }

    std::string package;
    {
        HttpSession session = HttpSession::open({.requestTimeout = downloadTimeout,
                                                 .totalTimeout = downloadTotalTimeout,
                                                 .bodyLimit = maxPackageBytes,
                                                 .trust = trust});
        Expected<HttpResponse> result = session.get(manifest.url);
        if (!result) {
            return Failure{"Update-Download fehlgeschlagen: " + result.failure().text};
        }
        package = std::move(result->body);
    }

    // Checked before anything is written: a package that fails here never touches the disk.
    UpdatePackageVerifier::Result digest = UpdatePackageVerifier::sha256Matches(package, manifest.sha256);
    if (!digest.matches) {
        // The expected digest is the web host's text like any other.
        return Failure{
            "SHA-256 des heruntergeladenen pkg passt nicht zum Manifest (erwartet " +
            Unicode::shownPeerText(manifest.sha256, Unicode::longShownCharacters, Unicode::longShownBytes) +
            ", erhalten " + digest.actual + ") — Update abgebrochen."};
    }

    Expected<WorkingDirectory> working = WorkingDirectory::create(temporaryBase());
    if (!working) {
        return Failure{"Update-Installation fehlgeschlagen: " + working.failure().text};
    }
    std::string fileName = packageFileName(manifest.version);
    std::filesystem::path file = working->path() / fileName;
    if (Expected<void> written = working->writeNewFile(fileName, package); !written) {
        return Failure{"Update-Installation fehlgeschlagen: " + written.failure().text};
    }
    std::string().swap(package);
    if (Expected<void> accepted = signatureAccepted(file, log); !accepted) {
        working->removeAll();
        return accepted;
    }

    std::vector<std::string> arguments{"-pkg", file.string(), "-target", "/"};
    std::vector<std::string> environment = Subprocess::currentEnvironmentWith("KORVANE_SELF_UPDATE", "1");
    log.info("Update " + manifest.version + " wird installiert (" + file.string() + ").");

    Expected<Subprocess::Outcome> outcome = Subprocess::run(installerPath, arguments, environment);
    if (!outcome) {
        return Failure{"Update-Installation fehlgeschlagen: " + installerPath + ": " +
                       outcome.failure().text};
    }
    if (!outcome->succeeded()) {
        return Failure{"installer(8) beendete sich mit Status " + std::to_string(statusOf(*outcome)) +
                       " — Update fehlgeschlagen."};
    }

    // Whatever the installer left in it goes too.
    working->removeAll();
    log.info("Update " + manifest.version + " installiert — Daemon startet neu.");
    return {};
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
