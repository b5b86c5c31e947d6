// Whether a downloaded package carries the release team's signature, as pkgutil(1) reports it. The digest
// in the manifest only ties the package to the manifest's web host; this ties it to the team that signs
// the releases, so a compromised web host cannot have its own package installed.
#pragma once

#include "support/Expected.hpp"

#include <chrono>
#include <filesystem>
#include <string>

namespace PackageSignature {

// Success when `pkgutil --check-signature` ends with 0 and reports a package signed for distribution by
// a Developer ID Installer certificate of `team`; otherwise a failure whose text is a short German reason.
// Nothing the package itself says reaches the reason but a team ID of the usual form. A pkgutil still running
// after `limit` is killed, and the package refused.
Expected<void> check(const std::string& pkgutilPath, const std::filesystem::path& package,
                     const std::string& team, std::chrono::milliseconds limit = std::chrono::seconds(60));

} // namespace PackageSignature
