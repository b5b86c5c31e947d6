// The status item and its menu, the refresh from status.json and its notifications, and the four menu
// actions.
#include "AppDelegate.hpp"

#include "DnsCheckDisplay.hpp"
#include "StatusDisplay.hpp"
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
#include <stdexcept>
#include <system_error>
#include <thread>

namespace {

using namespace std::chrono_literals;

const QString didRegisterLoginItemKey = QStringLiteral("didRegisterLoginItem");

QString text(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

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

MenuBarServices MenuBarServices::product() {
    MenuBarServices services;
    services.loginItem = LoginItem::mainAppService();
    services.bundlePath = LoginItem::bundlePath();
    services.settings = std::make_shared<QSettings>();
    services.alerts = std::make_shared<MessageBoxAlerts>();
    services.notifier = Notifier::desktop();
    services.opener = std::make_shared<DesktopFileOpener>();
    services.files = std::make_shared<PosixFileAccess>();
    services.symbols = SymbolImages::load;
    services.updateProgram = "/usr/bin/osascript";
    services.daemonLog = std::filesystem::path(ClientPaths::daemonLog);
    services.refreshInterval = 5s;
    services.refreshDelayAfterUpdate = 3s;
    return services;
}

AppDelegate::AppDelegate(MenuBarServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)), statusFile_(ClientPaths::statusFile()),
      dnsCheckFile_(ClientPaths::dnsCheckFile()),
      statusLine_(informationLine(QStringLiteral("Status unbekannt"), this)),
      dnsLine_(informationLine(QString(), this)), reachabilityLine_(informationLine(QString(), this)),
      hostLine_(informationLine(QString(), this)), ipLine_(informationLine(QString(), this)),
      timeLine_(informationLine(QString(), this)),
      loginItem_(new QAction(QStringLiteral("Bei Anmeldung starten"), this)),
      mailbox_(std::make_shared<Mailbox>(this)) {
    if (!services_.loginItem || !services_.settings || !services_.alerts || !services_.notifier ||
        !services_.opener || !services_.files || !services_.symbols) {
        throw std::invalid_argument("AppDelegate: every service must be given");
    }
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
    timer_->setInterval(services_.refreshInterval);
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
        services_.notifier->post(notification);
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
    std::optional<QIcon> image = services_.symbols(icon.symbol);
    if (!image) {
        image = services_.symbols(StatusDisplay::fallbackSymbol);
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
    StatusDisplay::Lines lines = StatusDisplay::linesFor(status, services_.timeFormatter);
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
    std::string program = services_.updateProgram;
    std::vector<std::string> environment = Subprocess::currentEnvironment();
    std::shared_ptr<Mailbox> mailbox = mailbox_;
    std::chrono::milliseconds delay = services_.refreshDelayAfterUpdate;
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
    const std::filesystem::path& log = services_.daemonLog;
    if (services_.files->isReadable(log)) {
        services_.opener->open(QUrl::fromLocalFile(text(log)));
        return;
    }
    QString informative =
        services_.files->exists(log)
            ? QStringLiteral(
                  "Die Log-Datei existiert, ist aber für deinen Benutzer nicht lesbar. Meist stimmen "
                  "die Verzeichnisrechte nicht — im Terminal reparieren mit:\n\n"
                  "sudo chmod 755 /Library/Logs/RuzEdaRoredo")
            : text(log) +
                  QStringLiteral(
                      " existiert (noch) nicht — läuft der Daemon? Prüfen mit: korvane-client status");
    services_.alerts->warn(QStringLiteral("Log nicht lesbar"), informative);
}

bool AppDelegate::runsFromBundle() const {
    return services_.bundlePath.endsWith(QStringLiteral(".app"));
}

void AppDelegate::showLoginItemState() {
    loginItem_->setChecked(services_.loginItem->status() == LoginItemStatus::enabled);
}

void AppDelegate::registerLoginItemOnFirstLaunch() {
    if (!runsFromBundle()) {
        loginItem_->setEnabled(false);
        return;
    }
    if (!services_.settings->value(didRegisterLoginItemKey, false).toBool()) {
        // Set before trying, so a registration that fails or that the user undoes is never retried.
        services_.settings->setValue(didRegisterLoginItemKey, true);
        services_.settings->sync();
        (void)services_.loginItem->registerItem();
    }
    showLoginItemState();
}

void AppDelegate::toggleLoginItem() {
    if (!runsFromBundle()) {
        return;
    }
    if (services_.loginItem->status() == LoginItemStatus::enabled) {
        (void)services_.loginItem->unregisterItem();
    } else {
        (void)services_.loginItem->registerItem();
    }
    // The check mark shows what the system reports after the attempt, also when it failed.
    showLoginItemState();
}
