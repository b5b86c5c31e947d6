// macOS: the Notification Center through the User Notifications framework. The system asks the user whether
// the app may show alerts at its first notification, and only then; later requests report the answer.
#include "Notifier.hpp"

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
                                    (void)error;
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
