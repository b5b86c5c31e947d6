// The real AppDelegate, offscreen, with fake desktop services: what it shows for each status file, and one
// test per menu action (forced update through a fake restart program, the log, the login item, quit).
#include "AppDelegate.hpp"
#include "SymbolImages.hpp"
#include "support/Rfc3339.hpp"

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QKeySequence>
#include <QMenu>
#include <QPixmap>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using State = DaemonStatus::State;

struct FakeDesktop final : DesktopServices, Notifying, LoginItemService {
    void warn(const QString& message, const QString& text) override {
        alerts.push_back(message + "|" + text);
    }
    void post(const Notification& n) override { notified.push_back(n.title + "|" + n.body); }
    void open(const QUrl& url) override { opened.push_back(url); }
    // The tests run as root, for whom file modes cannot make a file unreadable.
    bool isReadable(const fs::path& path) const override { return path != denied && real.isReadable(path); }
    bool exists(const fs::path& path) const override { return real.exists(path); }
    LoginItemStatus status() const override { return login; }
    bool registerItem() override {
        calls +=
            settings->value("didRegisterLoginItem").toBool() ? "R" : "r"; // remembered before registering?
        login = afterRegister;
        return login == LoginItemStatus::enabled;
    }
    bool unregisterItem() override {
        calls += "u";
        login = LoginItemStatus::notRegistered;
        return true;
    }

    std::vector<QString> alerts, notified;
    std::vector<QUrl> opened;
    SystemDesktop real;
    fs::path denied;
    LoginItemStatus login = LoginItemStatus::notRegistered, afterRegister = LoginItemStatus::enabled;
    std::string calls;
    std::shared_ptr<QSettings> settings;
};

const QStringList symbols = {"globe", "globe.slash", "exclamationmark.triangle",
                             "exclamationmark.triangle.fill", "questionmark.circle"};

QImage imageOf(const QIcon& icon) {
    return icon.pixmap(QSize(22, 22)).toImage();
}

