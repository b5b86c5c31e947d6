// The display rules: symbol and label per state, the four lines, and the locale's short date and time.
#include "StatusDisplay.hpp"
#include "SymbolImages.hpp"

#include "support/Rfc3339.hpp"

#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>

namespace {

using State = DaemonStatus::State;
using StatusDisplay::Line;

DaemonStatus status(State state, std::string message) {
    return DaemonStatus{state,
                        std::move(message),
                        std::nullopt,
                        std::nullopt,
                        std::nullopt,
                        std::nullopt,
                        *Rfc3339::parse("2026-01-31T08:16:00Z"),
                        "0.24.0"};
}

const StatusDisplay::TimeFormatter german(QLocale(QLocale::German, QLocale::Germany));

TEST(StatusDisplay, IconAndLabelFollowOnlyTheState) {
    struct Case {
        std::optional<DaemonStatus> status;
        QString symbol;
        QString label;
    };
    DaemonStatus okWithOddMessage = status(State::ok, "Fehler beim letzten Mal");
    okWithOddMessage.lastSuccessAt = *Rfc3339::parse("1999-01-01T00:00:00Z");
    const std::vector<Case> cases = {
        {std::nullopt, "questionmark.circle", "Korvane: kein Daemon-Status"},
        {status(State::ok, "IP unverändert"), "globe", "Korvane: OK"},
        {okWithOddMessage, "globe", "Korvane: OK"},
        {status(State::warning, "Keine öffentliche IP"), "exclamationmark.triangle", "Korvane: Warnung"},
        {status(State::error, "Abgelehnt"), "exclamationmark.triangle.fill", "Korvane: Fehler"},
        {status(State::idle, "Keine Konfiguration"), "globe.slash", "Korvane: nicht konfiguriert"},
    };
    for (const Case& c : cases) {
        StatusDisplay::Icon icon = StatusDisplay::iconFor(c.status);
        EXPECT_EQ(icon.symbol, c.symbol) << c.label.toStdString();
        EXPECT_EQ(icon.label, c.label);
    }
}

TEST(StatusDisplay, LinesForEachShapeOfStatus) {
    struct Case {
        const char* name;
        std::optional<DaemonStatus> status;
        StatusDisplay::Lines lines;
    };
    DaemonStatus full = status(State::ok, "Aktualisiert auf 203.0.113.7");
    full.hostname = "home.example.org";
    full.lastIpv4 = "203.0.113.7";
    full.lastIpv6 = "2001:db8::7";
    full.lastSuccessAt = *Rfc3339::parse("2026-01-31T08:15:00Z");
    DaemonStatus onlyIpv6 = status(State::ok, "IPv6 unverändert");
    onlyIpv6.lastIpv6 = "2001:db8::7";
    DaemonStatus onlyIpv4 = status(State::warning, "Zeitüberschreitung");
    onlyIpv4.lastIpv4 = "198.51.100.1";
    DaemonStatus emptyTexts = status(State::ok, "");
    emptyTexts.hostname = "";
    emptyTexts.lastIpv4 = "";
    emptyTexts.lastIpv6 = "2001:db8::1";

    const std::vector<Case> cases = {
        {"no status",
         std::nullopt,
         {Line{"Kein Daemon-Status gefunden", true}, Line{"Ist der Daemon installiert und gestartet?", true},
          Line{std::nullopt, false}, Line{std::nullopt, false}}},
        {"idle with only a message",
         status(State::idle, "Keine gültige Konfiguration"),
         {Line{"Keine gültige Konfiguration", true}, Line{"", false}, Line{"", false}, Line{"", false}}},
        {"everything present",
         full,
         {Line{"Aktualisiert auf 203.0.113.7", true}, Line{"Host: home.example.org", true},
          Line{"Zuletzt gepusht: 203.0.113.7 / 2001:db8::7", true},
          Line{"Zuletzt erfolgreich: 31.01.26 08:15", true}}},
        {"only IPv6",
         onlyIpv6,
         {Line{"IPv6 unverändert", true}, Line{"", false}, Line{"Zuletzt gepusht: 2001:db8::7", true},
          Line{"", false}}},
        {"only IPv4",
         onlyIpv4,
         {Line{"Zeitüberschreitung", true}, Line{"", false}, Line{"Zuletzt gepusht: 198.51.100.1", true},
          Line{"", false}}},
        {"present but empty texts",
         emptyTexts,
         {Line{"", true}, Line{"Host: ", true}, Line{"Zuletzt gepusht:  / 2001:db8::1", true},
          Line{"", false}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StatusDisplay::linesFor(c.status, german), c.lines) << c.name;
    }
}

TEST(StatusDisplay, TimeUsesTheLocalesShortDateAndTime) {
    // The test process runs in UTC (see main.cpp).
    auto time = *Rfc3339::parse("2026-01-31T18:05:09Z");
    EXPECT_EQ(german.format(time), "31.01.26 18:05");
    QString american =
        StatusDisplay::TimeFormatter(QLocale(QLocale::English, QLocale::UnitedStates)).format(time);
    EXPECT_TRUE(american.startsWith("1/31/26, 6:05") || american.startsWith("1/31/26 6:05"))
        << american.toStdString();
    EXPECT_TRUE(american.endsWith("PM")) << american.toStdString();
}

TEST(StatusDisplay, SharedFormatterFollowsTheUsersLocale) {
    // main.cpp sets LC_ALL=de_DE.UTF-8 before Qt starts.
    EXPECT_EQ(StatusDisplay::TimeFormatter::shared().format(*Rfc3339::parse("2026-03-02T07:04:00Z")),
              "02.03.26 07:04");
    EXPECT_EQ(&StatusDisplay::TimeFormatter::shared(), &StatusDisplay::TimeFormatter::shared());
}

TEST(SymbolImages, EverySymbolOfTheDisplayHasItsOwnImage) {
    const QStringList symbols = {"globe", "globe.slash", "exclamationmark.triangle",
                                 "exclamationmark.triangle.fill", "questionmark.circle"};
    std::vector<QImage> images;
    for (const QString& symbol : symbols) {
        std::optional<QIcon> icon = SymbolImages::load(symbol);
        ASSERT_TRUE(icon.has_value()) << symbol.toStdString();
        QImage image = icon->pixmap(QSize(16, 16)).toImage();
        ASSERT_EQ(image.size(), QSize(16, 16));
        // Drawn, not blank: some pixels are covered, most of the square stays clear.
        int covered = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                covered += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
            }
        }
        EXPECT_GT(covered, 20) << symbol.toStdString();
        EXPECT_LT(covered, 16 * 16 - 20) << symbol.toStdString();
        for (const QImage& other : images) {
            EXPECT_NE(image, other) << symbol.toStdString() << " looks like another symbol";
        }
        images.push_back(image);
    }
}

TEST(SymbolImages, UnknownNameHasNoImage) {
    EXPECT_FALSE(SymbolImages::load("globe.fill").has_value());
    EXPECT_FALSE(SymbolImages::load("").has_value());
}

} // namespace
