#include "selfupdate/PkgAutoUpdater.hpp"

#include "ScratchDirectory.hpp"
#include "TestFiles.hpp"
#include "client/StdoutCapture.hpp"
#include "support/FakeServiceTest.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Level = ClientLog::Level;
using Lines = StdoutCapture::Lines;

std::vector<std::string> readLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::string upperWithColons(const std::string& hex) {
    std::string result;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        result += (i == 0 ? "" : ":") + hex.substr(i, 2);
    }
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    return result;
}

const std::regex workingDirectoryName(
    "korvane-update-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");

// The installer is a shell script that records what it was given in `record` and ends with a chosen status.
class PkgAutoUpdaterTest : public FakeServiceTest {
protected:
    void SetUp() override {
        FakeServiceTest::SetUp();
        environment_.set("KORVANE_TEST_MARK", "daemon value");
        fs::create_directories(record);
    }

    PkgAutoUpdater::Options options(int status) {
        fs::path script = scratch / "installer";
        std::ofstream out(script);
        out << "#!/bin/sh\n"
            << "rec='" << record.string() << "'\n"
            << "echo call >> \"$rec/calls\"\n"
            << "printf '%s\\n' \"$#\" > \"$rec/argc\"\n"
            << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$rec/argv\"\n"
            << "env > \"$rec/env\"\n"
            << "cat \"$2\" > \"$rec/package\"\n"
            << "exit " << status << "\n";
        out.close();
        fs::permissions(script, fs::perms::owner_all);
        fakePkgutil(signedBy("Developer ID Installer: Korvane (ABCDE12345)"), 0);
        PkgAutoUpdater::Options o;
        o.installerPath = script.string();
        o.pkgutilPath = (scratch / "pkgutil").string();
        o.teamId = "ABCDE12345";
        o.temporaryDirectory = tempDir;
        return o;
    }

    // pkgutil's report for a package signed for distribution, with `leaf` first in the chain.
    static std::string signedBy(const std::string& leaf) {
        return "Package \"x.pkg\":\n   Status: signed by a developer certificate issued by Apple for "
               "distribution\n   Certificate Chain:\n    1. " +
               leaf +
               "\n       Expires: 2030-01-01 00:00:00 +0000\n    2. Developer ID Certification Authority\n";
    }

    // Prints `report` and ends with `status` when asked to check an existing file.
    void fakePkgutil(const std::string& report, int status) {
        fs::path script = scratch / "pkgutil";
        std::ofstream(script) << "#!/bin/sh\n[ \"$#$1\" = 2--check-signature ] && [ -f \"$2\" ] || exit 99\n"
                              << "cat <<'EOF'\n"
                              << report << "\nEOF\nexit " << status << "\n";
        fs::permissions(script, fs::perms::owner_all);
    }

    // What the fake serves: version 0.25.0, its package's address and digest.
    static UpdateManifest served() {
        nlohmann::json m = fake_->settings().at("manifest");
        return {m.at("version").get<std::string>(), m.at("url").get<std::string>(),
                m.at("sha256").get<std::string>(), false, std::nullopt};
    }

    static std::string packageDigest() { return fake_->settings().at("packageSha256").get<std::string>(); }

    std::vector<fs::path> workingDirectories() const {
        std::vector<fs::path> found;
        if (!fs::exists(tempDir)) {
            return found;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(tempDir)) {
            if (entry.path().filename().string().starts_with("korvane-update-")) {
                found.push_back(entry.path());
            }
        }
        return found;
    }

    bool install(const UpdateManifest& manifest, const PkgAutoUpdater::Options& o) {
        StdoutCapture capture;
        bool result = PkgAutoUpdater::downloadAndInstall(manifest, o);
        capture.restore();
        lines = capture.lines();
        return result;
    }

    bool installerRan() const { return fs::exists(record / "calls"); }

    ScratchDirectory scratch;
    fs::path tempDir = scratch / "tmp" / "nested";
    fs::path record = scratch / "record";
    Lines lines;
};

