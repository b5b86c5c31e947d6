// The app as shipped off a Mac, on a session bus of its own (dbus-daemon) with a recording notification
// service in this process: a daemon that turns to error gives exactly one Notify call, naming the host and
// carrying the message, escaped for a service that reads markup.
#include "AppDelegate.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>
#include <mutex>

namespace {

namespace fs = std::filesystem;
using State = DaemonStatus::State;

// Answers as a notification service that shows markup does; the bus may call it on a thread of its own.
class Recorder final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        std::lock_guard lock(mutex_);
        if (message.member() == "GetCapabilities") {
            return connection.send(message.createReply(QStringList{"body", "body-markup"}));
        }
        QVariantList a = message.arguments();
        calls_.push_back(a.value(0).toString() + "|" + a.value(3).toString() + "|" + a.value(4).toString());
        return connection.send(message.createReply(QVariant::fromValue(uint(calls_.size()))));
    }
    std::vector<QString> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<QString> calls_;
};

TEST(NotifierTest, ADaemonTurningToErrorGivesOneNotifyCallWithTheHostAndTheMessage) {
    const fs::path dir = fs::temp_directory_path() / ("korvane-notifier-" + std::to_string(::getpid()));
    ::setenv("KORVANE_CONFIG_DIR", dir.c_str(), 1);
    QProcess bus; // its destructor ends the daemon, by its pid, should an assertion end the test early
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(bus.waitForReadyRead(20000)) << "dbus-daemon (scripts/setup installs it)";
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8().constData(), 1);
    Recorder recorder;
    QDBusConnection service = QDBusConnection::connectToBus(address, "recorder");
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/Notifications", &recorder));
    ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));

    auto write = [&](State state, const std::string& message) {
        StatusFile(dir / "status.json").write({state, message, "home.example.org", {}, {}, {}, {}, "0.24.0"});
    };
    write(State::ok, "IP unverändert");
    {
        AppDelegate delegate(MenuBarServices::product());
        delegate.applicationDidFinishLaunching();
        write(State::error, "Abgelehnt: <b>badauth</b> & mehr");
        delegate.refresh();
        delegate.refresh();
        // Calls arrive in order: had the error given a second one, it would come before this one's.
        write(State::ok, "IP unverändert");
        delegate.refresh();
        EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.calls().size() >= 2; }, 20000));
    }
    EXPECT_EQ(recorder.calls(), (std::vector<QString>{"Korvane|home.example.org funktioniert nicht mehr|Abgelehnt: "
                                                      "&lt;b&gt;badauth&lt;/b&gt; &amp; mehr",
                                                      "Korvane|home.example.org funktioniert wieder|IP unverändert"}));
    QDBusConnection::disconnectFromBus("recorder");
    bus.terminate();
    bus.waitForFinished();
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("KORVANE_CONFIG_DIR");
    fs::remove_all(dir);
}

} // namespace