std::string read(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

DaemonStatus status(State state, const std::string& message, bool full = true) {
    DaemonStatus s{state, message, {}, {}, {}, {}, *Rfc3339::parse("2026-01-31T08:16:00Z"), "0.24.0"};
    if (full) {
        s.hostname = "home.example.org";
        s.lastIpv4 = "203.0.113.7";
        s.lastIpv6 = "2001:db8::7";
        s.lastSuccessAt = *Rfc3339::parse("2026-01-31T08:15:00Z");
        s.reachability = Reachability::forwardable;
    }
    return s;
}

class AppDelegateTest : public ::testing::Test {
protected:
    AppDelegateTest() {
        fs::create_directories(configDir);
        ::setenv("KORVANE_CONFIG_DIR", configDir.c_str(), 1);
        desktop->settings = std::make_shared<QSettings>(
            QString::fromStdString((dir / "defaults.ini").string()), QSettings::IniFormat);
        // The restart program's stand-in records how it was started, may publish a status, and exits.
        std::ofstream(dir / "restart")
            << "#!/bin/sh\ntarget() { if [ -d /proc/$$/fd ]; then readlink /proc/$$/fd/$1;\n"
               "else lsof -a -p $$ -d $1 -Fn | sed -n 's/^n//p'; fi; }\n"
               "printf '%s|' \"$@\" \"$(target 1)\" \"$(target 2)\" >> \"$0.calls\"\n"
               "echo noise; echo noise >&2\n[ -e \"$0.json\" ] && mv \"$0.json\" "
               "\"$KORVANE_CONFIG_DIR/status.json\"\n"
               "exit 3\n";
        fs::permissions(dir / "restart", fs::perms::owner_all);
        options = {"/Applications/Korvane.app",
                   (dir / "restart").string(),
                   dir / "daemon.log",
                   1h,
                   20ms,
                   StatusDisplay::TimeFormatter(QLocale(QLocale::German, QLocale::Germany))};
    }

    ~AppDelegateTest() override {
        delegate.reset();
        ::unsetenv("KORVANE_CONFIG_DIR");
        fs::remove_all(dir);
    }

    void launch() {
        delegate = std::make_unique<AppDelegate>(*desktop, *desktop, *desktop, *desktop->settings, options);
        delegate->applicationDidFinishLaunching();
    }

    QAction* entry(const QString& title) const {
        for (QAction* action : delegate->menu()->actions()) {
            if (action->text() == title) {
                return action;
            }
        }
        throw std::runtime_error("no menu entry " + title.toStdString());
    }

    // Symbol, tooltip, the status line, the router's verdict and the other three information lines ("-"
    // before a hidden one's title); the DNS line (the second entry) has a test of its own.
    std::string shown() const {
        QString symbol = delegate->statusItem()->icon().isNull() ? "none" : "?";
        for (const QString& name : symbols) {
            if (imageOf(*SymbolImages::load(name)) == imageOf(delegate->statusItem()->icon())) {
                symbol = name;
            }
        }
        QString text = symbol + " | " + delegate->statusItem()->toolTip();
        for (int i : {0, 2, 3, 4, 5}) {
            QAction* line = delegate->menu()->actions().at(i);
            EXPECT_FALSE(line->isEnabled());
            text += " | " + QString(line->isVisible() ? "" : "-") + line->text();
        }
        return text.toStdString();
    }

    void write(const DaemonStatus& s) const { StatusFile(configDir / "status.json").write(s); }

    fs::path dir = fs::temp_directory_path() / ("korvane-menubar-" + std::to_string(::getpid()));
    fs::path configDir = dir / "config";
    std::shared_ptr<FakeDesktop> desktop = std::make_shared<FakeDesktop>();
    MenuBarOptions options;
    std::unique_ptr<AppDelegate> delegate;
};

// One delegate through a series of status files: the next tick shows each file's symbol, tooltip and lines.
TEST_F(AppDelegateTest, EachStatusFileIsShownAsItsIconTooltipAndLines) {
    DaemonStatus onlyIpv6 = status(State::ok, "IPv6 unverändert", false);
    onlyIpv6.lastIpv6 = "2001:db8::7";
    DaemonStatus emptyHost = status(State::warning, "Keine IPv4", false);
    emptyHost.hostname = "";
    DaemonStatus marked = status(State::warning, "Wartung & Umbau:\r\n\tab 22 Uhr");
    marked.hostname = "a&b.example";
    const std::string none =
        "questionmark.circle | Korvane: kein Daemon-Status | Kein Daemon-Status gefunden | - | "
        "Ist der Daemon installiert und gestartet? | -";
    // A verdict of a router that forwards is not shown.
    const std::string full = " | - | Host: home.example.org | Zuletzt gepusht: 203.0.113.7 / 2001:db8::7 | "
                             "Zuletzt erfolgreich: 31.01.26 08:15";
    // clang-format off
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] {}, none + " | -"},
        {[this] { write(status(State::ok, "IP unverändert")); }, "globe | Korvane: OK | IP unverändert" + full},
        {[this] { write(status(State::error, "Abgelehnt")); },
         "exclamationmark.triangle.fill | Korvane: Fehler | Abgelehnt" + full},
        // Without a status the address and time lines keep their last titles, hidden.
        {[this] { std::ofstream(configDir / "status.json") << R"({"state": "ok", )"; },
         none + "Zuletzt gepusht: 203.0.113.7 / 2001:db8::7 | -Zuletzt erfolgreich: 31.01.26 08:15"},
        {[this] { write(status(State::idle, "Keine Konfiguration", false)); },
         "globe.slash | Korvane: nicht konfiguriert | Keine Konfiguration | - | - | - | -"},
        {[&] { write(onlyIpv6); }, "globe | Korvane: OK | IPv6 unverändert | - | - | Zuletzt gepusht: 2001:db8::7 | -"},
        {[&] { write(emptyHost); }, "exclamationmark.triangle | Korvane: Warnung | Keine IPv4 | - | Host:  | - | -"},
        {[&] { write(marked); }, // "&&" shows one "&" rather than marking a mnemonic; a tab would open the shortcut column.
         "exclamationmark.triangle | Korvane: Warnung | Wartung && Umbau: ab 22 Uhr | - | Host: a&&b.example" + full.substr(full.find(" | Zuletzt"))},
        {[&] { onlyIpv6.reachability = Reachability::dsLite; write(onlyIpv6); },
         "globe | Korvane: OK | IPv6 unverändert | IPv4 von außen nicht erreichbar: DS-Lite, keine eigene IPv4-Adresse | - | Zuletzt gepusht: 2001:db8::7 | -"},
    };
    // clang-format on
    options.refreshInterval = 10ms;
    launch();
    for (const auto& [prepare, expected] : cases) {
        prepare();
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == expected; }, 20000)) << shown() << "\n"
                                                                                 << expected;
        EXPECT_TRUE(delegate->statusItem()->icon().isMask()) << "a template image";
    }
    // Of these changes only the error and the verdict that cannot be reached are notified (the rule has its
    // own test).
    EXPECT_EQ(
        desktop->notified,
        (std::vector<QString>{"home.example.org funktioniert nicht mehr|Abgelehnt",
                              "Der Host: über IPv4 von außen nicht erreichbar|Der Anschluss hat keine eigene "
                              "IPv4-Adresse (DS-Lite). Abhilfe: beim Anbieter eine öffentliche IPv4-Adresse "
                              "erfragen. Die IPv6-Adresse 2001:db8::7 ist davon nicht betroffen."}));
}