TEST_F(PkgAutoUpdaterTest, InstallsAVerifiedPackageAndRemovesItsDirectory) {
    environment_.set("KORVANE_SELF_UPDATE", "0");
    UpdateManifest manifest = served();
    manifest.sha256 = upperWithColons(manifest.sha256);

    ASSERT_TRUE(install(manifest, options(0)));

    std::vector<std::string> argv = readLines(record / "argv");
    ASSERT_EQ(readLines(record / "argc"), std::vector<std::string>{"4"});
    ASSERT_EQ(argv.size(), 4u);
    EXPECT_EQ(argv[0], "-pkg");
    EXPECT_EQ(argv[2], "-target");
    EXPECT_EQ(argv[3], "/");
    fs::path package = argv[1];
    EXPECT_TRUE(package.is_absolute());
    EXPECT_EQ(package.filename(), "RuzEdaRoredo-0.25.0.pkg");
    EXPECT_EQ(package.parent_path().parent_path(), fs::absolute(tempDir));
    EXPECT_TRUE(std::regex_match(package.parent_path().filename().string(), workingDirectoryName))
        << package.parent_path();

    // The installer saw exactly the bytes the service sent.
    EXPECT_EQ(PkgAutoUpdater::packageFileName("0.25.0"), "RuzEdaRoredo-0.25.0.pkg");
    std::string bytes = readFile(record / "package");
    EXPECT_EQ(bytes.size(), fake_->settings().at("packageSize").get<std::size_t>());

    // The daemon's environment, with the self-update flag set once to 1.
    std::vector<std::string> environment = readLines(record / "env");
    EXPECT_EQ(std::count(environment.begin(), environment.end(), "KORVANE_SELF_UPDATE=1"), 1);
    EXPECT_EQ(std::count_if(environment.begin(), environment.end(),
                            [](const std::string& e) { return e.starts_with("KORVANE_SELF_UPDATE="); }),
              1);
    EXPECT_EQ(std::count(environment.begin(), environment.end(), "KORVANE_TEST_MARK=daemon value"), 1);
    EXPECT_EQ(std::count(environment.begin(), environment.end(), "SSL_CERT_FILE=" + fake_->caFile()), 1);

    EXPECT_TRUE(workingDirectories().empty());
    EXPECT_EQ(lines, (Lines{{Level::info, "Update 0.25.0 wird installiert (" + package.string() + ")."},
                            {Level::info, "Update 0.25.0 installiert — Daemon startet neu."}}));
}

