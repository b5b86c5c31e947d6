// The menu-bar app's one delegate: the status icon, its menu, the periodic refresh from the daemon's status
// file, and the actions behind the menu entries.
#pragma once

#include "DesktopServices.hpp"
#include "LoginItem.hpp"
#include "NotificationRule.hpp"
#include "Notifier.hpp"
#include "StatusDisplay.hpp"
#include "config/ClientPaths.hpp"
#include "status/DnsCheckFile.hpp"
#include "status/StatusFile.hpp"

#include <QObject>
#include <QSettings>
#include <QString>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// The delegate's program, paths and timing, the product's by default; tests shorten and move them.
struct MenuBarOptions {
    QString bundlePath = LoginItem::bundlePath(); // the login item is offered only when this ends in ".app"
    // Runs the daemon's restart with an administrator's authorisation.
    std::string updateProgram = "/usr/bin/osascript";
    std::filesystem::path daemonLog{ClientPaths::daemonLog};
    std::chrono::milliseconds refreshInterval = std::chrono::seconds(5);
    std::chrono::milliseconds refreshDelayAfterUpdate =
        std::chrono::seconds(3); // after the restart program ended
    // The success time in the user's locale; tests fix their own, as a Mac ignores the environment's.
    StatusDisplay::TimeFormatter timeFormatter = StatusDisplay::TimeFormatter::shared();
};

class AppDelegate final : public QObject {
    Q_OBJECT

public:
    // The services, and `settings` (the app's user defaults), outlive the delegate. Resolves the status
    // file's location once, here.
    AppDelegate(LoginItemService& loginItem, Notifying& notifier, DesktopServices& desktop,
                QSettings& settings, MenuBarOptions options = {}, QObject* parent = nullptr);
    ~AppDelegate() override;

    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Builds the status item and its menu, registers the login item on first launch, refreshes once and
    // starts the refresh timer. Called once, after the event loop has started.
    void applicationDidFinishLaunching();

    // Loads the status file and dnscheck.json, shows what they hold and tells the user of what changed.
    void refresh();
    void updateIcon(const std::optional<DaemonStatus>& status);
    void updateLines(const std::optional<DaemonStatus>& status, const std::optional<DnsCheck>& dns);

    // The menu actions.
    void forceUpdate();
    void openLog();
    void registerLoginItemOnFirstLaunch();
    void toggleLoginItem();

    // The child program's arguments for a forced update.
    static std::vector<std::string> restartArguments();

    // Absent (null) until launch.
    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    QMenu* menu() const { return menu_.get(); }
    QTimer* timer() const { return timer_; }

Q_SIGNALS:
    // After every refresh, however it was caused.
    void refreshed();

private:
    class Mailbox;

    bool runsFromBundle() const;
    void showLoginItemState();

    LoginItemService& loginItemService_;
    Notifying& notifier_;
    DesktopServices& desktop_;
    QSettings& settings_;
    MenuBarOptions options_;
    // Declared before the status item, so the item that shows it is gone first.
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    QTimer* timer_ = nullptr;
    StatusFile statusFile_;
    DnsCheckFile dnsCheckFile_;
    QAction* statusLine_;
    QAction* dnsLine_;
    QAction* reachabilityLine_;
    QAction* hostLine_;
    QAction* ipLine_;
    QAction* timeLine_;
    QAction* loginItem_;
    std::optional<StatusDisplay::Icon> shownIcon_; // what the status item shows now
    NotificationRule notificationRule_;
    std::shared_ptr<Mailbox> mailbox_;
};
