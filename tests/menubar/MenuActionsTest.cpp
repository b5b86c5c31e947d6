// The menu actions of the real AppDelegate: the forced update through a fake restart program, and opening
// the daemon log.
#include "MenuBarFixture.hpp"

#include <QSignalSpy>
#include <QTest>
#include <fstream>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using State = DaemonStatus::State;

const std::string restartScript =
    "do shell script \"launchctl kickstart -k system/com.korvane.client\" with administrator privileges";

class ForceUpdateTest : public MenuBarTest {
protected:
    void SetUp() override {
        launch();
        refreshes = std::make_unique<QSignalSpy>(delegate.get(), &AppDelegate::refreshed);
    }

    void selectForceUpdate() const { entryTitled("Jetzt aktualisieren")->trigger(); }

    std::unique_ptr<QSignalSpy> refreshes;
};

TEST_F(ForceUpdateTest, StartsTheRestartProgramWithTwoArgumentsAndItsOutputDiscarded) {
    selectForceUpdate();
    ASSERT_TRUE(waitFor([this] { return refreshes->count() == 1; }));

    std::vector<ChildRecord> records = childRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].arguments, (std::vector<std::string>{"-e", restartScript}));
    EXPECT_EQ(records[0].stdoutTarget, "/dev/null");
    EXPECT_EQ(records[0].stderrTarget, "/dev/null");
    EXPECT_EQ(AppDelegate::restartArguments(), (std::vector<std::string>{"-e", restartScript}));
}

TEST_F(ForceUpdateTest, ReturnsAtOnceAndRefreshesOnlyAfterTheChildHasEnded) {
    holdChildren();
    selectForceUpdate();
    ASSERT_TRUE(waitFor([this] { return std::filesystem::exists(childDir / "pids"); }));
    // The child is held: however long the main thread runs, no refresh may come yet.
    QTest::qWait(300);
    EXPECT_EQ(refreshes->count(), 0);
    EXPECT_EQ(endedChildren(), 0);

    releaseChildren();
    ASSERT_TRUE(waitFor([this] { return refreshes->count() == 1; }));
    EXPECT_EQ(endedChildren(), 1);
}

TEST_F(ForceUpdateTest, TheRefreshShowsWhatTheRestartedDaemonWrote) {
    writeStatus(fullStatus(State::ok, "IP unverändert"));
    delegate->refresh();
    ASSERT_EQ(shownToolTip(), "Korvane: OK");
    refreshes->clear();

    childWritesStatus(fullStatus(State::error, "Zugangsdaten abgelehnt"));
    selectForceUpdate();
    ASSERT_TRUE(waitFor([this] { return refreshes->count() == 1; }));
    EXPECT_EQ(shownSymbol(), "exclamationmark.triangle.fill");
    EXPECT_EQ(shownToolTip(), "Korvane: Fehler");
    EXPECT_EQ(entry(1)->text(), "Zugangsdaten abgelehnt");
}

TEST_F(ForceUpdateTest, TwoQuickSelectionsRunTwoChildrenAndRefreshTwice) {
    holdChildren();
    selectForceUpdate();
    selectForceUpdate();
    ASSERT_TRUE(waitFor([this] {
        std::ifstream pids(childDir / "pids");
        return std::count(std::istreambuf_iterator<char>(pids), std::istreambuf_iterator<char>(), '\n') == 2;
    }));
    releaseChildren();
    ASSERT_TRUE(waitFor([this] { return refreshes->count() == 2; }));
    EXPECT_EQ(childRecords().size(), 2u);
    // Each selection gives exactly one refresh.
    QTest::qWait(100);
    EXPECT_EQ(refreshes->count(), 2);
}

TEST_F(ForceUpdateTest, AProgramThatCannotStartStillGivesTheRefresh) {
    services.updateProgram = (scratch / "no-such-program").string();
    launch();
    refreshes = std::make_unique<QSignalSpy>(delegate.get(), &AppDelegate::refreshed);
    selectForceUpdate();
    ASSERT_TRUE(waitFor([this] { return refreshes->count() == 1; }));
    EXPECT_TRUE(childRecords().empty());
}

