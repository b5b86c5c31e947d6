#include "selfupdate/UpdateManifestSource.hpp"

#include "support/FakeServiceTest.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Level = ClientLog::Level;
using Lines = std::vector<std::pair<Level, std::string>>;

const std::string manifestPath = "/downloads/macos/latest.json";

class UpdateManifestSourceTest : public FakeServiceTest {
protected:
    void SetUp() override { FakeServiceTest::SetUp(); }

    UpdateManifestSource source(const std::string& url) {
        ClientLog log(
            [this](Level level, const std::string& message) { lines_.emplace_back(level, message); });
        return UpdateManifestSource(url, log);
    }

    // Serves `body` with `status` as the manifest, for every request.
    void serve(const std::string& body, int status = 200) {
        fake_->control({{"latest", {{"body", body}, {"status", status}, {"sticky", true}}}});
    }

    std::string url() const { return fake_->url(manifestPath); }
    std::string unloadablePrefix() const {
        return "Update-Manifest konnte nicht geladen werden: " + url() + " (";
    }

    // The single line logged, which must be a warning starting with `prefix` and ending with ")".
    void expectOneUnloadableWarning() {
        ASSERT_EQ(lines_.size(), 1u);
        EXPECT_EQ(lines_[0].first, Level::warn);
        const std::string& text = lines_[0].second;
        EXPECT_TRUE(text.starts_with(unloadablePrefix())) << text;
        EXPECT_TRUE(text.ends_with(")")) << text;
        EXPECT_GT(text.size(), unloadablePrefix().size() + 1) << "the reason is missing: " << text;
    }

    Lines lines_;
};

TEST_F(UpdateManifestSourceTest, ReturnsTheServedManifestAndFetchesAfreshEveryTime) {
    nlohmann::json served = fake_->settings().at("manifest");
    UpdateManifestSource s = source(url());
    std::optional<UpdateManifest> first = s.latest();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first,
              (UpdateManifest{served.at("version").get<std::string>(), served.at("url").get<std::string>(),
                              served.at("sha256").get<std::string>(), false,
                              served.at("notes").get<std::string>()}));

    fake_->control({{"manifest", {{"version", "0.26.0"}}}});
    std::optional<UpdateManifest> second = s.latest();
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->version, "0.26.0");
    EXPECT_TRUE(lines_.empty());

    nlohmann::json requests = fake_->requests(manifestPath);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].at("method"), "GET");
}

TEST_F(UpdateManifestSourceTest, DecodesTheBodyWhateverTheStatus) {
    serve(R"({"version": "0.25.0", "url": "https://h.example/p.pkg", "sha256": "ab", "notes": null, "x": 1})",
          500);
    std::optional<UpdateManifest> manifest = source(url()).latest();
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ(*manifest, (UpdateManifest{"0.25.0", "https://h.example/p.pkg", "ab", false, std::nullopt}));
    EXPECT_TRUE(lines_.empty());
}

TEST_F(UpdateManifestSourceTest, ANotFoundPageIsAnUndecodableManifest) {
    serve("<html>Not Found</html>", 404);
    EXPECT_EQ(source(url()).latest(), std::nullopt);
    expectOneUnloadableWarning();
}

TEST_F(UpdateManifestSourceTest, AWrongTypeIsAnUndecodableManifest) {
    fake_->control({{"manifest", {{"version", 25}}}});
    EXPECT_EQ(source(url()).latest(), std::nullopt);
    expectOneUnloadableWarning();
}

TEST_F(UpdateManifestSourceTest, IncompleteManifestsAreRefusedWithTheirOwnWarning) {
    const std::vector<std::string> bodies = {
        "{}",
        R"({"version": "0.25.0", "url": "https://h.example/p.pkg", "sha256": "   "})",
        R"({"version": "0.25.0", "sha256": "ab"})",
    };
    for (const std::string& body : bodies) {
        lines_.clear();
        serve(body);
        EXPECT_EQ(source(url()).latest(), std::nullopt) << body;
        EXPECT_EQ(lines_, (Lines{{Level::warn, "Update-Manifest unvollständig oder leer: " + url()}}))
            << body;
    }
    // A line break is text, so this one is complete (and its version simply never parses).
    serve(R"({"version": "\n", "url": "https://h.example/p.pkg", "sha256": "ab"})");
    lines_.clear();
    std::optional<UpdateManifest> manifest = source(url()).latest();
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ(manifest->version, "\n");
    EXPECT_TRUE(lines_.empty());
}

TEST_F(UpdateManifestSourceTest, AFailedTransferIsWarnedWithTheAddressAsGiven) {
    // Nobody listens on port 1; the http address is refused by the https-only session.
    for (const std::string& address : {std::string("https://127.0.0.1:1/downloads/macos/latest.json"),
                                       "http://127.0.0.1:" + std::to_string(fake_->port()) + manifestPath}) {
        lines_.clear();
        EXPECT_EQ(source(address).latest(), std::nullopt);
        ASSERT_EQ(lines_.size(), 1u) << address;
        EXPECT_EQ(lines_[0].first, Level::warn);
        std::string prefix = "Update-Manifest konnte nicht geladen werden: " + address + " (";
        EXPECT_TRUE(lines_[0].second.starts_with(prefix)) << lines_[0].second;
        EXPECT_GT(lines_[0].second.size(), prefix.size() + 1);
    }
    EXPECT_TRUE(fake_->requests().empty());
}

TEST_F(UpdateManifestSourceTest, AnOversizedBodyIsRefused) {
    // Complete and well-formed, but longer than any manifest may be.
    fake_->control({{"manifest", {{"notes", std::string(UpdateManifestSource::bodyLimit, 'x')}}}});
    EXPECT_EQ(source(url()).latest(), std::nullopt);
    expectOneUnloadableWarning();
}

TEST_F(UpdateManifestSourceTest, ATextThatIsNoUrlIsSkippedSilently) {
    for (const std::string& address : {std::string(""), std::string("not a url"), std::string("://x")}) {
        EXPECT_EQ(source(address).latest(), std::nullopt) << address;
    }
    EXPECT_TRUE(lines_.empty());
    EXPECT_TRUE(fake_->requests().empty());
}

} // namespace
