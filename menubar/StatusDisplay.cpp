// The display rules of the status item: symbol and label per state, and the menu's information lines.
#include "StatusDisplay.hpp"

#include "status/AddressPair.hpp"
#include "status/Reachability.hpp"
#include "support/ControlCharacter.hpp"

#include <QDateTime>

namespace StatusDisplay {
namespace {

bool breaksTheLine(QChar c) {
    return ControlCharacter::is(c.unicode());
}

Lines linesForNoStatus() {
    Lines lines;
    lines.status = {QStringLiteral("Kein Daemon-Status gefunden"), true};
    lines.host = {QStringLiteral("Ist der Daemon installiert und gestartet?"), true};
    lines.reachability = {std::nullopt, false};
    lines.ip = {std::nullopt, false};
    lines.time = {std::nullopt, false};
    return lines;
}

Line ipLine(const DaemonStatus& status) {
    std::string addresses = AddressPair{status.lastIpv4, status.lastIpv6}.text();
    if (addresses.empty()) {
        return {QString(), false};
    }
    return {QStringLiteral("Zuletzt gepusht: ") + text(addresses), true};
}

Line reachabilityLine(const DaemonStatus& status) {
    if (!status.reachability || !ReachabilityText::unreachable(*status.reachability)) {
        return {QString(), false};
    }
    return {text(ReachabilityText::line(*status.reachability)), true};
}

} // namespace

QString TimeFormatter::format(std::chrono::system_clock::time_point time) const {
    auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    QDateTime local = QDateTime::fromMSecsSinceEpoch(milliseconds.count());
    return locale_.toString(local, QLocale::ShortFormat);
}

const TimeFormatter& TimeFormatter::shared() {
    static const TimeFormatter formatter(QLocale::system());
    return formatter;
}

QString oneLine(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text.at(i);
        if (!breaksTheLine(c)) {
            shown += c;
        } else if (i == 0 || !breaksTheLine(text.at(i - 1))) {
            shown += QLatin1Char(' ');
        }
    }
    return shown;
}

QString menuTitle(const QString& title) {
    return oneLine(title).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

Icon iconFor(const std::optional<DaemonStatus>& status) {
    if (!status) {
        return {QStringLiteral("questionmark.circle"), QStringLiteral("Korvane: kein Daemon-Status")};
    }
    switch (status->state) {
    case DaemonStatus::State::ok:
        return {QStringLiteral("globe"), QStringLiteral("Korvane: OK")};
    case DaemonStatus::State::warning:
        return {QStringLiteral("exclamationmark.triangle"), QStringLiteral("Korvane: Warnung")};
    case DaemonStatus::State::error:
        return {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("Korvane: Fehler")};
    case DaemonStatus::State::idle:
        return {QStringLiteral("globe.slash"), QStringLiteral("Korvane: nicht konfiguriert")};
    }
    return {fallbackSymbol, QStringLiteral("Korvane: kein Daemon-Status")};
}

Lines linesFor(const std::optional<DaemonStatus>& status, const TimeFormatter& formatter) {
    if (!status) {
        return linesForNoStatus();
    }
    Lines lines;
    lines.status = {text(status->message), true};
    lines.reachability = reachabilityLine(*status);
    // Presence is the only test: an empty host name still gives the visible line "Host: ".
    lines.host = status->hostname ? Line{QStringLiteral("Host: ") + text(*status->hostname), true}
                                  : Line{QString(), false};
    lines.ip = ipLine(*status);
    lines.time =
        status->lastSuccessAt
            ? Line{QStringLiteral("Zuletzt erfolgreich: ") + formatter.format(*status->lastSuccessAt), true}
            : Line{QString(), false};
    return lines;
}

} // namespace StatusDisplay
