#include "updater/PackageSignature.hpp"

#include "support/Subprocess.hpp"
#include "support/Unicode.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

namespace PackageSignature {
namespace {

// pkgutil's report is a few hundred bytes; the cap only bounds a misbehaving one.
constexpr std::size_t reportLimit = 64 * 1024;

std::vector<std::string_view> trimmedLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(Unicode::trim(text.substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

// "1. Developer ID Installer: Name (TEAMID)" gives TEAMID, when it has the form of one.
std::optional<std::string> installerTeam(std::string_view leaf) {
    constexpr std::string_view prefix = "1. Developer ID Installer: ";
    std::size_t open = leaf.rfind(" (");
    if (!leaf.starts_with(prefix) || !leaf.ends_with(")") || open == std::string_view::npos ||
        open < prefix.size()) {
        return std::nullopt;
    }
    std::string_view team = leaf.substr(open + 2, leaf.size() - open - 3);
    bool wellFormed = !team.empty() && team.size() <= 20 && std::all_of(team.begin(), team.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
    return wellFormed ? std::optional<std::string>(team) : std::nullopt;
}

// Only the first status line counts, and only the chain after it: a certificate's own text, printed
// further down, cannot pose as either.
Expected<void> checkReport(std::string_view report, const std::string& team) {
    std::vector<std::string_view> lines = trimmedLines(report);
    auto status = std::find_if(lines.begin(), lines.end(),
                               [](std::string_view line) { return line.starts_with("Status:"); });
    if (status == lines.end() ||
        *status != "Status: signed by a developer certificate issued by Apple for distribution") {
        return Failure{"keine von Apple ausgestellte Developer-ID-Signatur"};
    }
    auto chain = std::find(status, lines.end(), "Certificate Chain:");
    auto leaf =
        std::find_if(chain, lines.end(), [](std::string_view line) { return line.starts_with("1."); });
    std::optional<std::string> signer = leaf == lines.end() ? std::nullopt : installerTeam(*leaf);
    if (!signer) {
        return Failure{"kein Developer-ID-Installer-Zertifikat"};
    }
    if (*signer != team) {
        return Failure{"signiert vom Team " + *signer};
    }
    return {};
}

} // namespace

Expected<void> check(const std::string& pkgutilPath, const std::filesystem::path& package,
                     const std::string& team, std::chrono::milliseconds limit) {
    Expected<Subprocess::Captured> checked =
        Subprocess::capture(pkgutilPath, {"--check-signature", package.string()},
                            Subprocess::currentEnvironment(), reportLimit, limit);
    if (!checked) {
        return Failure{"pkgutil nicht startbar: " + checked.failure().text};
    }
    const Subprocess::Outcome& outcome = checked->outcome;
    switch (outcome.kind) {
    case Subprocess::Outcome::Kind::timedOut:
        return Failure{"pkgutil antwortet nicht"};
    case Subprocess::Outcome::Kind::signaled:
        return Failure{"pkgutil durch Signal " + std::to_string(outcome.signal) + " beendet"};
    case Subprocess::Outcome::Kind::exited:
        break;
    }
    if (outcome.exitStatus != 0) {
        return Failure{"pkgutil beendete sich mit Status " + std::to_string(outcome.exitStatus)};
    }
    return checkReport(checked->output, team);
}

} // namespace PackageSignature
