#include "selfupdate/UpdateManifest.hpp"

#include "support/JsonStrict.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string digest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(UpdateManifestTest, DecodesEveryKeyAndDefaultsTheMissingOnes) {
    UpdateManifest minimal = UpdateManifest::fromJson(
        R"({"version": "0.25.0", "url": "https://host.example/x.pkg", "sha256": ")" + digest + R"("})");
    EXPECT_EQ(minimal, (UpdateManifest{"0.25.0", "https://host.example/x.pkg", digest, false, std::nullopt}));
    EXPECT_TRUE(minimal.isComplete());

    UpdateManifest full = UpdateManifest::fromJson(
        R"({"version": "1.0", "url": "u", "sha256": "s", "mandatory": true, "notes": "Neu: \u00e4", "extra": [1]})");
    EXPECT_EQ(full, (UpdateManifest{"1.0", "u", "s", true, std::string("Neu: ä")}));

    UpdateManifest empty = UpdateManifest::fromJson("{}");
    EXPECT_EQ(empty, (UpdateManifest{"", "", "", false, std::nullopt}));
    EXPECT_FALSE(empty.isComplete());

    UpdateManifest nulls = UpdateManifest::fromJson(
        R"({"version": null, "url": null, "sha256": null, "mandatory": null, "notes": null})");
    EXPECT_EQ(nulls, empty);

    // An empty notes text is present, unlike a missing one.
    UpdateManifest emptyNotes = UpdateManifest::fromJson(R"({"notes": ""})");
    EXPECT_EQ(emptyNotes.notes, std::optional<std::string>(""));
    EXPECT_NE(emptyNotes, empty);
}

TEST(UpdateManifestTest, AWrongTypeOrShapeFailsTheWholeDocument) {
    const std::vector<std::string> bodies = {
        R"({"version": 25, "url": "u", "sha256": "s"})",
        R"({"version": "1.0", "url": ["u"], "sha256": "s"})",
        R"({"version": "1.0", "url": "u", "sha256": {"hex": "s"}})",
        R"({"version": "1.0", "url": "u", "sha256": "s", "mandatory": "true"})",
        R"({"version": "1.0", "url": "u", "sha256": "s", "mandatory": 1})",
        R"({"version": "1.0", "url": "u", "sha256": "s", "notes": false})",
        R"(["version", "1.0"])",
        R"("1.0")",
        "null",
        "",
        "<html>Not Found</html>",
        R"({"version": "1.0",)",
        "{\"version\": \"\xff\"}",
    };
    for (const std::string& body : bodies) {
        EXPECT_THROW(UpdateManifest::fromJson(body), JsonStrict::DecodeError) << body;
    }
}

TEST(UpdateManifestTest, CompleteMeansThreeFieldsWithMoreThanBlanks) {
    struct Case {
        std::string version, url, sha256;
        bool complete;
    };
    const std::vector<Case> cases = {
        {"0.25.0", "u", "s", true},
        {"", "u", "s", false},
        {"0.25.0", "", "s", false},
        {"0.25.0", "u", "", false},
        {"0.25.0", "u", "   ", false},
        {"\t", "u", "s", false},
        {"0.25.0", "\u00a0\u2003\u3000", "s", false}, // no-break, em and ideographic spaces are blanks
        {"\n", "u", "s", true},                       // a line break is not a blank
        {"0.25.0", "u", "\r", true},
        {"0.25.0", "\u2028", "s", true}, // nor is the line separator
        {" x ", "u", "s", true},
    };
    for (const Case& c : cases) {
        UpdateManifest manifest{c.version, c.url, c.sha256, false, std::nullopt};
        EXPECT_EQ(manifest.isComplete(), c.complete)
            << "\"" << c.version << "\" \"" << c.url << "\" \"" << c.sha256 << "\"";
        manifest.mandatory = true;
        manifest.notes = "   ";
        EXPECT_EQ(manifest.isComplete(), c.complete);
    }
}

TEST(UpdateManifestTest, WritesNotesOnlyWhenPresentAndReadsBackTheSame) {
    UpdateManifest withoutNotes{"0.25.0", "https://h.example/a.pkg", digest, false, std::nullopt};
    std::string written = withoutNotes.toJson();
    nlohmann::json object = nlohmann::json::parse(written);
    EXPECT_EQ(object.size(), 4u);
    EXPECT_FALSE(object.contains("notes"));
    EXPECT_EQ(object.at("mandatory"), false);
    EXPECT_EQ(UpdateManifest::fromJson(written), withoutNotes);
    EXPECT_NE(written.find(R"("https:\/\/h.example\/a.pkg")"), std::string::npos) << written;

    UpdateManifest withNotes{"", "", "", true, std::string("Zeile 1\nZeile 2")};
    nlohmann::json second = nlohmann::json::parse(withNotes.toJson());
    EXPECT_EQ(second.size(), 5u);
    EXPECT_EQ(UpdateManifest::fromJson(withNotes.toJson()), withNotes);
}

} // namespace
