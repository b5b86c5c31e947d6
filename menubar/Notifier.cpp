// Elsewhere: the freedesktop notification service on the session bus, called directly (Qt's tray icon posts
// there only on a desktop that hosts status notifier items, and silently does nothing elsewhere).
#include "Notifier.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");

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
        QDBusMessage notify = call(QStringLiteral("Notify"));
        // Escaped always, without first asking whether the service reads markup (a busy desktop answers
        // late): a service that does not is to strip markup from the body, so escaped text shows as the plain
        // text it is on both. The desktop entry lets the desktop's settings switch the app's notifications
        // off.
        notify << QStringLiteral("Korvane") << 0U << QString() << notification.title
               << notification.body.toHtmlEscaped() << QStringList()
               << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("korvane-menubar")}} << -1;
        bus.send(notify);
    }
};

} // namespace

namespace Notifier {

std::shared_ptr<Notifying> desktop() {
    return std::make_shared<FreedesktopNotifier>();
}

} // namespace Notifier
