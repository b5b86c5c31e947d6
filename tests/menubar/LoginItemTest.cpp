// The start-at-login entry: registration at the first launch from a bundle, the toggle, and the check mark
// that always shows what the login-item service reports.
#include "MenuBarFixture.hpp"

namespace {

class LoginItemTest : public MenuBarTest {
protected:
    QAction* loginEntry() const { return entryTitled("Bei Anmeldung starten"); }
    bool didRegister() const { return settings->value("didRegisterLoginItem", false).toBool(); }
};

TEST_F(LoginItemTest, FirstLaunchFromABundleRegistersOnceAndRemembersItFirst) {
    bool rememberedBeforeRegistering = false;
    loginService->onRegister = [this, &rememberedBeforeRegistering] {
        rememberedBeforeRegistering = didRegister();
    };
    launch();
    EXPECT_EQ(loginService->registrations, 1);
    EXPECT_TRUE(rememberedBeforeRegistering) << "the default must be stored before registering";
    EXPECT_TRUE(didRegister());
    EXPECT_TRUE(loginEntry()->isEnabled());
    EXPECT_TRUE(loginEntry()->isCheckable());
    EXPECT_TRUE(loginEntry()->isChecked());
}

TEST_F(LoginItemTest, AFailedFirstRegistrationIsNotRetried) {
    loginService->statusAfterRegister = LoginItemStatus::notRegistered;
    launch();
    EXPECT_EQ(loginService->registrations, 1);
    EXPECT_FALSE(loginEntry()->isChecked());
    EXPECT_TRUE(didRegister());

    launch();
    EXPECT_EQ(loginService->registrations, 1);
    EXPECT_FALSE(loginEntry()->isChecked());
}

TEST_F(LoginItemTest, SecondLaunchAfterTheUserSwitchedItOffRegistersNothing) {
    settings->setValue("didRegisterLoginItem", true);
    loginService->current = LoginItemStatus::notRegistered;
    launch();
    EXPECT_EQ(loginService->registrations, 0);
    EXPECT_EQ(loginService->unregistrations, 0);
    EXPECT_FALSE(loginEntry()->isChecked());
    EXPECT_TRUE(loginEntry()->isEnabled());
}

TEST_F(LoginItemTest, OnlyEnabledCountsAsRegistered) {
    const std::vector<std::pair<LoginItemStatus, bool>> cases = {
        {LoginItemStatus::enabled, true},
        {LoginItemStatus::notRegistered, false},
        {LoginItemStatus::requiresApproval, false},
        {LoginItemStatus::notFound, false},
    };
    settings->setValue("didRegisterLoginItem", true);
    for (const auto& [status, checked] : cases) {
        loginService->current = status;
        launch();
        EXPECT_EQ(loginEntry()->isChecked(), checked) << static_cast<int>(status);
    }
    EXPECT_EQ(loginService->registrations, 0) << "a later launch registers nothing";
}

TEST_F(LoginItemTest, RequiresApprovalShowsOffAndTheNextToggleRegistersAgain) {
    loginService->statusAfterRegister = LoginItemStatus::requiresApproval;
    launch();
    EXPECT_FALSE(loginEntry()->isChecked());

    loginEntry()->trigger();
    EXPECT_EQ(loginService->registrations, 2);
    EXPECT_EQ(loginService->unregistrations, 0);
    EXPECT_FALSE(loginEntry()->isChecked());
}

TEST_F(LoginItemTest, ToggleSwitchesBetweenRegisteredAndNot) {
    launch();
    ASSERT_TRUE(loginEntry()->isChecked());

    loginEntry()->trigger();
    EXPECT_EQ(loginService->unregistrations, 1);
    EXPECT_FALSE(loginEntry()->isChecked());

    loginEntry()->trigger();
    EXPECT_EQ(loginService->registrations, 2);
    EXPECT_TRUE(loginEntry()->isChecked());
}

TEST_F(LoginItemTest, TheCheckMarkShowsTheServiceEvenWhenUnregisteringFails) {
    class StuckService final : public LoginItemService {
    public:
        LoginItemStatus status() const override { return LoginItemStatus::enabled; }
        bool registerItem() override { return false; }
        bool unregisterItem() override { return false; }
    };
    settings->setValue("didRegisterLoginItem", true);
    services.loginItem = std::make_shared<StuckService>();
    launch();
    loginEntry()->trigger();
    EXPECT_TRUE(loginEntry()->isChecked());
}

TEST_F(LoginItemTest, OutsideABundleTheEntryIsGreyedAndNothingIsTouched) {
    const std::vector<QString> notBundles = {
        "/usr/local/bin/KorvaneMenuBar", "/Applications/Korvane.app/Contents/MacOS", "/Applications/Korvane",
        "/Applications/Korvane.application", ""};
    for (const QString& path : notBundles) {
        SCOPED_TRACE(path.toStdString());
        services.bundlePath = path;
        launch();
        EXPECT_FALSE(loginEntry()->isEnabled());
        delegate->toggleLoginItem();
        EXPECT_EQ(loginService->registrations, 0);
        EXPECT_EQ(loginService->unregistrations, 0);
        EXPECT_FALSE(settings->contains("didRegisterLoginItem"));
    }
}

} // namespace