TEST_F(AppDelegateTest, TheDnsLineSaysWhatTheNameServersServeWhileADaemonWorks) {
    auto at = std::chrono::system_clock::from_time_t(
        QDateTime(QDate(2026, 1, 31), QTime(12, 4)).toSecsSinceEpoch());
    const std::string host = *status(State::ok, "").hostname;
    const std::pair<std::optional<DnsCheck>, std::string> cases[] = {
        {std::nullopt, "-"},
        {DnsCheck{host, DnsOutcome::confirmed, {"203.0.113.7"}, {}, at}, "DNS bestätigt 12:04"},
        {DnsCheck{host, DnsOutcome::pending, {"198.51.100.7", "2001:db8::9"}, {}, at},
         "DNS zeigt noch 198.51.100.7 / 2001:db8::9"},
        {DnsCheck{host, DnsOutcome::mismatch, {}, {}, at}, "DNS zeigt noch keine Adresse"},
        {DnsCheck{host, DnsOutcome::unknown, {}, {}, at}, "DNS nicht prüfbar"},
        {DnsCheck{"old.example.org", DnsOutcome::confirmed, {}, {}, at}, "-"}, // another host's outcome
    };
    launch();
    QAction* line = delegate->menu()->actions().at(1);
    for (const auto& [check, expected] : cases) {
        write(status(State::ok, "IP unverändert"));
        if (check) {
            DnsCheckFile(configDir / "dnscheck.json").write(*check);
        }
        delegate->refresh();
        EXPECT_EQ(QString(line->isVisible() ? "" : "-") + (line->isVisible() ? line->text() : ""),
                  QString::fromStdString(expected));
    }
    write(status(State::idle, "Keine Konfiguration", false));
    delegate->refresh();
    EXPECT_FALSE(line->isVisible());
    fs::remove(configDir / "status.json");
    delegate->refresh();
    EXPECT_FALSE(line->isVisible());
    EXPECT_EQ(desktop->notified,
              std::vector<QString>{"home.example.org: DNS zeigt woandershin|DNS zeigt keine "
                                   "Adresse statt 203.0.113.7 / 2001:db8::7"});
}

TEST_F(AppDelegateTest, TheIconIsSetOnlyWhenItChanges) {
    write(status(State::ok, "IP unverändert"));
    launch();
    qint64 shown = delegate->statusItem()->icon().cacheKey();
    write(status(State::ok, "IP wieder unverändert"));
    delegate->refresh();
    EXPECT_EQ(delegate->statusItem()->icon().cacheKey(), shown);
    write(status(State::error, "Abgelehnt"));
    delegate->refresh();
    EXPECT_NE(delegate->statusItem()->icon().cacheKey(), shown);
}

