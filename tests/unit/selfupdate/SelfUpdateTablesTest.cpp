// The self-update's decisions as tables: the version rule, the manifest, the digest check, the file name.
#include "selfupdate/AppUpdateDecision.hpp"
#include "selfupdate/UpdateManifest.hpp"
#include "selfupdate/UpdatePackageVerifier.hpp"
#include "support/JsonStrict.hpp"
#include "updater/PkgAutoUpdater.hpp"

#include <gtest/gtest.h>
#include <string>
#include <tuple>

namespace {

TEST(AppUpdateDecision, OffersOnlyAGreaterDottedDecimalVersion) {
    // clang-format off
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"0.24.0", "0.24.0", false}, {"0.24.0", "0.24.1", true}, {"0.24.0", "0.24", false},
        {"0.24.0", "0.23.9", false}, {"0.24.0", "1.0", true}, {"0.24.0", "1", false},
        {"0.24.0", "1.2.3.4.5", false}, {"0.24.0", "v0.25.0", false}, {"0.24.0", "0.25.0-beta", false},
        {"0.24.0", "1..0", false}, {"0.24.0", ".1.0", false}, {"0.24.0", "1.0.", false},
        {"0.24.0", "0.24.0.1", true}, {"0.24.0", "+0.+25", true}, {"0.24.0", "0.-25", false},
        {"0.24.0", "-0.25", true}, {"0.24.0", "0.0025", true}, {"0.24.0", "9223372036854775807.0", true},
        {"0.24.0", "", false}, {"dev", "0.1", true}, {"dev", "dev", false},
        {"0.9", "0.10", true}, {"0.10", "0.9", false}, {"1.2.3", "1.2.3.1", true}, {"1.2", "1.2.0.0", false},
        {"1.2.0.0", "1.2", false}, {"2.0", "1.99.99.99", false}, {"1.99.99.99", "2.0", true},
        {"1.2.3.4.5", "0.0", true}, {"-1.0", "0.0", true}};
    // clang-format on
    for (const auto& [current, offered, newer] : cases) {
        EXPECT_EQ(AppUpdateDecision::isNewer(current, offered), newer) << current << " -> " << offered;
    }
    EXPECT_EQ(AppUpdateDecision::parse("-0.+7.007"), (AppUpdateDecision::Version{0, 7, 7, 0}));
}

TEST(UpdateManifest, DecodesStrictly) {
    EXPECT_EQ(UpdateManifest::fromJson(R"({"version": "1.0", "url": "u", "sha256": "s", "mandatory": true,
        "notes": "Neu: \u00e4", "extra": [1]})"),
              (UpdateManifest{"1.0", "u", "s", true, std::string("Neu: ä")}));
    EXPECT_EQ(UpdateManifest::fromJson(R"({"version": null, "mandatory": null, "notes": null})"),
              UpdateManifest{});
    EXPECT_EQ(UpdateManifest::fromJson(R"({"notes": ""})").notes, std::optional<std::string>(""));
    // clang-format off
    const char* rejected[] = {
        R"({"version": 25})", R"({"url": ["u"]})", R"({"sha256": {}})",
        R"({"mandatory": "true"})", R"({"mandatory": 1})", R"({"notes": false})", "<html>Not Found</html>"};
    // clang-format on
    for (const char* text : rejected) {
        EXPECT_THROW(UpdateManifest::fromJson(text), JsonStrict::DecodeError) << text;
    }
}

TEST(UpdateManifest, CompleteMeansThreeFieldsWithMoreThanBlanks) {
    // clang-format off
    const std::tuple<const char*, const char*, const char*, bool> cases[] = {
        {"0.25.0", "u", "s", true},   {"", "u", "s", false},       {"0.25.0", "", "s", false},
        {"0.25.0", "u", "", false},   {"\t", "u", "s", false},     {"0.25.0", "\u00a0\u2003\u3000", "s", false},
        {"\n", "u", "s", true},       {"0.25.0", "\u2028", "s", true}};
    // clang-format on
    for (const auto& [version, url, sha256, complete] : cases) {
        EXPECT_EQ((UpdateManifest{version, url, sha256, true, "  "}.isComplete()), complete)
            << version << "|" << url << "|" << sha256;
    }
}

TEST(UpdatePackageVerifier, AcceptsTheDigestInItsUsualSpellings) {
    const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    // clang-format off
    const std::pair<std::string, bool> cases[] = {
        {abc, true}, {"BA:78:16:BF:8F:01:CF:EA:41:41:40:DE:5D:AE:22:23:B0:03:61:A3:96:17:7A:9C:B4:10:FF:61:F2:00:15:AD", true},
        {abc.substr(0, 16) + "-" + abc.substr(16), true}, {"\u3000" + abc + "\r\n", true}, {"::" + abc + "--", true},
        {abc.substr(0, 32) + " " + abc.substr(32), false}, {"", false}, {abc.substr(0, 63), false},
        {abc + "0", false}, {"sha256:" + abc, false}};
    // clang-format on
    for (const auto& [expected, matches] : cases) {
        EXPECT_EQ(UpdatePackageVerifier::sha256Matches("abc", expected),
                  (UpdatePackageVerifier::Result{matches, abc}))
            << expected;
    }
    EXPECT_EQ(UpdatePackageVerifier::sha256Matches(std::string("abc\0", 4), abc).matches, false);
    EXPECT_EQ(UpdatePackageVerifier::normalisedDigest(": AB :"), "ab");
}

TEST(PkgAutoUpdater, TheVersionIsSanitisedForTheFileName) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"0.25.0", "0.25.0"}, {"1.0-rc1", "1.0-rc1"}, {"1.0 beta/2", "1.0_beta_2"}, {"../../etc", ".._.._etc"},
        {"Версия.2", "Версия.2"}, {"نسخة٣", "نسخة٣"}, {"1.0\u00b2", "1.0\u00b2"}, {"e\u0301.1", "e\u0301.1"},
        {"\U0001F1E9\U0001F1EA", "_"}, {"a\u00a0b", "a_b"}, {"a\r\nb", "a_b"}, {"x\xff", "x_"}, {"~!@#", "____"}};
    // clang-format on
    for (const auto& [version, sanitised] : cases) {
        EXPECT_EQ(PkgAutoUpdater::packageFileName(version), std::string("RuzEdaRoredo-") + sanitised + ".pkg")
            << version;
    }
}

} // namespace
