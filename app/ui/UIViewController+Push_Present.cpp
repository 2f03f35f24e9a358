#include "app/ui/UINavigationController+Custom.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+Push_Present.h"
#include "app/ui/UIViewController+Tools.h"
#include "platform/ui/UINavigationController.h"

using namespace platform;

void presentRootViewController(UIViewController& presenter, const UIViewControllerPtr& root) {
    presentRootViewController(presenter, root, true, UIModalTransitionStyleCoverVertical,
                              navigationBarColor(presenter), navigationBarTitleColor(presenter), nullptr);
}

void presentRootViewController(UIViewController& presenter, const UIViewControllerPtr& root, bool animated,
                               Complection complection) {
    presentRootViewController(presenter, root, animated, UIModalTransitionStyleCoverVertical,
                              std::move(complection));
}

void presentRootViewController(UIViewController& presenter, const UIViewControllerPtr& root, bool animated,
                               int64_t transitionStyle, Complection complection) {
    presentRootViewController(presenter, root, animated, transitionStyle, navigationBarColor(presenter),
                              navigationBarTitleColor(presenter), std::move(complection));
}

void presentRootViewController(UIViewController& presenter, const UIViewControllerPtr& root,
                               UIColorPtr navigationBarColor, UIColorPtr navigationBarTextColor) {
    presentRootViewController(presenter, root, true, std::move(navigationBarColor),
                              std::move(navigationBarTextColor), nullptr);
}

void presentRootViewController(UIViewController& presenter, const UIViewControllerPtr& root,
                               UIColorPtr navigationBarColor, UIColorPtr navigationBarTextColor,
                               Complection complection) {
    presentRootViewController(presenter, root, true, std::move(navigationBarColor),
                              std::move(navigationBarTextColor), std::move(complection));
}

void presentRootViewController(UIViewController& presenter, const UIViewControllerPtr& root, bool animated,
                               UIColorPtr navigationBarColor, UIColorPtr navigationBarTextColor,
                               Complection complection) {
    presentRootViewController(presenter, root, animated, UIModalTransitionStyleCoverVertical,
                              std::move(navigationBarColor), std::move(navigationBarTextColor),
                              std::move(complection));
}

void presentRootViewController(UIViewController& presenter, const UIViewControllerPtr& root, bool animated,
                               int64_t transitionStyle, UIColorPtr navigationBarColor,
                               UIColorPtr navigationBarTextColor, Complection complection) {
    if (!root)
        return;
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(root);
    if (!navigation)
        navigation = UINavigationController::create(root);
    navigation->setModalTransitionStyle(transitionStyle);
    setNavigationBarColor(*navigation, navigationBarColor);
    setNavigationBarTitleColor(*navigation, std::move(navigationBarTextColor));
    adjustStatusBarStyleToColor(presenter, navigationBarColor, animated);
    presenter.presentViewController(navigation, animated, std::move(complection));
}

void dismiss(UIViewController& controller) {
    dismissComplection(controller, nullptr);
}

void dismissComplection(UIViewController& controller, Complection complection) {
    dismissWithAnimation(controller, true, std::move(complection));
}

void dismissWithAnimation(UIViewController& controller, bool animated) {
    controller.dismissViewControllerAnimated(animated);
}

void dismissWithAnimation(UIViewController& controller, bool animated, Complection completion) {
    if (auto navigation = controller.navigationController())
        navigation->dismissViewControllerAnimated(animated, std::move(completion));
    else
        controller.dismissViewControllerAnimated(animated, std::move(completion));
}

void pushViewController(UIViewController& controller, const UIViewControllerPtr& pushed) {
    if (pushed)
        pushed->setHidesBottomBarWhenPushed(true);
    pushViewController(controller, pushed, true);
}

void pushViewController(UIViewController& controller, const UIViewControllerPtr& pushed, bool animated) {
    if (auto navigation = controller.navigationController())
        navigation->pushViewController(pushed, animated);
}

void pop(UIViewController& controller) {
    if (auto navigation = controller.navigationController())
        navigation->popViewControllerAnimated(true);
}
