// KorvaneMenuBar: one status icon in the menu bar, no window, no Dock icon (LSUIElement in the bundle).
#include "AppDelegate.hpp"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Korvane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("korvane.com"));
    QCoreApplication::setApplicationName(QStringLiteral("KorvaneMenuBar"));
    // The log alert is the only window the app ever shows; closing it must not end the app.
    application.setQuitOnLastWindowClosed(false);

    std::shared_ptr<LoginItemService> loginItem = LoginItem::mainAppService();
    std::shared_ptr<Notifying> notifier = Notifier::desktop();
    SystemDesktop desktop;
    QSettings settings;
    AppDelegate delegate(*loginItem, *notifier, desktop, settings);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return application.exec();
}
