#include "selfupdate/PkgAutoUpdater.hpp"

#include "StdLog.hpp"
#include "selfupdate/UpdatePackageVerifier.hpp"
#include "support/AtomicFile.hpp"
#include "support/HttpSession.hpp"
#include "support/Subprocess.hpp"
#include "support/Unicode.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace PkgAutoUpdater {
namespace {

using Level = ClientLog::Level;

std::string fileError(const std::filesystem::path& path, int error) {
    return path.string() + ": " + std::generic_category().message(error);
}

// "https" exactly, as written: anything else would let a manifest steer the download off TLS.
bool isHttpsUrl(const std::string& text) {
    if (!HttpSession::isValidUrl(text)) {
        return false;
    }
    std::size_t colon = text.find(':');
    return colon != std::string::npos && text.compare(0, colon, "https") == 0;
}

bool readRandom(std::array<unsigned char, 16>& bytes) {
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return filled == bytes.size();
}

// The working directory: a fresh name, refused if it exists already (nobody can slip one in beforehand).
std::optional<std::filesystem::path> makeWorkingDirectory(const Options& options, std::string& error) {
    std::error_code code;
    std::filesystem::path base;
    if (options.temporaryDirectory) {
        base = *options.temporaryDirectory;
    } else {
        base = std::filesystem::temp_directory_path(code);
        if (code) {
            error = code.message();
            return std::nullopt;
        }
    }
    base = std::filesystem::absolute(base, code);
    if (code) {
        error = code.message();
        return std::nullopt;
    }
    std::filesystem::create_directories(base, code);
    if (code) {
        error = fileError(base, code.value());
        return std::nullopt;
    }
    std::filesystem::path directory = base / ("korvane-update-" + randomUuid());
    if (::mkdir(directory.c_str(), 0700) != 0) {
        error = fileError(directory, errno);
        return std::nullopt;
    }
    // The umask may have taken bits away; the mode is set exactly.
    if (::chmod(directory.c_str(), 0700) != 0) {
        error = fileError(directory, errno);
        return std::nullopt;
    }
    return directory;
}

bool writePackage(const std::filesystem::path& file, const std::string& bytes, std::string& error) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = fileError(file, errno);
        return false;
    }
    if (!AtomicFile::writeAll(fd, bytes)) {
        error = fileError(file, errno);
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        error = fileError(file, errno);
        return false;
    }
    return true;
}

// The number installer(8) ended with; a signal is reported by its number.
int statusOf(const Subprocess::Outcome& outcome) {
    return outcome.kind == Subprocess::Outcome::Kind::signaled ? outcome.signal : outcome.exitStatus;
}

bool install(const UpdateManifest& manifest, const Options& options) {
    if (!isHttpsUrl(manifest.url)) {
        StdLog::line(Level::error,
                     "Update-URL ungültig oder nicht https: " + manifest.url + " — Update abgebrochen.");
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
            StdLog::line(Level::error, "Update-Download fehlgeschlagen: " + result.error);
            return false;
        }
        package = std::move(result.response->body);
    }

    // Checked before anything is written: a package that fails here never touches the disk.
    UpdatePackageVerifier::Result digest = UpdatePackageVerifier::sha256Matches(package, manifest.sha256);
    if (!digest.matches) {
        StdLog::line(Level::error, "SHA-256 des heruntergeladenen pkg passt nicht zum Manifest (erwartet " +
                                       manifest.sha256 + ", erhalten " + digest.actual +
                                       ") — Update abgebrochen.");
        return false;
    }

    std::string error;
    std::optional<std::filesystem::path> directory = makeWorkingDirectory(options, error);
    if (!directory) {
        StdLog::line(Level::error, "Update-Installation fehlgeschlagen: " + error);
        return false;
    }
    std::filesystem::path file = *directory / packageFileName(manifest.version);
    if (!writePackage(file, package, error)) {
        StdLog::line(Level::error, "Update-Installation fehlgeschlagen: " + error);
        return false;
    }
    std::string().swap(package);

    std::vector<std::string> arguments{"-pkg", file.string(), "-target", "/"};
    std::vector<std::string> environment = Subprocess::currentEnvironmentWith("KORVANE_SELF_UPDATE", "1");
    StdLog::line(Level::info, "Update " + manifest.version + " wird installiert (" + file.string() + ").");

    Subprocess::Outcome outcome = Subprocess::run(options.installerPath, arguments, environment);
    if (outcome.kind == Subprocess::Outcome::Kind::failed) {
        StdLog::line(Level::error, "Update-Installation fehlgeschlagen: " + outcome.reason);
        return false;
    }
    if (!outcome.succeeded()) {
        StdLog::line(Level::error, "installer(8) beendete sich mit Status " +
                                       std::to_string(statusOf(outcome)) + " — Update fehlgeschlagen.");
        return false;
    }

    std::error_code ignored;
    std::filesystem::remove_all(*directory, ignored);
    StdLog::line(Level::info, "Update " + manifest.version + " installiert — Daemon startet neu.");
    return true;
}

} // namespace

bool downloadAndInstall(const UpdateManifest& manifest, const Options& options) {
    try {
        return install(manifest, options);
    } catch (const std::exception& error) {
        // Out of memory for a large package and the like: a failed attempt, tried again at the next check.
        StdLog::line(Level::error, std::string("Update-Installation fehlgeschlagen: ") + error.what());
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

std::string randomUuid() {
    std::array<unsigned char, 16> bytes{};
    if (!readRandom(bytes)) {
        std::random_device device;
        for (unsigned char& byte : bytes) {
            byte = static_cast<unsigned char>(device());
        }
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += hexDigits[bytes[i] >> 4];
        text += hexDigits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace PkgAutoUpdater
