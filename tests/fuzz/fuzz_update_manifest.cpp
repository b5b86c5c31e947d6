// Any latest.json: decoding either fails with its own error or gives a manifest; completeness and the
// version decision never fail, and the decision is a strict order.
#include "Fuzz.hpp"
#include "selfupdate/AppUpdateDecision.hpp"
#include "selfupdate/UpdateManifest.hpp"
#include "selfupdate/UpdatePackageVerifier.hpp"
#include "support/JsonStrict.hpp"

#include <string>

namespace {

void checkVersion(const std::string& version) {
    std::optional<AppUpdateDecision::Version> parsed = AppUpdateDecision::parse(version);
    for (std::int64_t component : parsed.value_or(AppUpdateDecision::Version{})) {
        require(component >= 0);
    }
    // Never newer than itself; an unparseable version is never offered.
    require(!AppUpdateDecision::isNewer(version, version));
    require(parsed || !AppUpdateDecision::isNewer("0.0", version));
    // A strict order: of two different versions exactly one is newer.
    require(!parsed || *parsed == AppUpdateDecision::Version{0, 24, 0, 0} ||
            AppUpdateDecision::isNewer(version, "0.24.0") != AppUpdateDecision::isNewer("0.24.0", version));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    checkVersion(text);
    require(UpdatePackageVerifier::sha256Matches(text, text).actual.size() == 64);

    UpdateManifest manifest;
    try {
        manifest = UpdateManifest::fromJson(text);
    } catch (const JsonStrict::DecodeError&) {
        return 0;
    }
    // Anything else escaping is a fault: libFuzzer reports the uncaught exception.
    (void)manifest.isComplete();
    checkVersion(manifest.version);
    return 0;
}
