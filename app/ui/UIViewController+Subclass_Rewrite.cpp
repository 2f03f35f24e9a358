#include "app/ui/AssociatedObjects.h"
#include "app/ui/UIImage+CacheMode.h"
#include "app/ui/UIImage+Tint.h"
#include "app/ui/UISearchBar+Custom.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+NavigationBar.h"
#include "app/ui/UIViewController+Subclass_Rewrite.h"
#include "app/ui/UIViewController+Tools.h"
#include "platform/ui/UINavigationController.h"

using namespace platform;

namespace {

// Answers the hooks for a controller that does not inherit the mixin.
class SubclassRewriteDefaults final : public Subclass_Rewrite {
public:
    explicit SubclassRewriteDefaults(UIViewController& controller)
        : Subclass_Rewrite(controller) {}
};

const char kPopDelegateKey = 0;
constexpr const char* kSearchPlaceholder = "搜索商品";

template <typename R, typename... Args, typename... Given>
R callHook(UIViewController& controller, R (Subclass_Rewrite::*hook)(Args...), Given&&... args) {
    return ::detail::callHook<Subclass_Rewrite, SubclassRewriteDefaults>(controller, hook,
                                                                         std::forward<Given>(args)...);
}

// The swipe-back gesture asks its delegate through this stand-in, which the controller keeps (the
// recognizer holds its delegate weakly).
class PopGestureDelegate final : public Object, public UIGestureRecognizerDelegate {
public:
    explicit PopGestureDelegate(std::weak_ptr<UIViewController> controller)
        : m_controller(std::move(controller)) {}
    bool gestureRecognizerShouldBegin(UIGestureRecognizer* recognizer) override {
        auto controller = m_controller.lock();
        return controller && ::gestureRecognizerShouldBegin(*controller, recognizer);
    }

private:
    std::weak_ptr<UIViewController> m_controller;
};

std::shared_ptr<PopGestureDelegate> popGestureDelegate(UIViewController& controller) {
    auto delegate = ::detail::associated<PopGestureDelegate>(controller, &kPopDelegateKey);
    if (!delegate) {
        delegate = std::make_shared<PopGestureDelegate>(
            std::static_pointer_cast<UIViewController>(controller.shared_from_this()));
        ::detail::setAssociated(controller, &kPopDelegateKey, delegate);
    }
    return delegate;
}

} // namespace

UIColorPtr Subclass_Rewrite::customNavigationBarColor() {
    return UIColor::whiteColor();
}

UIColorPtr Subclass_Rewrite::customNavigationBarTitleColor() {
    return UIColor::blackColor();
}

UIColorPtr Subclass_Rewrite::customNavigationBarButtonItemColor() {
    return UIColor::colorWithRed(0, 64.0 / 255.0, 221.0 / 255.0, 1);
}

void Subclass_Rewrite::adjustNavigationBar() {
    auto& self = controller();
    if (auto navigation = self.navigationController())
        navigation->setNavigationBarHidden(::preferredNavigationBarHidden(self), true);
    setNavigationBarColor(self, ::customNavigationBarColor(self));
    setNavigationBarTitleColor(self, ::customNavigationBarTitleColor(self));
    setNavigationBarButtonItemColor(self, ::customNavigationBarButtonItemColor(self));
    adjustStatusBarStyleToFitColor(self, navigationBarColor(self));
    ::automaticallyAddBackButton(self);
    ::automaticallyAddSearchBar(self);
}

void Subclass_Rewrite::automaticallyAddBackButton() {
    auto& self = controller();
    auto parent = std::dynamic_pointer_cast<UINavigationController>(self.parentViewController());
    if (parent && parent->viewControllers().size() >= 2)
        ::addBackButton(self);
    else
        removeNavigationBarLeftButtonItems(self);
    if (auto navigation = self.navigationController()) {
        auto gesture = navigation->interactivePopGestureRecognizer();
        gesture->setEnabled(true);
        gesture->setDelegate(popGestureDelegate(self));
    }
}

void Subclass_Rewrite::addBackButton() {
    auto& self = controller();
    auto image = originalImage(imageNamed("navigation_back_white", navigationBarButtonItemColor(self)));
    addNavigationBarLeftButtonItemWithImage(self, image, ::detail::backButtonClickedAction());
}

void Subclass_Rewrite::automaticallyAddSearchBar() {
    auto& self = controller();
    if (!::preferredNavigationBarSearchBar(self) || navigationBarSearchBar(self))
        return;
    auto searchBar = UISearchBar::create();
    setNavigationBarSearchBar(self, searchBar);
    searchBar->sizeToFit();
    searchBar->setPlaceholder(kSearchPlaceholder);
    searchBar->setBackgroundColor(UIColor::clearColor());
    searchBar->setBarTintColor(navigationBarColor(self));
    adjustBackgroundColor(*searchBar, UIColor::whiteColor());
}

bool Subclass_Rewrite::gestureRecognizerShouldBegin(UIGestureRecognizer*) {
    auto navigation = controller().navigationController();
    return !navigation || navigation->viewControllers().size() != 1;
}

bool preferredNavigationBarHidden(UIViewController& controller) {
    return callHook(controller, &Subclass_Rewrite::preferredNavigationBarHidden);
}

bool preferredNavigationBarSearchBar(UIViewController& controller) {
    return callHook(controller, &Subclass_Rewrite::preferredNavigationBarSearchBar);
}

bool preferredNetworkMonitoring(UIViewController& controller) {
    return callHook(controller, &Subclass_Rewrite::preferredNetworkMonitoring);
}

UIColorPtr customNavigationBarColor(UIViewController& controller) {
    return callHook(controller, &Subclass_Rewrite::customNavigationBarColor);
}

UIColorPtr customNavigationBarTitleColor(UIViewController& controller) {
    return callHook(controller, &Subclass_Rewrite::customNavigationBarTitleColor);
}

UIColorPtr customNavigationBarButtonItemColor(UIViewController& controller) {
    return callHook(controller, &Subclass_Rewrite::customNavigationBarButtonItemColor);
}

void adjustNavigationBar(UIViewController& controller) {
    callHook(controller, &Subclass_Rewrite::adjustNavigationBar);
}

void automaticallyAddBackButton(UIViewController& controller) {
    callHook(controller, &Subclass_Rewrite::automaticallyAddBackButton);
}

void addBackButton(UIViewController& controller) {
    callHook(controller, &Subclass_Rewrite::addBackButton);
}

void automaticallyAddSearchBar(UIViewController& controller) {
    callHook(controller, &Subclass_Rewrite::automaticallyAddSearchBar);
}

bool gestureRecognizerShouldBegin(UIViewController& controller, UIGestureRecognizer* recognizer) {
    return callHook(controller, &Subclass_Rewrite::gestureRecognizerShouldBegin, recognizer);
}
