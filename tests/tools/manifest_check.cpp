// Reads a latest.json the way the daemon does and prints what the daemon would make of it, so the tests
// of scripts/release-manifest check its output against the project's own decoder and version rule.
//   korvane-manifest-check FILE       -> one JSON object (fields, complete, offered, reencoded)
//   korvane-manifest-check --version V -> "parses" or "unparseable"
#include "config/ClientPaths.hpp"
#include "selfupdate/AppUpdateDecision.hpp"
#include "selfupdate/UpdateManifest.hpp"
#include "support/BuildConstants.hpp"
#include "support/FileRead.hpp"
#include "support/JsonStrict.hpp"

#include <cstdio>
#include <exception>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

namespace {

// The daemon's JSON form of a manifest: sorted keys, pretty-printed, notes only when present.
std::string encode(const UpdateManifest& manifest) {
    nlohmann::json object = {{"version", manifest.version},
                             {"url", manifest.url},
                             {"sha256", manifest.sha256},
                             {"mandatory", manifest.mandatory}};
    if (manifest.notes) {
        object["notes"] = *manifest.notes;
    }
    return JsonStrict::writePretty(object);
}

// Any parseable version is newer than a running version that does not parse.
bool versionParses(const std::string& version) {
    return AppUpdateDecision::isNewer("unparseable", version);
}

int describe(const char* path) {
    Expected<std::string> text = FileRead::readAll(path);
    if (!text) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return 1;
    }
    try {
        UpdateManifest manifest = UpdateManifest::fromJson(*text);
        nlohmann::json report = {
            {"version", manifest.version},
            {"url", manifest.url},
            {"sha256", manifest.sha256},
            {"mandatory", manifest.mandatory},
            {"notes", manifest.notes ? nlohmann::json(*manifest.notes) : nlohmann::json()},
            {"complete", manifest.isComplete()},
            {"offered", AppUpdateDecision::isNewer(ClientVersion::current, manifest.version)},
            {"versionParses", versionParses(manifest.version)},
            {"reencoded", encode(manifest)},
        };
        std::cout << report.dump() << '\n';
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "not a manifest: %s\n", error.what());
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--version") {
        std::cout << (versionParses(argv[2]) ? "parses" : "unparseable") << '\n';
        return 0;
    }
    if (argc == 2) {
        return describe(argv[1]);
    }
    std::fprintf(stderr, "usage: korvane-manifest-check FILE | --version V\n");
    return 64;
}
