#include "selfupdate/UpdateManifest.hpp"

#include "support/JsonStrict.hpp"
#include "support/Unicode.hpp"

namespace {

bool hasText(const std::string& field) {
    return !Unicode::trimBlanks(field).empty();
}

} // namespace

bool UpdateManifest::isComplete() const {
    return hasText(version) && hasText(url) && hasText(sha256);
}

UpdateManifest UpdateManifest::fromJson(std::string_view text) {
    nlohmann::json object = JsonStrict::parseObject(text);
    UpdateManifest manifest;
    manifest.version = JsonStrict::optionalString(object, "version").value_or("");
    manifest.url = JsonStrict::optionalString(object, "url").value_or("");
    manifest.sha256 = JsonStrict::optionalString(object, "sha256").value_or("");
    manifest.mandatory = JsonStrict::optionalBool(object, "mandatory").value_or(false);
    manifest.notes = JsonStrict::optionalString(object, "notes");
    return manifest;
}
