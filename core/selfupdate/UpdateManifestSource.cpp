#include "selfupdate/UpdateManifestSource.hpp"

#include "support/JsonStrict.hpp"
#include "support/Unicode.hpp"
#include "support/UrlText.hpp"

#include <utility>

UpdateManifestSource::UpdateManifestSource(std::string manifestUrl, ClientLog log, HttpTrust trust)
    : manifestUrl_(std::move(manifestUrl)), log_(std::move(log)),
      // The timeout bounds the whole fetch, not only each wait for data.
      session_(HttpSession::open({.requestTimeout = requestTimeout,
                                  .totalTimeout = requestTimeout,
                                  .bodyLimit = bodyLimit,
                                  .trust = std::move(trust)})) {}

void UpdateManifestSource::warnUnloadable(const std::string& error) const {
    // A decoder's complaint quotes the bytes it choked on, and those came from the web host.
    std::string shown = Unicode::shownPeerText(error, Unicode::longShownCharacters, Unicode::longShownBytes);
    log_.warn("Update-Manifest konnte nicht geladen werden: " + UrlText::withoutPassword(manifestUrl_) +
              " (" + shown + ")");
}

std::optional<UpdateManifest> UpdateManifestSource::latest() {
    if (!HttpSession::isValidUrl(manifestUrl_)) {
        return std::nullopt;
    }
    // The status is not looked at: whatever body came back has to decode as a manifest.
    Expected<HttpResponse> result = session_.get(manifestUrl_);
    if (!result) {
        warnUnloadable(result.failure().text);
        return std::nullopt;
    }
    UpdateManifest manifest;
    try {
        manifest = UpdateManifest::fromJson(result->body);
    } catch (const JsonStrict::DecodeError& error) {
        warnUnloadable(error.what());
        return std::nullopt;
    }
    if (!manifest.isComplete()) {
        log_.warn("Update-Manifest unvollständig oder leer: " + UrlText::withoutPassword(manifestUrl_));
        return std::nullopt;
    }
    return manifest;
}
