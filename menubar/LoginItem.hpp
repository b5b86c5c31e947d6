// Starting the menu-bar app at login: the operating system's login-item service for the app itself, and
// where the running app lives. The platform's implementation is chosen by the build.
#pragma once

#include <QString>
#include <memory>

// Only `enabled` counts as registered.
enum class LoginItemStatus { notRegistered, enabled, requiresApproval, notFound };

class LoginItemService {
public:
    virtual ~LoginItemService() = default;
    virtual LoginItemStatus status() const = 0;
    // False when the service refused; callers read the status again instead of trusting the result.
    virtual bool registerItem() = 0;
    virtual bool unregisterItem() = 0;
};

namespace LoginItem {

// The service for the running application's main bundle.
std::shared_ptr<LoginItemService> mainAppService();

// The path of the running application's bundle; it ends in ".app" only inside an application bundle.
QString bundlePath();

} // namespace LoginItem
