// Where the session takes its trusted roots from, over directories laid out like macOS's and Debian's.
#include "support/HttpSession.hpp"

#include "ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <vector>

namespace {

struct TrustCase {
    const char* name;
    const char* certFile;
    const char* certDir;
    std::optional<std::vector<const char*>>
        systemEntries; // files in the system directory; none: no directory
    bool macBundle;    // <scratch>/cert.pem exists
    HttpTrust::Source source;
    const char* path; // relative to the scratch directory unless absolute
};

class HttpTrustSelection : public ::testing::TestWithParam<TrustCase> {};

TEST_P(HttpTrustSelection, FileThenDirectoryThenHashedSystemDirectoryThenBundleThenBuiltIn) {
    const TrustCase& c = GetParam();
    ScratchDirectory scratch;
    if (c.systemEntries) {
        std::filesystem::create_directory(scratch / "certs");
        for (const char* entry : *c.systemEntries) {
            std::ofstream(scratch / "certs" / entry) << "x";
        }
    }
    if (c.macBundle) {
        std::ofstream(scratch / "cert.pem") << "x";
    }
    std::vector<std::string> bundles = {(scratch / "cert.pem").string(),
                                        (scratch / "certs/ca-certificates.crt").string()};
    HttpTrust trust = HttpTrust::select(c.certFile, c.certDir, (scratch / "certs").string(), bundles);
    EXPECT_EQ(trust.source, c.source) << c.name;
    std::string expected = c.path[0] == '/' || c.path[0] == '\0' ? c.path : (scratch / c.path).string();
    EXPECT_EQ(trust.path, expected) << c.name;
}

using Source = HttpTrust::Source;
using Entries = std::vector<const char*>;

INSTANTIATE_TEST_SUITE_P(
    Table, HttpTrustSelection,
    ::testing::Values(
        TrustCase{"file wins over dir", "/x/ca.pem", "/x/dir", Entries{"002c0b4f.0"}, true,
                  Source::bundleFile, "/x/ca.pem"},
        TrustCase{"dir without file", "", "/x/dir", Entries{"002c0b4f.0"}, true, Source::directory, "/x/dir"},
        TrustCase{"debian", nullptr, "", Entries{"ca-certificates.crt", "002c0b4f.0"}, false,
                  Source::directory, "certs"},
        TrustCase{"macos", nullptr, nullptr, Entries{}, true, Source::bundleFile, "cert.pem"},
        TrustCase{"unhashed names only", nullptr, nullptr,
                  Entries{"ca-certificates.crt", "002c0b4f.pem", "02c0b4f.0", "002C0B4F.0", "002c0b4f."},
                  false, Source::bundleFile, "certs/ca-certificates.crt"},
        TrustCase{"nothing at all", nullptr, nullptr, std::nullopt, false, Source::builtIn, ""}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

} // namespace
