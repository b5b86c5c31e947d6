// macOS: the app's own login item through SMAppService (macOS 13 and later), and its bundle's location.
#include "LoginItem.hpp"

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

namespace {

class MainAppService final : public LoginItemService {
public:
    LoginItemStatus status() const override {
        switch (SMAppService.mainAppService.status) {
        case SMAppServiceStatusEnabled:
            return LoginItemStatus::enabled;
        case SMAppServiceStatusRequiresApproval:
            return LoginItemStatus::requiresApproval;
        case SMAppServiceStatusNotFound:
            return LoginItemStatus::notFound;
        case SMAppServiceStatusNotRegistered:
            break;
        }
        return LoginItemStatus::notRegistered;
    }

    bool registerItem() override { return [SMAppService.mainAppService registerAndReturnError:nil]; }
    bool unregisterItem() override { return [SMAppService.mainAppService unregisterAndReturnError:nil]; }
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
