// The AppDelegate test fixture: scratch directories, the fake restart program and readers of the display.
#include "MenuBarFixture.hpp"

#include "support/Rfc3339.hpp"

#include <QImage>
#include <QPixmap>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

using namespace std::chrono_literals;

const QStringList allSymbols = {"globe", "globe.slash", "exclamationmark.triangle",
                                "exclamationmark.triangle.fill", "questionmark.circle"};

QImage imageOf(const QIcon& icon) {
    return icon.pixmap(QSize(22, 22)).toImage();
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string trimmedLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    return line;
}

// "argc\n" then each argument followed by a NUL byte.
std::vector<std::string> parseArguments(const std::string& record) {
    std::size_t newline = record.find('\n');
    if (newline == std::string::npos) {
        return {};
    }
    std::vector<std::string> arguments;
    std::string rest = record.substr(newline + 1);
    std::size_t start = 0;
    for (std::size_t nul = rest.find('\0'); nul != std::string::npos; nul = rest.find('\0', start)) {
        arguments.push_back(rest.substr(start, nul - start));
        start = nul + 1;
    }
    EXPECT_EQ(std::to_string(arguments.size()), record.substr(0, newline));
    return arguments;
}

} // namespace

MenuBarTest::MenuBarTest() : configDir(scratch / "config"), childDir(scratch / "child") {
    std::filesystem::create_directories(configDir);
    std::filesystem::create_directories(childDir);
    ::setenv("KORVANE_CONFIG_DIR", configDir.c_str(), 1);
    settings = std::make_shared<QSettings>(QString::fromStdString((scratch / "defaults.ini").string()),
                                           QSettings::IniFormat);
    services.loginItem = loginService;
    services.bundlePath = QStringLiteral("/Applications/Korvane.app");
    services.settings = settings;
    services.alerts = alerts;
    services.opener = opener;
    services.files = files;
    services.symbols = SymbolImages::load;
    services.updateProgram = writeFakeChild().string();
    services.daemonLog = scratch / "daemon.log";
    // Long enough that no tick comes between the steps of a test, unless a test asks for ticks.
    services.refreshInterval = std::chrono::hours(1);
    services.refreshDelayAfterUpdate = 20ms;
}

MenuBarTest::~MenuBarTest() {
    delegate.reset();
    endChildren();
    ::unsetenv("KORVANE_CONFIG_DIR");
}

AppDelegate& MenuBarTest::launch() {
    delegate = std::make_unique<AppDelegate>(services);
    delegate->applicationDidFinishLaunching();
    return *delegate;
}

void MenuBarTest::writeStatus(const DaemonStatus& status) const {
    StatusFile(statusPath()).write(status);
    ASSERT_EQ(StatusFile(statusPath()).load(), status) << "the status file was not written";
}

void MenuBarTest::writeStatusText(const std::string& text) const {
    std::ofstream(statusPath(), std::ios::binary | std::ios::trunc) << text;
}

QAction* MenuBarTest::entry(int position) const {
    QList<QAction*> actions = delegate->menu()->actions();
    if (position < 1 || position > actions.size()) {
        ADD_FAILURE() << "the menu has no entry " << position;
        return nullptr;
    }
    return actions.at(position - 1);
}

QAction* MenuBarTest::entryTitled(const QString& title) const {
    for (QAction* action : delegate->menu()->actions()) {
        if (action->text() == title) {
            return action;
        }
    }
    ADD_FAILURE() << "the menu has no entry " << title.toStdString();
    return nullptr;
}

QString MenuBarTest::shownSymbol() const {
    QIcon icon = delegate->statusItem()->icon();
    if (icon.isNull()) {
        return QString();
    }
    QImage shown = imageOf(icon);
    for (const QString& symbol : allSymbols) {
        if (imageOf(*SymbolImages::load(symbol)) == shown) {
            return symbol;
        }
    }
    return QStringLiteral("?");
}

QString MenuBarTest::shownToolTip() const {
    return delegate->statusItem()->toolTip();
}