TEST_F(AppDelegateTest, ForceUpdateRunsTheRestartProgramQuietlyThenShowsWhatTheDaemonWrote) {
    write(status(State::ok, "IP unverändert"));
    launch();
    QSignalSpy refreshes(delegate.get(), &AppDelegate::refreshed);
    StatusFile(dir / "restart.json").write(status(State::error, "Abgelehnt"));
    entry("Jetzt aktualisieren")->trigger();
    EXPECT_EQ(refreshes.count(), 0) << "the selection returns at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return refreshes.count() == 1; }, 20000));
    EXPECT_EQ(read(dir / "restart.calls"),
              "-e|do shell script \"launchctl kickstart -k system/com.korvane.client\" "
              "with administrator privileges|/dev/null|/dev/null|");
    EXPECT_TRUE(shown().starts_with("exclamationmark.triangle.fill | Korvane: Fehler | Abgelehnt"));
    // A program that cannot start still gives the refresh.
    options.updateProgram = (dir / "missing").string();
    launch();
    QSignalSpy again(delegate.get(), &AppDelegate::refreshed);
    entry("Jetzt aktualisieren")->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return again.count() == 1; }, 20000));
}

TEST_F(AppDelegateTest, OpenLogOpensAReadableLogOrSaysWhatIsWrong) {
    const QString log = QString::fromStdString(options.daemonLog.string());
    launch();
    entry("Log öffnen")->trigger();
    std::ofstream(options.daemonLog) << "secret for root\n";
    desktop->denied = options.daemonLog;
    entry("Log öffnen")->trigger();
    desktop->denied.clear();
    entry("Log öffnen")->trigger();
    EXPECT_EQ(desktop->opened, std::vector<QUrl>{QUrl::fromLocalFile(log)});
    const QString unreadable = "Log nicht lesbar|";
    EXPECT_EQ(desktop->alerts,
              (std::vector<QString>{
                  unreadable + log +
                      " existiert (noch) nicht — läuft der Daemon? Prüfen mit: korvane-client status",
                  unreadable +
                      "Die Log-Datei existiert, ist aber für deinen Benutzer nicht lesbar. Meist stimmen die "
                      "Verzeichnisrechte nicht — im Terminal reparieren mit:\n\nsudo chmod 755 "
                      "/Library/Logs/RuzEdaRoredo"}));
}

TEST_F(AppDelegateTest, TheLoginItemIsRegisteredOnceFromABundleAndToggledAfterwards) {
    desktop->afterRegister = LoginItemStatus::requiresApproval;
    launch();
    launch();
    EXPECT_EQ(desktop->calls, "R") << "registered at the first launch only, remembered before";
    EXPECT_FALSE(entry("Bei Anmeldung starten")->isChecked()) << "only enabled counts";
    desktop->afterRegister = LoginItemStatus::enabled;
    entry("Bei Anmeldung starten")->trigger();
    EXPECT_TRUE(entry("Bei Anmeldung starten")->isChecked());
    entry("Bei Anmeldung starten")->trigger();
    EXPECT_FALSE(entry("Bei Anmeldung starten")->isChecked());
    EXPECT_EQ(desktop->calls, "RRu");
    for (const char* path :
         {"/usr/local/bin/KorvaneMenuBar", "/Applications/Korvane.app/Contents/MacOS", ""}) {
        options.bundlePath = path;
        desktop->settings->clear();
        launch();
        EXPECT_FALSE(entry("Bei Anmeldung starten")->isEnabled());
        delegate->toggleLoginItem();
    }
    EXPECT_EQ(desktop->calls, "RRu");
    EXPECT_FALSE(desktop->settings->contains("didRegisterLoginItem"));
}

TEST_F(AppDelegateTest, NoEntryGoesToAnApplicationMenuAndQuitEndsTheEventLoopStartingNothing) {
    launch();
    EXPECT_EQ(delegate->menu()->actions().size(), 13);
    for (QAction* action : delegate->menu()->actions()) {
        EXPECT_EQ(action->menuRole(), QAction::NoRole);
    }
    QAction* quit = entry("Statusanzeige beenden");
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    QTimer::singleShot(0, quit, &QAction::trigger);
    QObject guard;
    QTimer::singleShot(20000, &guard, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(fs::exists(dir / "restart.calls"));
    EXPECT_FALSE(fs::exists(configDir / "status.json"));
}

} // namespace