TEST_F(PkgAutoUpdaterTest, AFailedInstallerKeepsThePrivateDirectoryWithThePackage) {
    UpdateManifest manifest = served();
    EXPECT_FALSE(install(manifest, options(1)));

    std::vector<fs::path> directories = workingDirectories();
    ASSERT_EQ(directories.size(), 1u);
    struct stat info {};
    ASSERT_EQ(::stat(directories[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    fs::path package = directories[0] / "RuzEdaRoredo-0.25.0.pkg";
    EXPECT_EQ(readFile(package), readFile(record / "package"));
    EXPECT_EQ(readLines(record / "argv").at(1), package.string());
    EXPECT_EQ(lines,
              (Lines{{Level::info, "Update 0.25.0 wird installiert (" + package.string() + ")."},
                     {Level::error, "installer(8) beendete sich mit Status 1 — Update fehlgeschlagen."}}));
}

TEST_F(PkgAutoUpdaterTest, EveryAttemptGetsItsOwnDirectory) {
    PkgAutoUpdater::Options o = options(7);
    EXPECT_FALSE(install(served(), o));
    EXPECT_EQ(lines.at(1),
              std::make_pair(Level::error, std::string("installer(8) beendete sich mit Status 7 — "
                                                       "Update fehlgeschlagen.")));
    EXPECT_FALSE(install(served(), o));
    EXPECT_EQ(readLines(record / "calls").size(), 2u);
    std::vector<fs::path> directories = workingDirectories();
    ASSERT_EQ(directories.size(), 2u);
    EXPECT_NE(directories[0], directories[1]);
}

TEST_F(PkgAutoUpdaterTest, APackageWithAnotherDigestNeverTouchesTheDisk) {
    UpdateManifest manifest = served();
    // A digest in the manifest's own spelling, of other bytes.
    std::string other =
        "E3:B0:C4:42:98:FC:1C:14:9A:FB:F4:C8:99:6F:B9:24:27:AE:41:E4:64:9B:93:4C:A4:95:99:1B:78:52:B8:55";
    manifest.sha256 = other;

    EXPECT_FALSE(install(manifest, options(0)));

    EXPECT_EQ(lines, (Lines{{Level::error,
                             "SHA-256 des heruntergeladenen pkg passt nicht zum Manifest (erwartet " + other +
                                 ", erhalten " + packageDigest() + ") — Update abgebrochen."}}));
    EXPECT_FALSE(fs::exists(tempDir));
    EXPECT_FALSE(installerRan());
    EXPECT_EQ(fake_->requests("/downloads/macos/RuzEdaRoredo-0.25.0.pkg").size(), 1u);
}

TEST_F(PkgAutoUpdaterTest, OnlyHttpsAddressesAreFetched) {
    std::string port = std::to_string(fake_->port());
    const std::vector<std::string> urls = {
        "http://127.0.0.1:" + port + "/downloads/macos/RuzEdaRoredo-0.25.0.pkg",
        "HTTPS://127.0.0.1:" + port + "/downloads/macos/RuzEdaRoredo-0.25.0.pkg",
        "ftp://127.0.0.1:" + port + "/x.pkg",
        "not a url",
        "",
        "//127.0.0.1:" + port + "/x.pkg",
    };
    for (const std::string& url : urls) {
        UpdateManifest manifest = served();
        manifest.url = url;
        EXPECT_FALSE(install(manifest, options(0))) << url;
        EXPECT_EQ(lines, (Lines{{Level::error, "Update-URL ungültig oder nicht https: " + url +
                                                   " — Update abgebrochen."}}));
    }
    EXPECT_TRUE(fake_->requests().empty());
    EXPECT_FALSE(fs::exists(tempDir));
    EXPECT_FALSE(installerRan());
}

TEST_F(PkgAutoUpdaterTest, FailedDownloadsEndTheAttemptBeforeTheDisk) {
    std::string port = std::to_string(fake_->port());
    struct Case {
        std::string name;
        nlohmann::json control;
        std::string url;
        std::size_t cap;
    };
    const std::vector<Case> cases = {
        {"nobody listens", nlohmann::json::object(), "https://127.0.0.1:1/x.pkg", 1u << 20},
        {"redirect to http",
         {{"pkg",
           {{"status", 302},
            {"body", ""},
            {"headers",
             {{"Location", "http://127.0.0.1:" + port + "/downloads/macos/RuzEdaRoredo-0.25.0.pkg"}}}}}},
         "",
         1u << 20},
        {"larger than the cap", nlohmann::json::object(), "", 1000},
    };
    for (const Case& c : cases) {
        fake_->reset();
        if (!c.control.empty()) {
            fake_->control(c.control);
        }
        UpdateManifest manifest = served();
        if (!c.url.empty()) {
            manifest.url = c.url;
        }
        PkgAutoUpdater::Options o = options(0);
        o.maxPackageBytes = c.cap;
        EXPECT_FALSE(install(manifest, o)) << c.name;
        ASSERT_EQ(lines.size(), 1u) << c.name;
        EXPECT_EQ(lines[0].first, Level::error) << c.name;
        EXPECT_TRUE(lines[0].second.starts_with("Update-Download fehlgeschlagen: ")) << lines[0].second;
        EXPECT_GT(lines[0].second.size(), std::string("Update-Download fehlgeschlagen: ").size()) << c.name;
    }
    EXPECT_FALSE(fs::exists(tempDir));
    EXPECT_FALSE(installerRan());
}

TEST_F(PkgAutoUpdaterTest, TheVersionIsSanitisedForTheFileName) {
    fake_->control({{"manifest", {{"version", "1.0 beta/2"}}}});
    UpdateManifest manifest = served();
    EXPECT_FALSE(install(manifest, options(1)));
    fs::path package = readLines(record / "argv").at(1);
    EXPECT_EQ(package.filename(), "RuzEdaRoredo-1.0_beta_2.pkg");
    // The log names the version as given.
    EXPECT_EQ(lines.at(0),
              std::make_pair(Level::info, "Update 1.0 beta/2 wird installiert (" + package.string() + ")."));

    struct Case {
        std::string version, sanitised;
    };
    const std::vector<Case> cases = {
        {"0.25.0", "0.25.0"},
        {"1.0-rc1", "1.0-rc1"},
        {"1.0 beta/2", "1.0_beta_2"},
        {"../../etc", ".._.._etc"},
        {"Версия.2", "Версия.2"},
        {"نسخة٣", "نسخة٣"},
        {"1.0\u00b2", "1.0\u00b2"},    // superscript two is a number
        {"e\u0301.1", "e\u0301.1"},    // e with a combining acute accent: one letter
        {"\U0001F1E9\U0001F1EA", "_"}, // a flag: two code points, one character
        {"a\u00a0b", "a_b"},           // a no-break space is no letter
        {"a\tb\nc", "a_b_c"},
        {"a\r\nb", "a_b"}, // CR LF is a single character
        {"x\xff", "x_"},
        {"", ""},
        {"__", "__"},
        {"~!@#", "____"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PkgAutoUpdater::sanitize(c.version), c.sanitised) << c.version;
        EXPECT_EQ(PkgAutoUpdater::packageFileName(c.version), "RuzEdaRoredo-" + c.sanitised + ".pkg");
    }
}

TEST_F(PkgAutoUpdaterTest, LocalFailuresAreInstallationFailures) {
    const std::string prefix = "Update-Installation fehlgeschlagen: ";
    // No installer at that path: the package is written and stays.
    PkgAutoUpdater::Options missing = options(0);
    missing.installerPath = (scratch / "no-such-installer").string();
    EXPECT_FALSE(install(served(), missing));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first, Level::info);
    EXPECT_EQ(lines[1].first, Level::error);
    EXPECT_TRUE(lines[1].second.starts_with(prefix + missing.installerPath + ": ")) << lines[1].second;
    ASSERT_EQ(workingDirectories().size(), 1u);
    EXPECT_TRUE(fs::exists(workingDirectories()[0] / "RuzEdaRoredo-0.25.0.pkg"));

    // The temporary directory is a file: no working directory can be made there.
    std::ofstream(scratch / "plain-file") << "x";
    PkgAutoUpdater::Options blocked = options(0);
    blocked.temporaryDirectory = scratch / "plain-file";
    EXPECT_FALSE(install(served(), blocked));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, Level::error);
    EXPECT_TRUE(lines[0].second.starts_with(prefix)) << lines[0].second;

    // A version too long for a file name: the directory is made, the package cannot be written.
    fs::remove_all(tempDir);
    fake_->control({{"manifest", {{"version", std::string(300, '9')}}}});
    EXPECT_FALSE(install(served(), options(0)));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].second.starts_with(prefix)) << lines[0].second;
    ASSERT_EQ(workingDirectories().size(), 1u);
    EXPECT_TRUE(fs::is_empty(workingDirectories()[0]));
    EXPECT_FALSE(installerRan());
}