TEST_F(ForceUpdateTest, AChildEndingAfterTheDelegateIsGoneChangesNothing) {
    writeStatus(fullStatus(State::ok, "IP unverändert"));
    holdChildren();
    selectForceUpdate();
    ASSERT_TRUE(waitFor([this] { return std::filesystem::exists(childDir / "pids"); }));
    refreshes.reset();
    delegate.reset();

    releaseChildren();
    ASSERT_TRUE(waitFor([this] { return endedChildren() == 1; }));
    // Give the waiting thread time to hand over; nothing may reach the destroyed delegate.
    QTest::qWait(200);
    EXPECT_EQ(childRecords().size(), 1u);
}

class OpenLogTest : public MenuBarTest {
protected:
    void SetUp() override { launch(); }
    void selectOpenLog() const { entryTitled("Log öffnen")->trigger(); }
};

TEST_F(OpenLogTest, AReadableLogOpensInTheDefaultViewer) {
    std::ofstream(services.daemonLog) << "2026-01-31 08:15:00 [INFO] Daemon gestartet\n";
    selectOpenLog();
    ASSERT_EQ(opener->opened.size(), 1u);
    EXPECT_EQ(opener->opened[0], QUrl::fromLocalFile(QString::fromStdString(services.daemonLog.string())));
    EXPECT_TRUE(opener->opened[0].isLocalFile());
    EXPECT_TRUE(alerts->shown.empty());
}

TEST_F(OpenLogTest, AMissingLogGivesTheAlertNamingThePath) {
    selectOpenLog();
    EXPECT_TRUE(opener->opened.empty());
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].message, "Log nicht lesbar");
    EXPECT_EQ(alerts->shown[0].informativeText,
              QString::fromStdString(services.daemonLog.string()) +
                  " existiert (noch) nicht — läuft der Daemon? Prüfen mit: korvane-client status");
}

TEST_F(OpenLogTest, AnUnreadableLogGivesTheAlertWithTheRepairHint) {
    std::ofstream(services.daemonLog) << "secret for root\n";
    files->denied = services.daemonLog;
    selectOpenLog();
    EXPECT_TRUE(opener->opened.empty());
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].message, "Log nicht lesbar");
    EXPECT_EQ(
        alerts->shown[0].informativeText,
        "Die Log-Datei existiert, ist aber für deinen Benutzer nicht lesbar. Meist stimmen die "
        "Verzeichnisrechte nicht — im Terminal reparieren mit:\n\nsudo chmod 755 /Library/Logs/RuzEdaRoredo");
}

TEST_F(OpenLogTest, EverySelectionAsksAgain) {
    selectOpenLog();
    std::ofstream(services.daemonLog) << "now there\n";
    selectOpenLog();
    EXPECT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(opener->opened.size(), 1u);
}

TEST(PosixFileAccess, TellsReadableMissingAndUnreadableFilesApart) {
    ScratchDirectory scratch;
    PosixFileAccess files;
    std::filesystem::path present = scratch / "present.log";
    std::ofstream(present) << "line\n";
    EXPECT_TRUE(files.exists(present));
    EXPECT_TRUE(files.isReadable(present));
    EXPECT_FALSE(files.exists(scratch / "absent.log"));
    EXPECT_FALSE(files.isReadable(scratch / "absent.log"));
    // A file behind a dangling link does not exist either.
    std::filesystem::create_symlink(scratch / "gone.log", scratch / "link.log");
    EXPECT_FALSE(files.exists(scratch / "link.log"));

    if (::geteuid() == 0) {
        GTEST_SKIP() << "file modes do not restrict root";
    }
    std::filesystem::permissions(present, std::filesystem::perms::none);
    EXPECT_TRUE(files.exists(present));
    EXPECT_FALSE(files.isReadable(present));
}

} // namespace
