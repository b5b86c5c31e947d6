// The status item and its menu, the refresh from status.json and its notifications, and the four menu
// actions.
#include "AppDelegate.hpp"

#include "DnsCheckDisplay.hpp"
#include "StatusDisplay.hpp"
#include "SymbolImages.hpp"
#include "config/ClientPaths.hpp"
#include "support/Subprocess.hpp"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

const QString didRegisterLoginItemKey = QStringLiteral("didRegisterLoginItem");

void show(QAction* line, const StatusDisplay::Line& display) {
    if (display.title) {
        line->setText(StatusDisplay::menuTitle(*display.title));
    }
    line->setVisible(display.visible);
}

QAction* informationLine(const QString& title, QObject* owner) {
    auto* line = new QAction(title, owner);
    line->setEnabled(false);
    return line;
}

} // namespace

// Hands the refresh after a forced update from the waiting thread to the main thread. The delegate closes
// it when it goes away, so a late child never reaches a destroyed delegate.
class AppDelegate::Mailbox {
public:
    explicit Mailbox(AppDelegate* delegate) : delegate_(delegate) {}

    void close() {
        std::lock_guard lock(mutex_);
        delegate_ = nullptr;
    }

    // Any thread. The refresh runs on the main thread, `delay` after `childEnded`.
    void refreshAfter(std::chrono::steady_clock::time_point childEnded, std::chrono::milliseconds delay) {
        std::lock_guard lock(mutex_);
        if (delegate_ == nullptr) {
            return;
        }
        AppDelegate* delegate = delegate_;
        QMetaObject::invokeMethod(
            delegate,
            [delegate, childEnded, delay] {
                auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - childEnded);
                auto remaining = std::max(delay - waited, std::chrono::milliseconds(0));
                // The refresh holds the delegate only weakly: it is dropped if the delegate is gone.
                QPointer<AppDelegate> weak(delegate);
                QTimer::singleShot(remaining, delegate, [weak] {
                    if (weak) {
                        weak->refresh();
                    }
                });
            },
            Qt::QueuedConnection);
    }

private:
    std::mutex mutex_;
    AppDelegate* delegate_;
};

AppDelegate::AppDelegate(LoginItemService& loginItem, Notifying& notifier, DesktopServices& desktop,
                         QSettings& settings, MenuBarOptions options, QObject* parent)
    : QObject(parent), loginItemService_(loginItem), notifier_(notifier), desktop_(desktop),
      settings_(settings), options_(std::move(options)), statusFile_(ClientPaths::statusFile()),
      dnsCheckFile_(ClientPaths::dnsCheckFile()),
      statusLine_(informationLine(QStringLiteral("Status unbekannt"), this)),
      dnsLine_(informationLine(QString(), this)), reachabilityLine_(informationLine(QString(), this)),
      hostLine_(informationLine(QString(), this)), ipLine_(informationLine(QString(), this)),
      timeLine_(informationLine(QString(), this)),
      loginItem_(new QAction(QStringLiteral("Bei Anmeldung starten"), this)),
      mailbox_(std::make_shared<Mailbox>(this)) {
    loginItem_->setCheckable(true);
    connect(loginItem_, &QAction::triggered, this, &AppDelegate::toggleLoginItem);
}

AppDelegate::~AppDelegate() {
    mailbox_->close();
}

void AppDelegate::applicationDidFinishLaunching() {
    // Qt sizes the item to the bar itself; there is no behaviour to switch off.
    statusItem_ = std::make_unique<QSystemTrayIcon>();

    // Qt menus never enable entries on their own, so the enabled flags set here stay as set.
    menu_ = std::make_unique<QMenu>();
    menu_->setToolTipsVisible(true);
    menu_->addAction(statusLine_);
    menu_->addAction(dnsLine_);
    menu_->addAction(reachabilityLine_);
    menu_->addAction(hostLine_);
    menu_->addAction(ipLine_);
    menu_->addAction(timeLine_);
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("Jetzt aktualisieren"), this, &AppDelegate::forceUpdate);
    menu_->addAction(QStringLiteral("Log öffnen"), this, &AppDelegate::openLog);
    menu_->addSeparator();
    menu_->addAction(loginItem_);
    menu_->addSeparator();
    QAction* quit = menu_->addAction(QStringLiteral("Statusanzeige beenden"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q)); // Command-Q on macOS
    quit->setToolTip(QStringLiteral("Beendet nur das Menüleisten-Icon; der Update-Daemon läuft weiter."));
    connect(quit, &QAction::triggered, QCoreApplication::instance(), &QCoreApplication::quit);
    // On macOS Qt would move entries it takes for "Quit" or "Preferences" into the application menu,
    // which this app does not have.
    for (QAction* action : menu_->actions()) {
        action->setMenuRole(QAction::NoRole);
    }

    statusItem_->setContextMenu(menu_.get());

    registerLoginItemOnFirstLaunch();
    refresh();
    statusItem_->show();

    timer_ = new QTimer(this);
    timer_->setInterval(options_.refreshInterval);
    QPointer<AppDelegate> weak(this);
    connect(timer_, &QTimer::timeout, this, [weak] {
        if (weak) {
            weak->refresh();
        }
    });
    timer_->start();
}

