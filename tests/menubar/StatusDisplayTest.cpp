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

// The delegate tests cover every state and the usual shapes through real files; these are the rest.
TEST(StatusDisplay, NeitherMessageNorAgeChangesTheIcon) {
    DaemonStatus old = status(State::ok, "Fehler beim letzten Mal");
    old.lastSuccessAt = *Rfc3339::parse("1999-01-01T00:00:00Z");
    old.updatedAt = *Rfc3339::parse("1999-01-01T00:00:00Z");
    EXPECT_EQ(StatusDisplay::iconFor(old), (StatusDisplay::Icon{"globe", "Korvane: OK"}));
}

TEST(StatusDisplay, AddressLinesJoinWhatIsPresent) {
    DaemonStatus onlyIpv4 = status(State::warning, "Zeitüberschreitung");
    onlyIpv4.lastIpv4 = "198.51.100.1";
    EXPECT_EQ(StatusDisplay::linesFor(onlyIpv4, german).ip, (Line{"Zuletzt gepusht: 198.51.100.1", true}));

    // A present but empty address is joined like any other.
    DaemonStatus emptyIpv4 = status(State::ok, "");
    emptyIpv4.lastIpv4 = "";
    emptyIpv4.lastIpv6 = "2001:db8::1";
    StatusDisplay::Lines lines = StatusDisplay::linesFor(emptyIpv4, german);
    EXPECT_EQ(lines.ip, (Line{"Zuletzt gepusht:  / 2001:db8::1", true}));
    EXPECT_EQ(lines.status, (Line{"", true})) << "the message line is never hidden";
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
