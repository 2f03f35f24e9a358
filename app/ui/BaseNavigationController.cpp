#include "app/ui/BaseNavigationController.h"

#include "app/ui/UINavigationItem+CustomBackButtonItem.h"

using namespace platform;

BaseNavigationController::BaseNavigationController(Token)
    : UINavigationController(navigationBarClass<BaseNavigationBar>()) {}

BaseNavigationControllerPtr BaseNavigationController::create() {
    loadCustomBackButtonItem();
    auto navigation = std::make_shared<BaseNavigationController>(Token{});
    navigation->setTranslucentNavigationBar(true);
    navigation->setSystemTranslucentNavigationBar(false);
    return navigation;
}

BaseNavigationControllerPtr BaseNavigationController::create(const UIViewControllerPtr& root) {
    auto navigation = create();
    if (root)
        navigation->setViewControllers({root}, false);
    return navigation;
}

void BaseNavigationController::setTranslucentNavigationBar(bool translucent) {
    m_translucentNavigationBar = translucent;
    navigationBar()->setTranslucent(translucent);
}

void BaseNavigationController::setSystemTranslucentNavigationBar(bool systemTranslucent) {
    m_systemTranslucentNavigationBar = systemTranslucent;
    if (auto bar = std::dynamic_pointer_cast<BaseNavigationBar>(navigationBar()))
        bar->usingSystemTranslucent(systemTranslucent);
}

UIStatusBarStyle BaseNavigationController::preferredStatusBarStyle() const {
    return UIStatusBarStyleLightContent;
}

uint64_t BaseNavigationController::supportedInterfaceOrientations() const {
    auto top = topViewController();
    return top ? top->supportedInterfaceOrientations()
               : UINavigationController::supportedInterfaceOrientations();
}
