// What stands between a downloaded package and the installer: the signer's team as a fake pkgutil reports
// it, and a working directory no other user can change.
#include "selfupdate/PackageSignature.hpp"
#include "selfupdate/WorkingDirectory.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>

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
        {signedBy("Developer ID Installer: Other (ZYXWV98765)"), 0, "signiert vom Team ZYXWV98765"},
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
        EXPECT_EQ(PackageSignature::problem(pkgutil, package, "ABCDE12345").value_or(""), problem) << report;
    }
    // One that hangs, with a child of its own holding the output open, is killed at its bound.
    Scratch dir;
    std::string hung = dir.write("pkgutil", "#!/bin/sh\necho 'Status: signed'\nsleep 30 & sleep 30\n", true);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(PackageSignature::problem(hung, dir.write("x.pkg", "pkg"), "ABCDE12345",
                                        std::chrono::milliseconds(300)),
              "pkgutil antwortet nicht");
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
        Expected<WorkingDirectory> working = WorkingDirectory::create(dir / base, "work");
        std::string reason = working ? "" : working.failure().text;
        EXPECT_EQ(bool(working), error.empty()) << base;
        EXPECT_TRUE(reason.starts_with(error) && reason.empty() == error.empty()) << base << ": " << reason;
        EXPECT_EQ(fs::is_directory(dir / base / "work"), error.empty()) << base;
    }
}

TEST(WorkingDirectory, IsRemovedWithEverythingInItAndNothingALinkLeadsTo) {
    Scratch dir;
    dir.write("outside", "keep");
    Expected<WorkingDirectory> working = WorkingDirectory::create(dir.path, "work");
    ASSERT_TRUE(working && working->writeNewFile("a.pkg", "pkg"));
    fs::create_directories(dir / "work/left/deeper");
    dir.write("work/left/deeper/by-installer", "x");
    fs::create_directory_symlink(dir.path, dir / "work/left/up");
    fs::create_symlink(dir / "outside", dir / "work/link");
    working->removeAll();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "work")));
    EXPECT_EQ(dir.read("outside"), "keep");
}

} // namespace
