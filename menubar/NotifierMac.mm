// macOS: the Notification Center through the User Notifications framework. The system asks the user whether
// the app may show alerts at its first notification, and only then; later requests report the answer.
#include "Notifier.hpp"

#include "StatusDisplay.hpp"

#include <QDebug>
#include <QString>
#include <atomic>

#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

// Shows a notification as a banner also while the app happens to be the active one (after its alert), which
// the system would otherwise only list in the Notification Center.
@interface KorvaneNotificationPresenter : NSObject <UNUserNotificationCenterDelegate>
@end

@implementation KorvaneNotificationPresenter
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
       willPresentNotification:(UNNotification*)notification
         withCompletionHandler:(void (^)(UNNotificationPresentationOptions options))completionHandler {
    (void)center;
    (void)notification;
    completionHandler(UNNotificationPresentationOptionBanner | UNNotificationPresentationOptionList);
}
@end

namespace {

// An app signed by the linker alone (the CMake build) is refused by the framework at every request: said
// once a run, in the app's log (the unified log through Qt's message handler), with the framework's reason.
// The user's own "no" is no error and is not said.
void reportRefusal(NSError* error) {
    static std::atomic<bool> said{false};
    if (error == nil || said.exchange(true)) {
        return;
    }
    const QString reason = QString::fromNSString([NSString stringWithFormat:@"%@ %ld: %@", error.domain,
                                                                            static_cast<long>(error.code),
                                                                            error.localizedDescription]);
    qWarning().noquote() << QStringLiteral("Mitteilungen vom System abgelehnt (") +
                                StatusDisplay::oneLine(reason) +
                                QStringLiteral("). Eine selbst gebaute App bekommt sie mit einer Signatur: "
                                               "codesign --force --deep -s - Korvane.app");
}

class CenterNotifier final : public Notifying {
public:
    CenterNotifier() : presenter_([[KorvaneNotificationPresenter alloc] init]) {}
    ~CenterNotifier() override { [presenter_ release]; }

    CenterNotifier(const CenterNotifier&) = delete;
    CenterNotifier& operator=(const CenterNotifier&) = delete;

    void post(const Notification& notification) override {
        @autoreleasepool {
            // Outside an application bundle the framework throws instead of posting.
            if (NSBundle.mainBundle.bundleIdentifier == nil) {
                return;
            }
            UNUserNotificationCenter* center = UNUserNotificationCenter.currentNotificationCenter;
            center.delegate = presenter_; // held weakly by the center, so kept here
            UNMutableNotificationContent* content = [[[UNMutableNotificationContent alloc] init] autorelease];
            content.title = notification.title.toNSString();
            content.body = notification.body.toNSString();
            UNNotificationRequest* request =
                [UNNotificationRequest requestWithIdentifier:NSUUID.UUID.UUIDString
                                                     content:content
                                                     trigger:nil];
            // The handler runs on a queue of the framework's; the copied block keeps the request.
            [center requestAuthorizationWithOptions:UNAuthorizationOptionAlert
                                  completionHandler:^(BOOL granted, NSError* error) {
                                    reportRefusal(error);
                                    if (granted) {
                                        [center addNotificationRequest:request withCompletionHandler:nil];
                                    }
                                  }];
        }
    }

private:
    KorvaneNotificationPresenter* presenter_;
};

} // namespace

namespace Notifier {

std::shared_ptr<Notifying> desktop() {
    return std::make_shared<CenterNotifier>();
}

} // namespace Notifier
