// What the menu-bar icon, its tooltip and the information lines show for a daemon status, or for none.
// Plain values, so the display rules can be checked without a menu bar.
#pragma once

#include "status/StatusFile.hpp"

#include <QLocale>
#include <QString>
#include <chrono>
#include <optional>
#include <string>

namespace StatusDisplay {

// Shown when the symbol for a state cannot be drawn.
inline const QString fallbackSymbol = QStringLiteral("questionmark.circle");

struct Icon {
    QString symbol; // the symbol name asked for first
    QString label;  // accessibility description and tooltip

    bool operator==(const Icon&) const = default;
};

// One information line of the menu: the title to set (nothing leaves the current title) and its visibility.
struct Line {
    std::optional<QString> title;
    bool visible = false;

    bool operator==(const Line&) const = default;
};

struct Lines {
    Line status;
    // Only when the published IPv4 cannot reach this Mac; what is reachable or unknown is not worth a line.
    Line reachability;
    Line host;
    Line ip;
    Line time;

    bool operator==(const Lines&) const = default;
};

// The short date style and short time style of a locale, in the local time zone.
class TimeFormatter {
public:
    explicit TimeFormatter(QLocale locale) : locale_(std::move(locale)) {}

    QString format(std::chrono::system_clock::time_point time) const;

    // The user's locale, made once on first use and reused for every refresh.
    static const TimeFormatter& shared();

private:
    QLocale locale_;
};

// UTF-8 bytes (a status file's, a path's) as Qt holds them.
inline QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// A text as one line shows it: each run of line breaks, tabs and other control characters (which would
// break the line or open a menu's shortcut column) becomes one space.
QString oneLine(const QString& text);

// A title as one menu entry shows it: one line, and "&" doubled so that it is shown instead of being taken
// for a keyboard mnemonic.
QString menuTitle(const QString& title);

// Only the state decides the icon; the message and the age of the status play no part.
Icon iconFor(const std::optional<DaemonStatus>& status);

Lines linesFor(const std::optional<DaemonStatus>& status, const TimeFormatter& formatter);

} // namespace StatusDisplay