void AppDelegate::refresh() {
    std::optional<DaemonStatus> status = statusFile_.load();
    // What the name servers said matters only while a working daemon asks them, and only for its host.
    const bool asking = status && status->state != DaemonStatus::State::idle;
    std::optional<DnsCheck> dns = asking ? dnsCheckFile_.load() : std::nullopt;
    if (dns && dns->hostname != status->hostname) {
        dns.reset();
    }
    updateIcon(status);
    updateLines(status, dns);
    for (const Notification& notification :
         notificationRule_.observe(status, dns, std::chrono::system_clock::now())) {
        notifier_.post(notification);
    }
    Q_EMIT refreshed();
}

void AppDelegate::updateIcon(const std::optional<DaemonStatus>& status) {
    if (!statusItem_) {
        return;
    }
    StatusDisplay::Icon icon = StatusDisplay::iconFor(status);
    // Desktops take every setting as a change and announce it, even with the same image.
    if (icon == shownIcon_) {
        return;
    }
    shownIcon_ = icon;
    std::optional<QIcon> image = SymbolImages::load(icon.symbol);
    if (!image) {
        image = SymbolImages::load(StatusDisplay::fallbackSymbol);
    }
    QIcon shown;
    if (image) {
        shown = *image;
        // A template image: drawn in the menu bar's own colour, for light and dark appearance.
        shown.setIsMask(true);
    }
    statusItem_->setIcon(shown);
    statusItem_->setToolTip(icon.label);
}

void AppDelegate::updateLines(const std::optional<DaemonStatus>& status, const std::optional<DnsCheck>& dns) {
    StatusDisplay::Lines lines = StatusDisplay::linesFor(status, options_.timeFormatter);
    show(statusLine_, lines.status);
    show(dnsLine_, DnsCheckDisplay::lineFor(dns));
    show(reachabilityLine_, lines.reachability);
    show(hostLine_, lines.host);
    show(ipLine_, lines.ip);
    show(timeLine_, lines.time);
}

std::vector<std::string> AppDelegate::restartArguments() {
    std::string script = "do shell script \"launchctl kickstart -k system/" +
                         std::string(ClientPaths::launchdLabel) + "\" with administrator privileges";
    return {"-e", script};
}

void AppDelegate::forceUpdate() {
    // Everything the waiting thread needs is copied here; it touches no user-interface object.
    std::string program = options_.updateProgram;
    std::vector<std::string> environment = Subprocess::currentEnvironment();
    std::shared_ptr<Mailbox> mailbox = mailbox_;
    std::chrono::milliseconds delay = options_.refreshDelayAfterUpdate;
    auto work = [program, environment, mailbox, delay] {
        Subprocess::Stdio stdio;
        stdio.output = Subprocess::Stream::nullDevice;
        stdio.error = Subprocess::Stream::nullDevice;
        // Success, a refused password and a cancelled dialog are treated alike: the status file tells.
        (void)Subprocess::run(program, restartArguments(), environment, stdio);
        mailbox->refreshAfter(std::chrono::steady_clock::now(), delay);
    };
    try {
        std::thread(work).detach();
    } catch (const std::system_error&) {
        // No thread, so no child: the refresh still follows, as for a child that could not start.
        mailbox->refreshAfter(std::chrono::steady_clock::now(), delay);
    }
}

void AppDelegate::openLog() {
    const std::filesystem::path& log = options_.daemonLog;
    if (desktop_.isReadable(log)) {
        desktop_.open(QUrl::fromLocalFile(StatusDisplay::text(log.string())));
        return;
    }
    QString informative =
        desktop_.exists(log)
            ? QStringLiteral(
                  "Die Log-Datei existiert, ist aber für deinen Benutzer nicht lesbar. Meist stimmen "
                  "die Verzeichnisrechte nicht — im Terminal reparieren mit:\n\nsudo chmod 755 ") +
                  StatusDisplay::text(std::filesystem::path(ClientPaths::daemonLog).parent_path().string())
            : StatusDisplay::text(log.string()) +
                  QStringLiteral(
                      " existiert (noch) nicht — läuft der Daemon? Prüfen mit: korvane-client status");
    desktop_.warn(QStringLiteral("Log nicht lesbar"), informative);
}

bool AppDelegate::runsFromBundle() const {
    return options_.bundlePath.endsWith(QStringLiteral(".app"));
}

void AppDelegate::showLoginItemState() {
    loginItem_->setChecked(loginItemService_.status() == LoginItemStatus::enabled);
}

void AppDelegate::registerLoginItemOnFirstLaunch() {
    if (!runsFromBundle()) {
        loginItem_->setEnabled(false);
        return;
    }
    if (!settings_.value(didRegisterLoginItemKey, false).toBool()) {
        // Set before trying, so a registration that fails or that the user undoes is never retried.
        settings_.setValue(didRegisterLoginItemKey, true);
        settings_.sync();
        (void)loginItemService_.registerItem();
    }
    showLoginItemState();
}

void AppDelegate::toggleLoginItem() {
    if (!runsFromBundle()) {
        return;
    }
    if (loginItemService_.status() == LoginItemStatus::enabled) {
        (void)loginItemService_.unregisterItem();
    } else {
        (void)loginItemService_.registerItem();
    }
    // The check mark shows what the system reports after the attempt, also when it failed.
    showLoginItemState();
}
