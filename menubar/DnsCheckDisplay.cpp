#include "DnsCheckDisplay.hpp"

#include <QDateTime>
#include <QStringList>

namespace DnsCheckDisplay {

StatusDisplay::Line lineFor(const std::optional<DnsCheck>& check,
                            const std::optional<std::string>& hostname) {
    if (!check || check->hostname != hostname) {
        return {QString(), false};
    }
    switch (check->outcome) {
    case DnsOutcome::confirmed: {
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(check->checkedAt.time_since_epoch());
        return {QStringLiteral("DNS bestätigt ") +
                    QDateTime::fromSecsSinceEpoch(seconds.count()).toString(QStringLiteral("HH:mm")),
                true};
    }
    case DnsOutcome::pending:
    case DnsOutcome::mismatch: {
        QStringList served;
        for (const std::string& address : check->served) {
            served.append(QString::fromStdString(address));
        }
        return {QStringLiteral("DNS zeigt noch ") +
                    (served.isEmpty() ? QStringLiteral("keine Adresse") : served.join(QStringLiteral(" / "))),
                true};
    }
    case DnsOutcome::unknown:
        break;
    }
    return {QStringLiteral("DNS nicht prüfbar"), true};
}

} // namespace DnsCheckDisplay
