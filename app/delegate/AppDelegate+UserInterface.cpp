#include "app/core/CommonData.h"
#include "app/delegate/AppDelegate.h"
#include "app/screens/LoginViewController.h"
#include "app/ui/BaseNavigationController.h"
#include "app/ui/UIViewController+Push_Present.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

using namespace platform;

namespace {

// One handler serves every login: it keeps nothing of its own.
void pushHomeAfterLogin(const std::shared_ptr<LoginViewController>& login) {
    if (login)
        pushViewController(*login, HomeViewController::create(), true);
}

} // namespace

void AppDelegate::setupUserInterface() {
    showStatusBar();
    setupRootViewController();
}

void AppDelegate::showStatusBar() {
    UIApplication::sharedApplication()->setStatusBarHidden(false, UIStatusBarAnimationNone);
}

void AppDelegate::setupRootViewController() {
    auto login = LoginViewController::create();
    if (auto shown = window())
        shown->setRootViewController(BaseNavigationController::create(login));
    const auto& data = CommonData::sharedInstance();
    if (!data->isAlwaysLogin() && data->loginUser())
        pushViewController(*login, HomeViewController::create(), false);
    login->setLoginSuccessHandler(pushHomeAfterLogin);
}

void AppDelegate::setupWindow() {
    auto made = UIWindow::create(UIScreen::mainScreen()->bounds());
    made->setBackgroundColor(UIColor::whiteColor());
    made->makeKeyAndVisible();
    setWindow(made);
}
