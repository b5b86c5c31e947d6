// Elsewhere: the freedesktop notification service on the session bus, called directly (Qt's tray icon posts
// there only on a desktop that hosts status notifier items, and silently does nothing elsewhere).
#include "Notifier.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
constexpr int answerMilliseconds = 10000;

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"), service,
                                          method);
}

class FreedesktopNotifier final : public Notifying {
public:
    void post(const Notification& notification) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            return;
        }
        // A service that reads the body as markup gets it escaped, so that it shows the plain text it is.
        auto* asked = new QDBusPendingCallWatcher(
            bus.asyncCall(call(QStringLiteral("GetCapabilities")), answerMilliseconds));
        QObject::connect(
            asked, &QDBusPendingCallWatcher::finished, asked,
            [bus, notification](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                QDBusPendingReply<QStringList> capabilities = *answer;
                const bool markup =
                    !capabilities.isError() && capabilities.value().contains(QStringLiteral("body-markup"));
                QDBusMessage notify = call(QStringLiteral("Notify"));
                // The desktop entry lets the desktop's settings switch the app's notifications off.
                notify << QStringLiteral("Korvane") << 0U << QString() << notification.title
                       << (markup ? notification.body.toHtmlEscaped() : notification.body) << QStringList()
                       << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("korvane-menubar")}}
                       << -1;
                bus.send(notify);
            });
    }
};

} // namespace

namespace Notifier {

std::shared_ptr<Notifying> desktop() {
    return std::make_shared<FreedesktopNotifier>();
}

} // namespace Notifier