TEST_F(PkgAutoUpdaterTest, WithoutADirectoryGivenTheProcessTemporaryDirectoryIsUsed) {
    fs::path tmpdir = scratch / "tmpdir";
    fs::create_directories(tmpdir);
    environment_.set("TMPDIR", tmpdir.string());
    PkgAutoUpdater::Options o = options(1);
    o.temporaryDirectory.reset();
    EXPECT_FALSE(install(served(), o));
    fs::path package = readLines(record / "argv").at(1);
    EXPECT_EQ(package.parent_path().parent_path(), tmpdir);
    EXPECT_TRUE(fs::exists(package));
}

TEST_F(PkgAutoUpdaterTest, AMissingTemporaryDirectoryIsCreatedAndFailuresNameThePath) {
    PkgAutoUpdater::Options o = options(0);
    o.temporaryDirectory.reset();
    std::ofstream(scratch / "plain-file") << "x";
    StdoutCapture capture; // made in the real temporary directory, before TMPDIR moves
    environment_.set("TMPDIR", (scratch / "missing" / "tmp").string() + "/");
    EXPECT_TRUE(PkgAutoUpdater::downloadAndInstall(served(), o));
    environment_.set("TMPDIR", (scratch / "plain-file" / "tmp").string());
    EXPECT_FALSE(PkgAutoUpdater::downloadAndInstall(served(), o));
    capture.restore();

    EXPECT_TRUE(fs::is_directory(scratch / "missing" / "tmp"));
    Lines shown = capture.lines();
    ASSERT_EQ(shown.size(), 3u) << testing::PrintToString(shown);
    EXPECT_TRUE(shown[2].second.starts_with(
        "Update-Installation fehlgeschlagen: " + fs::canonical(scratch / "plain-file").string() + ": "))
        << shown[2].second;
}

