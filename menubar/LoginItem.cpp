// Platforms without application bundles or a login-item service: the app never runs from a bundle, so the
// start-at-login entry stays greyed out.
#include "LoginItem.hpp"

#include <QCoreApplication>

namespace {

class UnavailableLoginItem final : public LoginItemService {
public:
    LoginItemStatus status() const override { return LoginItemStatus::notFound; }
    bool registerItem() override { return false; }
    bool unregisterItem() override { return false; }
};

} // namespace

namespace LoginItem {

std::shared_ptr<LoginItemService> mainAppService() {
    return std::make_shared<UnavailableLoginItem>();
}

QString bundlePath() {
    // The executable itself is what runs here; its path never names a bundle.
    return QCoreApplication::applicationFilePath();
}

} // namespace LoginItem
