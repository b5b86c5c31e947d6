// What stands between a downloaded package and the installer: the signer's team as a fake pkgutil reports
// it, and a working directory no other user can change.
#include "updater/PackageSignature.hpp"
#include "updater/WorkingDirectory.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// pkgutil's report for a package signed for distribution, with `leaf` first in the chain.
std::string signedBy(const std::string& leaf) {
    return "Package \"x.pkg\":\n   Status: signed by a developer certificate issued by Apple for "
           "distribution\n   Certificate Chain:\n    1. " +
           leaf +
           "\n       Expires: 2030-01-01 00:00:00 +0000\n    2. Developer ID Certification Authority\n";
}

TEST(PackageSignature, OnlyThePinnedTeamsInstallerCertificateForDistributionPasses) {
    const std::string untrusted = "   Status: signed by untrusted certificate\n   Certificate Chain:\n"
                                  "    1. Developer ID Installer: Korvane (ABCDE12345)\n";
    const std::tuple<std::string, int, std::string> cases[] = {
        // report, status, problem (empty: none)
        {signedBy("Developer ID Installer: Korvane (ABCDE12345)"), 0, ""},
        {signedBy("Developer ID Installer:  (ABCDE12345)"), 0, ""}, // the team decides, not the name
        {signedBy("Developer ID Installer: Other (ZYXWV98760)"), 0, "signiert vom Team ZYXWV98760"},
        {signedBy("Developer ID Application: Korvane (ABCDE12345)"), 0,
         "kein Developer-ID-Installer-Zertifikat"},
        {signedBy("Developer ID Installer: Korvane (\x1b[2J)"), 0, "kein Developer-ID-Installer-Zertifikat"},
        {"Package \"x.pkg\":\n   Status: no signature", 1, "pkgutil beendete sich mit Status 1"},
        {untrusted, 0, "keine von Apple ausgestellte Developer-ID-Signatur"},
        // A certificate's text that poses as the status line comes after the real one.
        {untrusted + signedBy("Developer ID Installer: Korvane (ABCDE12345)"), 0,
         "keine von Apple ausgestellte Developer-ID-Signatur"}};
    for (const auto& [report, status, problem] : cases) {
        Scratch dir;
        std::string package = dir.write("x.pkg", "pkg");
        std::string pkgutil =
            dir.write("pkgutil",
                      "#!/bin/sh\n[ \"$#$1\" = 2--check-signature ] && [ -f \"$2\" ] || exit 99\n"
                      "cat <<'EOF'\n" +
                          report + "\nEOF\nexit " + std::to_string(status) + "\n",
                      true);
        Expected<void> checked = PackageSignature::check(pkgutil, package, "ABCDE12345");
        EXPECT_EQ(checked ? "" : checked.failure().text, problem) << report;
    }
    // One that hangs, with a child of its own holding the output open, is killed at its bound.
    Scratch dir;
    std::string hung = dir.write("pkgutil", "#!/bin/sh\necho 'Status: signed'\nsleep 30 & sleep 30\n", true);
    auto started = std::chrono::steady_clock::now();
    Expected<void> hungCheck = PackageSignature::check(hung, dir.write("x.pkg", "pkg"), "ABCDE12345",
                                                       std::chrono::milliseconds(300));
    EXPECT_EQ(hungCheck ? "" : hungCheck.failure().text, "pkgutil antwortet nicht");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(WorkingDirectory, MissingDirectoriesAreMadeButNoneAnotherUserCanChangeOrThatCannotBe) {
    Scratch dir;
    fs::create_directories(dir / "shared");
    fs::permissions(dir / "shared", fs::perms::all); // 0777 without the sticky bit
    dir.write("plain-file", "x");
    const std::pair<std::string, std::string> cases[] = {
        // base, error (empty: made)
        {"missing/tmp/", ""},
        {"shared/tmp",
         fs::canonical(dir / "shared").string() + ": Verzeichnis ist für andere Benutzer veränderbar"},
        {"plain-file/tmp", fs::canonical(dir / "plain-file").string() + ": "}};
    for (const auto& [base, error] : cases) {
        const mode_t old = ::umask(0277); // what is made is 0700 whatever the umask
        Expected<WorkingDirectory> working = WorkingDirectory::create(dir / base);
        ::umask(old);
        std::string reason = working ? "" : working.failure().text;
        EXPECT_EQ(bool(working), error.empty()) << base;
        EXPECT_TRUE(reason.starts_with(error) && reason.empty() == error.empty()) << base << ": " << reason;
        EXPECT_EQ(working && fs::is_directory(working->path()) &&
                      fs::status(working->path()).permissions() == fs::perms::owner_all,
                  error.empty())
            << base;
        EXPECT_EQ(fs::exists(dir / base), error.empty()) << base;
    }
}

// The last failed attempt stays for an administrator until the next one starts, which removes it with
// everything in it and touches nothing else in the directory, nor anything a link leads to.
TEST(WorkingDirectory, TheNextAttemptRemovesTheEarlierOnesOfItsOwnAndNothingElse) {
    Scratch dir;
    const std::string uuid = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D",
                      theirs = "korvane-update-1" + uuid.substr(1);
    std::set<std::string> kept{"outside", "korvane-update-0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d",
                               "korvane-update-" + uuid + "0", "korvane-updates-" + uuid, theirs};
    for (const std::string& name : kept) {
        fs::create_directory(dir / name);
    }
    fs::create_directories(dir / ("korvane-update-" + uuid) / "older"); // an older program's, gone too
    dir.write("outside/file", "keep");
    fs::create_directory_symlink(dir / "outside",
                                 dir / *kept.insert("korvane-update-3" + uuid.substr(1)).first);
    if (::geteuid() != 0 || ::chown((dir / theirs).c_str(), 65534, 65534) != 0) {
        kept.erase(theirs); // ours unless another user's
    }
    Expected<WorkingDirectory> first = WorkingDirectory::create(dir.path);
    ASSERT_TRUE(first && first->writeNewFile("a.pkg", "pkg"));
    fs::create_directories(first->path() / "left/deeper");
    std::ofstream(first->path() / "left/deeper/by-installer") << "x";
    fs::create_directory_symlink(dir / "outside", first->path() / "left/up");
    fs::create_symlink(dir / "outside/file", first->path() / "link");
    Expected<WorkingDirectory> second = WorkingDirectory::create(dir.path);
    ASSERT_TRUE(second);
    EXPECT_FALSE(fs::exists(fs::symlink_status(first->path())));
    second->removeAll();
    std::set<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path)) {
        left.insert(entry.path().filename());
    }
    EXPECT_EQ(left, kept);
    EXPECT_EQ(dir.read("outside/file"), "keep");
}

} // namespace
