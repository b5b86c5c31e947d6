// The notifications, their texts, and the spacing that keeps a flapping state from flooding the user.
#include "NotificationRule.hpp"

#include "DnsCheckDisplay.hpp"
#include "StatusDisplay.hpp"
#include "status/AddressPair.hpp"
#include "status/Reachability.hpp"

namespace {

using StatusDisplay::text;

QString hostOf(const DaemonStatus& status) {
    return status.hostname && !status.hostname->empty() ? text(*status.hostname) : QStringLiteral("Der Host");
}

// Every text reaches the desktop as one line, with no control character in it.
Notification notice(const QString& title, const QString& body) {
    return {StatusDisplay::oneLine(title), StatusDisplay::oneLine(body)};
}

bool outOfReach(const std::optional<Reachability>& verdict) {
    return verdict && ReachabilityText::unreachable(*verdict);
}

QString whyOutOfReach(Reachability verdict) {
    switch (verdict) {
    case Reachability::carrierNat:
        return QStringLiteral("Der Anbieter teilt seine IPv4-Adresse mit anderen Kunden (Carrier-NAT). "
                              "Abhilfe: beim Anbieter eine öffentliche IPv4-Adresse erfragen.");
    case Reachability::dsLite:
        return QStringLiteral("Der Anschluss hat keine eigene IPv4-Adresse (DS-Lite). "
                              "Abhilfe: beim Anbieter eine öffentliche IPv4-Adresse erfragen.");
    case Reachability::secondRouter:
        return QStringLiteral("Vor dem Router dieses Netzes steht ein zweiter Router. Abhilfe: im Router am "
                              "Internetanschluss eine Portweiterleitung zu diesem Router einrichten.");
    case Reachability::direct:
    case Reachability::forwardable:
    case Reachability::unknown:
        break;
    }
    return QString();
}

// Why no connection from outside arrives over IPv4, what the user can do, and what IPv6 offers instead.
QString outOfReachText(const DaemonStatus& status) {
    QString text = whyOutOfReach(*status.reachability);
    if (status.lastIpv6) {
        return text + QStringLiteral(" Die IPv6-Adresse ") + QString::fromStdString(*status.lastIpv6) +
               QStringLiteral(" ist davon nicht betroffen.");
    }
    return text + QStringLiteral(" Oder IPv6 einschalten (sudo korvane-client configure --ipv6), falls der "
                                 "Mac eine öffentliche IPv6-Adresse hat.");
}

} // namespace

std::vector<Notification> NotificationRule::observe(const std::optional<DaemonStatus>& status,
                                                    const std::optional<DnsCheck>& dns,
                                                    std::chrono::system_clock::time_point now) {
    const bool first = !launched_;
    launched_ = true;
    // Without a status nothing is known, and what the user was told still stands.
    if (!status) {
        return {};
    }
    // Without a configuration there is no host to speak of; a host configured later starts afresh.
    if (status->state == DaemonStatus::State::idle || status->hostname != host_) {
        forget();
        if (status->state == DaemonStatus::State::idle) {
            return {};
        }
        host_ = status->hostname;
    }
    const bool failing = status->state == DaemonStatus::State::error;
    const std::optional<DnsOutcome> outcome = dns ? std::optional(dns->outcome) : std::nullopt;
    if (first) {
        // What holds at launch is what the user sees in the menu bar.
        toldBroken_ = failing;
        toldMismatch_ = outcome == DnsOutcome::mismatch;
        toldUnreachable_ = outOfReach(status->reachability) ? status->reachability : std::nullopt;
        return {};
    }
    const QString host = hostOf(*status);
    std::vector<Notification> posted;
    if (failing && !toldBroken_ && mayPost(broken, now)) {
        toldBroken_ = true;
        posted.push_back(notice(host + QStringLiteral(" funktioniert nicht mehr"), text(status->message)));
    } else if (status->state == DaemonStatus::State::ok && toldBroken_ && mayPost(worksAgain, now)) {
        toldBroken_ = false;
        posted.push_back(notice(host + QStringLiteral(" funktioniert wieder"), text(status->message)));
    }
    if (outcome == DnsOutcome::mismatch && !toldMismatch_ && mayPost(mismatch, now)) {
        toldMismatch_ = true;
        std::string pushed = AddressPair{status->lastIpv4, status->lastIpv6}.text();
        posted.push_back(notice(host + QStringLiteral(": DNS zeigt woandershin"),
                                QStringLiteral("DNS zeigt ") + DnsCheckDisplay::servedText(*dns) +
                                    (pushed.empty() ? QString() : QStringLiteral(" statt ") + text(pushed))));
    } else if (outcome == DnsOutcome::confirmed && toldMismatch_ && mayPost(confirmedAgain, now)) {
        toldMismatch_ = false;
        posted.push_back(notice(host + QStringLiteral(": DNS wieder bestätigt"),
                                QStringLiteral("DNS zeigt wieder ") + DnsCheckDisplay::servedText(*dns)));
    }
    if (outOfReach(status->reachability) && status->reachability != toldUnreachable_ &&
        mayPost(unreachable, now)) {
        toldUnreachable_ = status->reachability;
        posted.push_back(
            notice(host + QStringLiteral(": über IPv4 von außen nicht erreichbar"), outOfReachText(*status)));
    } else if (status->reachability == Reachability::direct ||
               status->reachability == Reachability::forwardable) {
        toldUnreachable_.reset();
    }
    return posted;
}

bool NotificationRule::mayPost(Kind kind, std::chrono::system_clock::time_point now) {
    std::optional<std::chrono::system_clock::time_point>& last = posted_[kind];
    // A clock set back lets the next one through rather than holding every one back until it catches up.
    if (last && now >= *last && now - *last < spacing) {
        return false;
    }
    last = now;
    return true;
}

void NotificationRule::forget() {
    host_.reset();
    toldBroken_ = false;
    toldMismatch_ = false;
}
