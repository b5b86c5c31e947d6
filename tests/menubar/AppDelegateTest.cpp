// The real AppDelegate, offscreen: its menu, and what the icon, tooltip and lines show for status files.
#include "MenuBarFixture.hpp"

#include "config/ClientPaths.hpp"

#include <QApplication>
#include <QKeySequence>
#include <QTimer>
#include <cstdlib>

namespace {

using namespace std::chrono_literals;
using State = DaemonStatus::State;

struct ShownLine {
    QString title;
    bool visible;

    bool operator==(const ShownLine&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ShownLine& line) {
    return out << '"' << line.title.toStdString() << '"' << (line.visible ? " shown" : " hidden");
}

class AppDelegateTest : public MenuBarTest {
protected:
    ShownLine line(int position) const { return {entry(position)->text(), entry(position)->isVisible()}; }

    void expectLines(const std::vector<ShownLine>& expected) const {
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(line(i + 1), expected[static_cast<std::size_t>(i)]) << "line " << i + 1;
        }
    }
};

TEST_F(AppDelegateTest, NothingExistsBeforeLaunch) {
    AppDelegate unlaunched(services);
    EXPECT_EQ(unlaunched.statusItem(), nullptr);
    EXPECT_EQ(unlaunched.menu(), nullptr);
    EXPECT_EQ(unlaunched.timer(), nullptr);
}

TEST_F(AppDelegateTest, MenuHasTheElevenEntriesInOrder) {
    launch();
    struct Expected {
        QString title; // empty for a separator
        bool enabled;
    };
    const std::vector<Expected> expected = {
        {"Kein Daemon-Status gefunden", false},
        {"Ist der Daemon installiert und gestartet?", false},
        {"", false},
        {"", false},
        {"", true},
        {"Jetzt aktualisieren", true},
        {"Log öffnen", true},
        {"", true},
        {"Bei Anmeldung starten", true},
        {"", true},
        {"Statusanzeige beenden", true},
    };
    QList<QAction*> actions = delegate->menu()->actions();
    ASSERT_EQ(actions.size(), 11);
    const std::vector<int> separators = {5, 8, 10};
    for (int position = 1; position <= 11; ++position) {
        QAction* action = actions.at(position - 1);
        const Expected& want = expected[static_cast<std::size_t>(position - 1)];
        bool separator = std::find(separators.begin(), separators.end(), position) != separators.end();
        EXPECT_EQ(action->isSeparator(), separator) << "entry " << position;
        EXPECT_EQ(action->text(), want.title) << "entry " << position;
        if (!separator) {
            EXPECT_EQ(action->isEnabled(), want.enabled) << "entry " << position;
        }
        if (position != 11) {
            EXPECT_TRUE(action->shortcut().isEmpty()) << "entry " << position;
        }
        // Every entry stays in this menu; none is moved to an application menu.
        EXPECT_EQ(action->menuRole(), QAction::NoRole) << "entry " << position;
    }
    QAction* quit = actions.at(10);
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(quit->toolTip(), "Beendet nur das Menüleisten-Icon; der Update-Daemon läuft weiter.");
    EXPECT_TRUE(delegate->menu()->toolTipsVisible());
    EXPECT_EQ(delegate->statusItem()->contextMenu(), delegate->menu());
}

TEST_F(AppDelegateTest, InformationLinesStayDisabledThroughRefreshes) {
    writeStatus(fullStatus(State::ok, "IP unverändert"));
    launch();
    delegate->refresh();
    writeStatusText("{");
    delegate->refresh();
    for (int position = 1; position <= 4; ++position) {
        EXPECT_FALSE(entry(position)->isEnabled()) << "line " << position;
    }
}

TEST_F(AppDelegateTest, EachStatusFileIsShownAsItsIconTooltipAndLines) {
    DaemonStatus onlyIpv6 = bareStatus(State::ok, "IPv6 unverändert");
    onlyIpv6.lastIpv6 = "2001:db8::7";
    DaemonStatus emptyHost = bareStatus(State::warning, "Keine öffentliche IPv4-Adresse");
    emptyHost.hostname = "";

    struct Case {
        const char* name;
        std::function<void()> prepare;
        QString symbol;
        QString toolTip;
        std::vector<ShownLine> lines;
    };
    const std::vector<Case> cases = {
        {"no file",
         [] {},
         "questionmark.circle",
         "Korvane: kein Daemon-Status",
         {{"Kein Daemon-Status gefunden", true},
          {"Ist der Daemon installiert und gestartet?", true},
          {"", false},
          {"", false}}},
        {"invalid JSON",
         [this] { writeStatusText("{\"state\": \"ok\", "); },
         "questionmark.circle",
         "Korvane: kein Daemon-Status",
         {{"Kein Daemon-Status gefunden", true},
          {"Ist der Daemon installiert und gestartet?", true},
          {"", false},
          {"", false}}},
        {"ok with everything",
         [this] { writeStatus(fullStatus(State::ok, "IP unverändert (203.0.113.7)")); },
         "globe",
         "Korvane: OK",
         {{"IP unverändert (203.0.113.7)", true},
          {"Host: home.example.org", true},
          {"Zuletzt gepusht: 203.0.113.7 / 2001:db8::7", true},
          {"Zuletzt erfolgreich: 31.01.26 08:15", true}}},
        {"warning",
         [this] { writeStatus(fullStatus(State::warning, "Zeitüberschreitung")); },
         "exclamationmark.triangle",
         "Korvane: Warnung",
         {{"Zeitüberschreitung", true},
          {"Host: home.example.org", true},
          {"Zuletzt gepusht: 203.0.113.7 / 2001:db8::7", true},
          {"Zuletzt erfolgreich: 31.01.26 08:15", true}}},
        {"error",
         [this] { writeStatus(fullStatus(State::error, "Zugangsdaten abgelehnt")); },
         "exclamationmark.triangle.fill",
         "Korvane: Fehler",
         {{"Zugangsdaten abgelehnt", true},
          {"Host: home.example.org", true},
          {"Zuletzt gepusht: 203.0.113.7 / 2001:db8::7", true},
          {"Zuletzt erfolgreich: 31.01.26 08:15", true}}},
        {"idle with only a message",
         [this] { writeStatus(bareStatus(State::idle, "Keine Konfiguration gefunden")); },
         "globe.slash",
         "Korvane: nicht konfiguriert",
         {{"Keine Konfiguration gefunden", true}, {"", false}, {"", false}, {"", false}}},
        {"only IPv6",
         [this, onlyIpv6] { writeStatus(onlyIpv6); },
         "globe",
         "Korvane: OK",
         {{"IPv6 unverändert", true}, {"", false}, {"Zuletzt gepusht: 2001:db8::7", true}, {"", false}}},
        {"present but empty host name",
         [this, emptyHost] { writeStatus(emptyHost); },
         "exclamationmark.triangle",
         "Korvane: Warnung",
         {{"Keine öffentliche IPv4-Adresse", true}, {"Host: ", true}, {"", false}, {"", false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(statusPath());
        c.prepare();
        launch();
        EXPECT_EQ(shownSymbol(), c.symbol);
        EXPECT_EQ(shownToolTip(), c.toolTip);
        expectLines(c.lines);
    }
}

TEST_F(AppDelegateTest, LinesHideAgainAfterAFullerStatus) {
    writeStatus(fullStatus(State::ok, "Aktualisiert"));
    launch();
    expectLines({{"Aktualisiert", true},
                 {"Host: home.example.org", true},
                 {"Zuletzt gepusht: 203.0.113.7 / 2001:db8::7", true},
                 {"Zuletzt erfolgreich: 31.01.26 08:15", true}});

    writeStatus(bareStatus(State::idle, "Konfiguration entfernt"));
    delegate->refresh();
    EXPECT_EQ(shownSymbol(), "globe.slash");
    expectLines({{"Konfiguration entfernt", true}, {"", false}, {"", false}, {"", false}});

    // Without a status the address and time lines keep their last titles, hidden.
    writeStatus(fullStatus(State::ok, "Aktualisiert"));
    delegate->refresh();
    std::filesystem::remove(statusPath());
    delegate->refresh();
    expectLines({{"Kein Daemon-Status gefunden", true},
                 {"Ist der Daemon installiert und gestartet?", true},
                 {"Zuletzt gepusht: 203.0.113.7 / 2001:db8::7", false},
                 {"Zuletzt erfolgreich: 31.01.26 08:15", false}});
}

TEST_F(AppDelegateTest, TheNextTickShowsAChangedStatusFile) {
    services.refreshInterval = 10ms;
    writeStatus(fullStatus(State::ok, "IP unverändert"));
    launch();
    EXPECT_EQ(delegate->timer()->interval(), 10);
    EXPECT_TRUE(delegate->timer()->isActive());
    EXPECT_FALSE(delegate->timer()->isSingleShot());
    ASSERT_EQ(shownSymbol(), "globe");

    writeStatus(fullStatus(State::error, "Host gesperrt"));
    ASSERT_TRUE(waitFor([this] { return shownToolTip() == "Korvane: Fehler"; }));
    EXPECT_EQ(shownSymbol(), "exclamationmark.triangle.fill");
    EXPECT_EQ(entry(1)->text(), "Host gesperrt");

    // The display recovers by itself from a damaged file, and ticks keep coming.
    writeStatusText("not json");
    ASSERT_TRUE(waitFor([this] { return shownSymbol() == "questionmark.circle"; }));
    writeStatus(bareStatus(State::warning, "Keine öffentliche IP"));
    ASSERT_TRUE(waitFor([this] { return shownSymbol() == "exclamationmark.triangle"; }));
}

TEST_F(AppDelegateTest, TheStatusFileIsTheOneOfTheConfigurationDirectoryAtConstruction) {
    writeStatus(fullStatus(State::ok, "IP unverändert"));
    delegate = std::make_unique<AppDelegate>(services);

    std::filesystem::path elsewhere = scratch / "elsewhere";
    std::filesystem::create_directories(elsewhere);
    StatusFile(elsewhere / "status.json").write(fullStatus(State::error, "anderswo"));
    ::setenv("KORVANE_CONFIG_DIR", elsewhere.c_str(), 1);

    delegate->applicationDidFinishLaunching();
    delegate->refresh();
    EXPECT_EQ(shownToolTip(), "Korvane: OK");
    EXPECT_EQ(entry(1)->text(), "IP unverändert");
}

TEST_F(AppDelegateTest, AMissingSymbolFallsBackToTheQuestionMarkThenToNoImage) {
    std::vector<QString> asked;
    services.symbols = [&asked](const QString& name) -> std::optional<QIcon> {
        asked.push_back(name);
        return name == "globe" ? std::nullopt : SymbolImages::load(name);
    };
    writeStatus(fullStatus(State::ok, "IP unverändert"));
    launch();
    EXPECT_EQ(shownSymbol(), "questionmark.circle");
    EXPECT_EQ(shownToolTip(), "Korvane: OK");
    EXPECT_EQ(asked, (std::vector<QString>{"globe", "questionmark.circle"}));

    services.symbols = [](const QString&) -> std::optional<QIcon> { return std::nullopt; };
    launch();
    EXPECT_TRUE(delegate->statusItem()->icon().isNull());
    EXPECT_EQ(shownToolTip(), "Korvane: OK");
}

TEST_F(AppDelegateTest, TheIconIsATemplateImage) {
    writeStatus(fullStatus(State::warning, "Zeitüberschreitung"));
    launch();
    EXPECT_TRUE(delegate->statusItem()->icon().isMask());
}

TEST_F(AppDelegateTest, QuitEndsTheEventLoopAndStartsNothing) {
    launch();
    QAction* quit = entry(11);
    QTimer::singleShot(0, quit, &QAction::trigger);
    // Only reached when quitting does not work; the guard cancels it otherwise.
    QObject guard;
    QTimer::singleShot(20000, &guard, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(childRecords().empty());
    EXPECT_EQ(StatusFile(statusPath()).load(), std::nullopt) << "quitting must not write a status";
}

TEST(MenuBarServices, ProductValues) {
    MenuBarServices product = MenuBarServices::product();
    EXPECT_EQ(product.updateProgram, "/usr/bin/osascript");
    EXPECT_EQ(product.daemonLog, std::filesystem::path("/Library/Logs/RuzEdaRoredo/daemon.log"));
    EXPECT_EQ(product.refreshInterval, 5s);
    EXPECT_EQ(product.refreshDelayAfterUpdate, 3s);
    // There are no application bundles here, so the login item is never offered.
    EXPECT_FALSE(product.bundlePath.endsWith(".app")) << product.bundlePath.toStdString();
    EXPECT_EQ(product.loginItem->status(), LoginItemStatus::notFound);
}

} // namespace
