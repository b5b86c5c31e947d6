// macOS: the app's own login item through SMAppService, and the location of the app's bundle.
#include "LoginItem.hpp"

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>
#include <cstdio>

namespace {

// SMAppService exists from macOS 13 on; before that there is no service, and the entry shows off.
class MainAppService final : public LoginItemService {
public:
    LoginItemStatus status() const override {
        if (@available(macOS 13.0, *)) {
            switch (SMAppService.mainAppService.status) {
            case SMAppServiceStatusEnabled:
                return LoginItemStatus::enabled;
            case SMAppServiceStatusRequiresApproval:
                return LoginItemStatus::requiresApproval;
            case SMAppServiceStatusNotFound:
                return LoginItemStatus::notFound;
            case SMAppServiceStatusNotRegistered:
                return LoginItemStatus::notRegistered;
            }
            return LoginItemStatus::notRegistered;
        }
        return LoginItemStatus::notFound;
    }

    bool registerItem() override {
        if (@available(macOS 13.0, *)) {
            NSError* error = nil;
            return reported([SMAppService.mainAppService registerAndReturnError:&error], "register", error);
        }
        return false;
    }

    bool unregisterItem() override {
        if (@available(macOS 13.0, *)) {
            NSError* error = nil;
            return reported([SMAppService.mainAppService unregisterAndReturnError:&error], "unregister",
                            error);
        }
        return false;
    }

private:
    // The menu shows only the resulting status; why the service refused goes to standard error.
    static bool reported(BOOL succeeded, const char* action, NSError* error) {
        if (!succeeded) {
            @autoreleasepool {
                NSString* reason = error != nil ? error.localizedDescription : @"unknown error";
                std::fprintf(stderr, "KorvaneMenuBar: login item %s failed: %s\n", action,
                             reason.UTF8String != nullptr ? reason.UTF8String : "?");
            }
        }
        return succeeded;
    }
};

} // namespace

namespace LoginItem {

std::shared_ptr<LoginItemService> mainAppService() {
    return std::make_shared<MainAppService>();
}

QString bundlePath() {
    @autoreleasepool {
        return QString::fromNSString(NSBundle.mainBundle.bundlePath);
    }
}

} // namespace LoginItem
