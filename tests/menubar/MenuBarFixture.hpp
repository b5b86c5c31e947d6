// The fixture of the AppDelegate tests: a scratch configuration directory, fake desktop services, a fake
// restart program that records how it was started, and helpers that read what the status item shows.
#pragma once

#include "AppDelegate.hpp"
#include "ScratchDirectory.hpp"
#include "SymbolImages.hpp"
#include "status/DaemonStatus.hpp"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

class FakeAlerts final : public Alerting {
public:
    struct Shown {
        QString message;
        QString informativeText;
    };

    void warn(const QString& message, const QString& informativeText) override {
        shown.push_back({message, informativeText});
    }

    std::vector<Shown> shown;
};

class FakeOpener final : public FileOpening {
public:
    void open(const QUrl& url) override { opened.push_back(url); }

    std::vector<QUrl> opened;
};

// The real file tests, except that one path is unreadable as it would be for another user: the tests run
// as root, for whom file modes cannot make a file unreadable.
class DenyingFileAccess final : public FileAccess {
public:
    bool isReadable(const std::filesystem::path& path) const override {
        return path != denied && real.isReadable(path);
    }
    bool exists(const std::filesystem::path& path) const override { return real.exists(path); }

    PosixFileAccess real;
    std::filesystem::path denied;
};

class FakeLoginItem final : public LoginItemService {
public:
    LoginItemStatus status() const override { return current; }

    bool registerItem() override {
        ++registrations;
        if (onRegister) {
            onRegister();
        }
        current = statusAfterRegister;
        return statusAfterRegister == LoginItemStatus::enabled;
    }

    bool unregisterItem() override {
        ++unregistrations;
        current = LoginItemStatus::notRegistered;
        return true;
    }

    LoginItemStatus current = LoginItemStatus::notRegistered;
    LoginItemStatus statusAfterRegister = LoginItemStatus::enabled;
    int registrations = 0;
    int unregistrations = 0;
    std::function<void()> onRegister;
};

// How one run of the fake restart program was started.
struct ChildRecord {
    std::vector<std::string> arguments;
    std::string stdoutTarget;
    std::string stderrTarget;
};

class MenuBarTest : public ::testing::Test {
protected:
    MenuBarTest();
    ~MenuBarTest() override;

    // Constructs the delegate from `services` and runs its launch.
    AppDelegate& launch();

    std::filesystem::path statusPath() const { return configDir / "status.json"; }
    void writeStatus(const DaemonStatus& status) const;
    void writeStatusText(const std::string& text) const;

    // Entry `position` of the menu, counted from 1 as the menu shows it.
    QAction* entry(int position) const;
    QAction* entryTitled(const QString& title) const;

    // The symbol whose image the status item shows, "" for no image, "?" for an image of none of them.
    QString shownSymbol() const;
    QString shownToolTip() const;

    // The fake restart program: records its arguments and where its output goes, then exits. With
    // holdChildren() it waits until releaseChildren().
    std::filesystem::path writeFakeChild() const;
    void holdChildren() const;
    void releaseChildren() const;
    // Once it has run, the child replaces the status file with this one, as a restarted daemon would.
    void childWritesStatus(const DaemonStatus& status) const;
    std::vector<ChildRecord> childRecords() const;
    int endedChildren() const;

    // Waits while processing events, up to a bound that only a failure reaches.
    static bool waitFor(const std::function<bool()>& condition);

    static DaemonStatus fullStatus(DaemonStatus::State state, const std::string& message);
    static DaemonStatus bareStatus(DaemonStatus::State state, const std::string& message);

    ScratchDirectory scratch;
    std::filesystem::path configDir;
    std::filesystem::path childDir;
    std::shared_ptr<FakeAlerts> alerts = std::make_shared<FakeAlerts>();
    std::shared_ptr<FakeOpener> opener = std::make_shared<FakeOpener>();
    std::shared_ptr<DenyingFileAccess> files = std::make_shared<DenyingFileAccess>();
    std::shared_ptr<FakeLoginItem> loginService = std::make_shared<FakeLoginItem>();
    std::shared_ptr<QSettings> settings;
    MenuBarServices services;
    std::unique_ptr<AppDelegate> delegate;

private:
    void endChildren() const;
};
