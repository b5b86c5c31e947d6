// Downloads the package a newer manifest names, checks its SHA-256 and its signer, and runs the system's
// package installer on it. Each step taken is one line in the log, a failed one the answer's text.
#pragma once

#include "selfupdate/UpdateManifest.hpp"
#include "support/ClientLog.hpp"
#include "support/Expected.hpp"
#include "support/HttpTrust.hpp"

#include <string>
#include <string_view>

namespace PkgAutoUpdater {

// Succeeds exactly when the installer ended with status 0. Only version, url and sha256 are used.
Expected<void> downloadAndInstall(const UpdateManifest& manifest, const ClientLog& log,
                                  const HttpTrust& trust);

// Every grapheme that is neither a letter nor a number of any script, nor "." nor "-", becomes one "_".
std::string sanitize(std::string_view text);

// "RuzEdaRoredo-" + sanitize(version) + ".pkg".
std::string packageFileName(std::string_view version);

} // namespace PkgAutoUpdater
