// The menu-bar app's one delegate: the status icon, its menu, the periodic refresh from the daemon's status
// file, and the actions behind the menu entries.
#pragma once

#include "DesktopServices.hpp"
#include "LoginItem.hpp"
#include "NotificationRule.hpp"
#include "Notifier.hpp"
#include "StatusDisplay.hpp"
#include "SymbolImages.hpp"
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

// Every side effect of the delegate, passed in so tests can replace it. product() gives the real ones.
struct MenuBarServices {
    std::shared_ptr<LoginItemService> loginItem;
    QString bundlePath;                  // the login item is offered only when this ends in ".app"
    std::shared_ptr<QSettings> settings; // the app's user defaults
    std::shared_ptr<Alerting> alerts;
    std::shared_ptr<Notifying> notifier;
    std::shared_ptr<FileOpening> opener;
    std::shared_ptr<FileAccess> files;
    SymbolImages::Source symbols;
    std::string updateProgram; // runs the daemon's restart with an administrator's authorisation
    std::filesystem::path daemonLog;
    std::chrono::milliseconds refreshInterval{0};
    std::chrono::milliseconds refreshDelayAfterUpdate{0}; // after the restart program has ended
    // The success time in the user's locale; tests fix their own, as a Mac ignores the environment's.
    StatusDisplay::TimeFormatter timeFormatter = StatusDisplay::TimeFormatter::shared();

    static MenuBarServices product();
};

class AppDelegate final : public QObject {
    Q_OBJECT

public:
    // Resolves the status file's location once, here. Throws std::invalid_argument when a service is missing.
    explicit AppDelegate(MenuBarServices services, QObject* parent = nullptr);
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

    MenuBarServices services_;
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
