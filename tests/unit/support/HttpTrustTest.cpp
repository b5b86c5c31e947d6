// Where the session takes its trusted roots from, over directories laid out like macOS's and Debian's, and
// a session that runs no request when libcurl refuses one of its settings.
#include "support/HttpSession.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Source = HttpTrust::Source;
using Names = std::vector<const char*>;

TEST(HttpTrust, FileThenDirectoryThenHashedSystemDirectoryThenBundleThenBuiltIn) {
    struct Case {
        const char *certFile, *certDir;
        std::optional<Names> system; // files in the system directory; none: no directory
        bool macBundle;              // <scratch>/cert.pem exists
        Source source;
        const char* path; // relative to the scratch directory unless absolute or empty
    };
    const Case cases[] = {
        {"/x/ca.pem", "/x/dir", Names{"002c0b4f.0"}, true, Source::bundleFile, "/x/ca.pem"},
        {nullptr, "/x/dir", Names{"002c0b4f.0"}, true, Source::directory, "/x/dir"},
        {nullptr, nullptr, Names{"ca-certificates.crt", "002c0b4f.0"}, false, Source::directory, "certs"},
        {nullptr, nullptr, Names{}, true, Source::bundleFile, "cert.pem"},
        {nullptr, nullptr,
         Names{"ca-certificates.crt", "002c0b4f.pem", "02c0b4f.0", "002C0B4F.0", "002c0b4f."}, false,
         Source::bundleFile, "certs/ca-certificates.crt"},
        {nullptr, nullptr, std::nullopt, false, Source::builtIn, ""}};
    for (const Case& c : cases) {
        Scratch scratch;
        if (c.system) {
            std::filesystem::create_directory(scratch / "certs");
            for (const char* entry : *c.system) {
                scratch.write(std::string("certs/") + entry, "x");
            }
        }
        if (c.macBundle) {
            scratch.write("cert.pem", "x");
        }
        auto given = [](const char* value) {
            return value ? std::optional<std::string>(value) : std::nullopt;
        };
        HttpTrust trust = HttpTrust::select(
            given(c.certFile), given(c.certDir), (scratch / "certs").string(),
            {(scratch / "cert.pem").string(), (scratch / "certs/ca-certificates.crt").string()});
        EXPECT_EQ(trust.source, c.source) << c.path;
        EXPECT_EQ(trust.path, c.path[0] == '/' || !c.path[0] ? c.path : (scratch / c.path).string());
    }
}

TEST(HttpSession, RunsNoRequestWhenLibcurlRefusesASafetyOption) {
    // Longer than libcurl accepts for any text option: its trust setting is refused before any connection
    // (which to this port would fail with another error).
    Expected<HttpResponse> result =
        HttpSession::open({.requestTimeout = 1s, .trust = HttpTrust::bundle(std::string(8000001, 'x'))})
            .get("https://127.0.0.1:1/ip4");
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.failure().text.starts_with("libcurl refused CURLOPT_CAINFO: "))
        << result.failure().text;
}

} // namespace