std::filesystem::path MenuBarTest::writeFakeChild() const {
    std::filesystem::path script = childDir / "restart-program";
    std::ofstream(script) << R"(#!/bin/sh
# Stands in for the restart program: records how it was started, then exits.
here=$(dirname "$0")
echo $$ >> "$here/pids"
if [ -e "$here/hold" ]; then
    n=0
    while [ ! -e "$here/release" ] && [ $n -lt 3000 ]; do sleep 0.01; n=$((n + 1)); done
fi
{ printf '%s\n' "$#"; for a in "$@"; do printf '%s\0' "$a"; done; } > "$here/argv.$$.part"
target() { if [ -d /proc/$$/fd ]; then readlink "/proc/$$/fd/$1"; else lsof -a -p $$ -d "$1" -Fn | sed -n 's/^n//p'; fi; }
stdout_target=$(target 1)
stderr_target=$(target 2)
printf '%s\n' "$stdout_target" > "$here/stdout.$$"
printf '%s\n' "$stderr_target" > "$here/stderr.$$"
echo "output the app must not see"
echo "errors the app must not see" >&2
if [ -e "$here/next-status.json" ]; then
    cp "$here/next-status.json" "$KORVANE_CONFIG_DIR/status.json.part"
    mv "$KORVANE_CONFIG_DIR/status.json.part" "$KORVANE_CONFIG_DIR/status.json"
fi
mv "$here/argv.$$.part" "$here/argv.$$"
echo $$ >> "$here/ended"
exit 3
)";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    return script;
}

void MenuBarTest::holdChildren() const {
    std::ofstream(childDir / "hold") << "";
}

void MenuBarTest::releaseChildren() const {
    std::ofstream(childDir / "release") << "";
}

void MenuBarTest::childWritesStatus(const DaemonStatus& status) const {
    std::ofstream(childDir / "next-status.json", std::ios::binary) << StatusFile::encode(status);
}

std::vector<ChildRecord> MenuBarTest::childRecords() const {
    std::vector<ChildRecord> records;
    for (const auto& file : std::filesystem::directory_iterator(childDir)) {
        std::string name = file.path().filename().string();
        if (name.rfind("argv.", 0) != 0 || file.path().extension() == ".part") {
            continue;
        }
        std::string pid = name.substr(5);
        ChildRecord record;
        record.arguments = parseArguments(readFile(file.path()));
        record.stdoutTarget = trimmedLine(readFile(childDir / ("stdout." + pid)));
        record.stderrTarget = trimmedLine(readFile(childDir / ("stderr." + pid)));
        records.push_back(record);
    }
    return records;
}

int MenuBarTest::endedChildren() const {
    std::istringstream ended(readFile(childDir / "ended"));
    return static_cast<int>(
        std::distance(std::istream_iterator<std::string>(ended), std::istream_iterator<std::string>()));
}

void MenuBarTest::endChildren() const {
    std::istringstream started(readFile(childDir / "pids"));
    std::string ended = readFile(childDir / "ended");
    for (std::string pid; started >> pid;) {
        if (ended.find(pid + "\n") == std::string::npos) {
            ::kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
        }
    }
}

bool MenuBarTest::waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 20000);
}

DaemonStatus MenuBarTest::fullStatus(DaemonStatus::State state, const std::string& message) {
    DaemonStatus status = bareStatus(state, message);
    status.hostname = "home.example.org";
    status.lastIpv4 = "203.0.113.7";
    status.lastIpv6 = "2001:db8::7";
    status.lastSuccessAt = *Rfc3339::parse("2026-01-31T08:15:00Z");
    return status;
}

DaemonStatus MenuBarTest::bareStatus(DaemonStatus::State state, const std::string& message) {
    return DaemonStatus{state,
                        message,
                        std::nullopt,
                        std::nullopt,
                        std::nullopt,
                        std::nullopt,
                        *Rfc3339::parse("2026-01-31T08:16:00Z"),
                        "0.24.0"};
}
