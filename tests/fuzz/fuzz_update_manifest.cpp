// Any latest.json: decoding either fails with its own error or gives a manifest; completeness and the
// version decision never fail, and the decision is a strict order.
#include "selfupdate/AppUpdateDecision.hpp"
#include "selfupdate/UpdateManifest.hpp"
#include "selfupdate/UpdatePackageVerifier.hpp"
#include "support/JsonStrict.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void checkVersion(const std::string& version) {
    std::optional<AppUpdateDecision::Version> parsed = AppUpdateDecision::parse(version);
    for (std::int64_t component : parsed.value_or(AppUpdateDecision::Version{})) {
        if (component < 0) {
            __builtin_trap();
        }
    }
    // Never newer than itself; an unparseable version is never offered.
    if (AppUpdateDecision::isNewer(version, version)) {
        __builtin_trap();
    }
    if (!parsed && AppUpdateDecision::isNewer("0.0", version)) {
        __builtin_trap();
    }
    if (parsed &&
        AppUpdateDecision::isNewer(version, "0.24.0") == AppUpdateDecision::isNewer("0.24.0", version) &&
        *parsed != AppUpdateDecision::Version{0, 24, 0, 0}) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    checkVersion(text);
    if (UpdatePackageVerifier::sha256Matches(text, text).actual.size() != 64) {
        __builtin_trap();
    }

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
