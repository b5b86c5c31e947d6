// macOS: the app's own login item through SMAppService, and the location of the app's bundle.
#include "LoginItem.hpp"

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

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
            return [SMAppService.mainAppService registerAndReturnError:nil];
        }
        return false;
    }

    bool unregisterItem() override {
        if (@available(macOS 13.0, *)) {
            return [SMAppService.mainAppService unregisterAndReturnError:nil];
        }
        return false;
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