TEST_F(PkgAutoUpdaterTest, NoDirectoryAnotherUserCanChangeHoldsThePackage) {
    fs::path shared = scratch / "shared";
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms::all); // 0777 without the sticky bit
    PkgAutoUpdater::Options o = options(0);
    o.temporaryDirectory = shared / "tmp";
    EXPECT_FALSE(install(served(), o));
    EXPECT_EQ(lines,
              (Lines{{Level::error, "Update-Installation fehlgeschlagen: " + fs::canonical(shared).string() +
                                        ": Verzeichnis ist für andere Benutzer veränderbar"}}));
    EXPECT_FALSE(fs::exists(shared / "tmp"));
    EXPECT_FALSE(installerRan());
}

TEST_F(PkgAutoUpdaterTest, OnlyThePinnedTeamsInstallerSignatureIsInstalled) {
    const std::string untrusted = "   Status: signed by untrusted certificate\n   Certificate Chain:\n"
                                  "    1. Developer ID Installer: Korvane (ABCDE12345)\n";
    struct Case {
        std::string team, report;
        int status;
        std::string problem; // empty: installed
    };
    const std::vector<Case> cases = {
        {"ABCDE12345", signedBy("Developer ID Installer: Korvane (ABCDE12345)"), 0, ""},
        {"", "Status: no signature", 1, ""}, // a development build only warns
        {"ABCDE12345", signedBy("Developer ID Installer: Other (ZYXWV98765)"), 0,
         "signiert vom Team ZYXWV98765"},
        {"ABCDE12345", signedBy("Developer ID Application: Korvane (ABCDE12345)"), 0,
         "kein Developer-ID-Installer-Zertifikat"},
        {"ABCDE12345", signedBy("Developer ID Installer: Korvane (\x1b[2J)"), 0,
         "kein Developer-ID-Installer-Zertifikat"},
        {"ABCDE12345", "Package \"x.pkg\":\n   Status: no signature", 1,
         "pkgutil beendete sich mit Status 1"},
        {"ABCDE12345", untrusted, 0, "keine von Apple ausgestellte Developer-ID-Signatur"},
        // A certificate's text that poses as the status line comes after the real one.
        {"ABCDE12345", untrusted + signedBy("Developer ID Installer: Korvane (ABCDE12345)"), 0,
         "keine von Apple ausgestellte Developer-ID-Signatur"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.report);
        fs::remove_all(record);
        fs::create_directories(record);
        PkgAutoUpdater::Options o = options(0);
        fakePkgutil(c.report, c.status);
        o.teamId = c.team;
        bool installed = install(served(), o);
        EXPECT_EQ(installed, c.problem.empty());
        EXPECT_EQ(installerRan(), c.problem.empty());
        EXPECT_TRUE(workingDirectories().empty()) << "a refused package is deleted";
        if (c.team.empty()) {
            EXPECT_EQ(lines.at(0),
                      std::make_pair(Level::warn, std::string("Signatur des pkg nicht geprüft: diesem "
                                                              "Entwicklungs-Build ist kein "
                                                              "Developer-ID-Team eingebaut.")));
        } else if (!c.problem.empty()) {
            EXPECT_EQ(lines, (Lines{{Level::error, "Das heruntergeladene pkg ist nicht mit dem "
                                                   "Developer-ID-Installer-Zertifikat des Teams ABCDE12345 "
                                                   "signiert (" +
                                                       c.problem + ") — Update abgebrochen."}}));
        }
    }
}

TEST(PkgAutoUpdaterUuidTest, IsAFreshVersionFourUuidInUpperCase) {
    const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        std::string text = PkgAutoUpdater::randomUuid();
        EXPECT_TRUE(std::regex_match(text, uuid)) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200u);
}

} // namespace
