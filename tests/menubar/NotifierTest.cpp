// The app as shipped off a Mac, on a dbus-daemon of its own with a recording notification service in this
// process: a daemon that turns to error gives exactly one Notify call with the host and the message, escaped
// for a service that reads markup even when the service does not say whether it does.
#include "AppDelegate.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Called on the thread that made it, as every object of a connection is.
struct Recorder final : QDBusVirtualObject {
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (message.member() == "GetCapabilities") {
            return true; // a desktop too busy to answer within the caller's bound
        }
        QVariantList a = message.arguments();
        calls.push_back(a.value(0).toString() + "|" + a.value(3).toString() + "|" + a.value(4).toString());
        return bus.send(message.createReply(QVariant::fromValue(uint(calls.size()))));
    }
    std::vector<QString> calls;
};

TEST(NotifierTest, ADaemonTurningToErrorGivesOneNotifyCallWithTheHostAndTheMessage) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("korvane-notifier-" + std::to_string(::getpid()));
    ::setenv("KORVANE_CONFIG_DIR", dir.c_str(), 1);
    QProcess bus; // its destructor ends the daemon, by its pid
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(bus.waitForReadyRead(20000)) << "dbus-daemon (scripts/setup installs it)";
    const QByteArray address = bus.readLine().trimmed();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
    Recorder recorder;
    QDBusConnection service = QDBusConnection::connectToBus(address, "recorder");
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/Notifications", &recorder));
    ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));
    auto write = [&](DaemonStatus::State state, const std::string& message) {
        StatusFile(dir / "status.json").write({state, message, "home.example.org", {}, {}, {}, {}, "0.24.0"});
    };
    write(DaemonStatus::State::ok, "IP unverändert");
    {
        std::shared_ptr<LoginItemService> loginItem = LoginItem::mainAppService();
        std::shared_ptr<Notifying> notifier = Notifier::desktop();
        SystemDesktop desktop;
        QSettings settings;
        AppDelegate delegate(*loginItem, *notifier, desktop, settings);
        delegate.applicationDidFinishLaunching();
        write(DaemonStatus::State::error, "Abgelehnt: <b>badauth</b> & mehr");
        delegate.refresh();
        delegate.refresh();
        // Calls arrive in order: a second one for the error would come before this one's.
        write(DaemonStatus::State::ok, "IP unverändert");
        delegate.refresh();
        EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.calls.size() >= 2; }, 20000));
    }
    EXPECT_EQ(recorder.calls,
              (std::vector<QString>{"Korvane|home.example.org funktioniert nicht mehr|Abgelehnt: "
                                    "&lt;b&gt;badauth&lt;/b&gt; &amp; mehr",
                                    "Korvane|home.example.org funktioniert wieder|IP unverändert"}));
    QDBusConnection::disconnectFromBus("recorder");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("KORVANE_CONFIG_DIR");
    std::filesystem::remove_all(dir);
}

} // namespace
