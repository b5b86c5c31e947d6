// Downloads the package a newer manifest names, checks its SHA-256 and its signer, and runs the system's
// package installer on it. Every step is one line in the options' log; nothing throws.
#pragma once

#include "selfupdate/UpdateManifest.hpp"
#include "support/BuildConstants.hpp"
#include "support/ClientLog.hpp"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace PkgAutoUpdater {

struct Options {
    ClientLog log;
    std::string installerPath = "/usr/sbin/installer";
    // Checks the package's signature before the installer may see it.
    std::string pkgutilPath = "/usr/sbin/pkgutil";
    // The team whose Developer ID Installer certificate must have signed the package; empty (a development
    // build) installs unchecked, with a warning.
    std::string teamId = BuildConstants::pkgTeamId;
    // Where the working directory goes; nothing means the process's temporary directory. It and every
    // directory above it must be safe from other users; missing ones are created.
    std::optional<std::filesystem::path> temporaryDirectory;
    // No byte for this long ends the download.
    std::chrono::milliseconds downloadTimeout = std::chrono::seconds(300);
    // The whole download, so a peer that drips bytes cannot hold the worker for days: the largest package
    // still arrives over a line of about 0.4 Mbit/s, and the next check comes hours later anyway.
    std::chrono::milliseconds downloadTotalTimeout = std::chrono::hours(3);
    // Far above any real release; the whole package is held in memory before the digest check.
    std::size_t maxPackageBytes = std::size_t(512) * 1024 * 1024;
};

// True exactly when the installer ended with status 0. Only version, url and sha256 are used.
bool downloadAndInstall(const UpdateManifest& manifest, const Options& options);

// Every grapheme that is neither a letter nor a number of any script, nor "." nor "-", becomes one "_".
std::string sanitize(std::string_view text);

// "RuzEdaRoredo-" + sanitize(version) + ".pkg".
std::string packageFileName(std::string_view version);

} // namespace PkgAutoUpdater
