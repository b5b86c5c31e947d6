// Fetches, decodes and vets the update manifest; every call asks the service afresh.
#pragma once

#include "selfupdate/UpdateManifest.hpp"
#include "support/ClientLog.hpp"
#include "support/HttpSession.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

class UpdateManifestSource {
public:
    static constexpr std::chrono::seconds requestTimeout{30};
    // Far above any real manifest; an unbounded body from a peer is unsafe input.
    static constexpr std::size_t bodyLimit = 1024 * 1024;

    UpdateManifestSource(std::string manifestUrl, ClientLog log, HttpTrust trust);

    UpdateManifestSource(const UpdateManifestSource&) = delete;
    UpdateManifestSource& operator=(const UpdateManifestSource&) = delete;

    // A complete manifest, or nothing after one warning (silently for an address that is not a URL).
    // Never throws.
    std::optional<UpdateManifest> latest();

private:
    void warnUnloadable(const std::string& error) const;

    const std::string manifestUrl_;
    const ClientLog log_;
    HttpSession session_;
};
