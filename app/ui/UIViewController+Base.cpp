#include "app/ui/AssociatedObjects.h"
#include "app/ui/UINavigationController+Custom.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+NavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UITabBarController.h"

using namespace platform;

namespace {
const char kFirstTimeAppearingKey = 0;
const char kViewActiveKey = 0;
const char kTranslucentKey = 0;
const char kBarColorKey = 0;
const char kTitleKey = 0;
const char kButtonItemColorKey = 0;
const char kSearchBarKey = 0;
const char kLeftItemKey = 0;
const char kRightItemKey = 0;
const char kLeftButtonKey = 0;
const char kRightButtonKey = 0;

std::shared_ptr<UINavigationController> parentNavigation(const UIViewController& controller) {
    return std::dynamic_pointer_cast<UINavigationController>(controller.parentViewController());
}
} // namespace

namespace detail {
UINavigationItemPtr targetNavigationItem(UIViewController& controller) {
    auto parent = controller.parentViewController();
    if (std::dynamic_pointer_cast<UINavigationController>(parent))
        return controller.navigationItem();
    if (std::dynamic_pointer_cast<UITabBarController>(parent))
        return parent->navigationItem();
    return nullptr;
}
} // namespace detail

bool isFirstTimeAppearing(const UIViewController& controller) {
    return ::detail::associatedFlag(controller, &kFirstTimeAppearingKey);
}

void setFirstTimeAppearing(UIViewController& controller, bool on) {
    ::detail::setAssociatedFlag(controller, &kFirstTimeAppearingKey, on);
}

bool isViewActive(const UIViewController& controller) {
    return ::detail::associatedFlag(controller, &kViewActiveKey);
}

void setViewActive(UIViewController& controller, bool on) {
    ::detail::setAssociatedFlag(controller, &kViewActiveKey, on);
}

bool isNavigationBarTranslucent(const UIViewController& controller) {
    return ::detail::associatedFlag(controller, &kTranslucentKey);
}

void setNavigationBarTranslucent(UIViewController& controller, bool on) {
    ::detail::setAssociatedFlag(controller, &kTranslucentKey, on);
}

UIColorPtr navigationBarColor(const UIViewController& controller) {
    return ::detail::associated<UIColor>(controller, &kBarColorKey);
}

void setNavigationBarColor(UIViewController& controller, UIColorPtr color) {
    // A navigation controller colours its own bar, as its own form of this operation does.
    if (auto* navigation = dynamic_cast<UINavigationController*>(&controller)) {
        setNavigationBarColor(*navigation, std::move(color));
        return;
    }
    ::detail::setAssociated(controller, &kBarColorKey, color);
    if (auto navigation = controller.navigationController())
        setNavigationBarColor(*navigation, std::move(color));
}

std::optional<std::string> navigationBarTitle(UIViewController& controller) {
    if (auto stored = ::detail::associatedText(controller, &kTitleKey))
        return stored;
    if (auto item = ::detail::targetNavigationItem(controller))
        return item->title();
    return std::nullopt;
}

void setNavigationBarTitle(UIViewController& controller, std::optional<std::string> title) {
    ::detail::setAssociatedText(controller, &kTitleKey, title);
    if (auto item = ::detail::targetNavigationItem(controller))
        item->setTitle(std::move(title));
    else
        controller.setTitle(std::move(title));
}

std::optional<NSAttributes> navigationBarTitleAttributes(UIViewController& controller) {
    if (auto navigation = parentNavigation(controller))
        return navigation->navigationBar()->titleTextAttributes();
    return std::nullopt;
}

void setNavigationBarTitleAttributes(UIViewController& controller, std::optional<NSAttributes> attributes) {
    auto navigation = parentNavigation(controller);
    if (navigation && attributes)
        navigation->navigationBar()->setTitleTextAttributes(std::move(*attributes));
}

UIColorPtr navigationBarTitleColor(UIViewController& controller) {
    auto attributes = navigationBarTitleAttributes(controller);
    return attributes ? attributes->get(NSForegroundColorAttributeName).objectAs<UIColor>() : nullptr;
}

void setNavigationBarTitleColor(UIViewController& controller, UIColorPtr color) {
    if (auto* navigation = dynamic_cast<UINavigationController*>(&controller)) {
        setNavigationBarTitleColor(*navigation, std::move(color));
        return;
    }
    NSAttributes attributes;
    if (color)
        attributes.set(NSForegroundColorAttributeName, Value(std::move(color)));
    setNavigationBarTitleAttributes(controller, std::move(attributes));
}

UIViewPtr navigationBarTitleView(UIViewController& controller) {
    auto item = ::detail::targetNavigationItem(controller);
    return item ? item->titleView() : nullptr;
}

void setNavigationBarTitleView(UIViewController& controller, UIViewPtr view) {
    if (auto item = ::detail::targetNavigationItem(controller))
        item->setTitleView(std::move(view));
}

UIColorPtr navigationBarButtonItemColor(const UIViewController& controller) {
    return ::detail::associated<UIColor>(controller, &kButtonItemColorKey);
}

void setNavigationBarButtonItemColor(UIViewController& controller, UIColorPtr color) {
    ::detail::setAssociated(controller, &kButtonItemColorKey, std::move(color));
}

UISearchBarPtr navigationBarSearchBar(const UIViewController& controller) {
    return ::detail::associated<UISearchBar>(controller, &kSearchBarKey);
}

void setNavigationBarSearchBar(UIViewController& controller, UISearchBarPtr searchBar) {
    ::detail::setAssociated(controller, &kSearchBarKey, searchBar);
    setNavigationBarTitleView(controller, std::move(searchBar));
}

UIBarButtonItemPtr navigationBarLeftButtonItem(UIViewController& controller) {
    if (auto stored = ::detail::associated<UIBarButtonItem>(controller, &kLeftItemKey))
        return stored;
    auto item = ::detail::targetNavigationItem(controller);
    return item ? item->leftBarButtonItem() : nullptr;
}

void setNavigationBarLeftButtonItem(UIViewController& controller, UIBarButtonItemPtr item) {
    ::detail::setAssociated(controller, &kLeftItemKey, std::move(item));
}

UIBarButtonItemPtr navigationBarRightButtonItem(UIViewController& controller) {
    if (auto stored = ::detail::associated<UIBarButtonItem>(controller, &kRightItemKey))
        return stored;
    auto item = ::detail::targetNavigationItem(controller);
    return item ? item->rightBarButtonItem() : nullptr;
}

void setNavigationBarRightButtonItem(UIViewController& controller, UIBarButtonItemPtr item) {
    ::detail::setAssociated(controller, &kRightItemKey, std::move(item));
}

UIButtonPtr navigationBarLeftButton(const UIViewController& controller) {
    return ::detail::associated<UIButton>(controller, &kLeftButtonKey);
}

void setNavigationBarLeftButton(UIViewController& controller, UIButtonPtr button) {
    ::detail::setAssociated(controller, &kLeftButtonKey, std::move(button));
}

UIButtonPtr navigationBarRightButton(const UIViewController& controller) {
    return ::detail::associated<UIButton>(controller, &kRightButtonKey);
}

void setNavigationBarRightButton(UIViewController& controller, UIButtonPtr button) {
    ::detail::setAssociated(controller, &kRightButtonKey, std::move(button));
}

void setNavigationBarLeftButtonItems(UIViewController& controller, std::vector<UIBarButtonItemPtr> items) {
    removeNavigationBarLeftButtonItems(controller);
    if (auto item = ::detail::targetNavigationItem(controller))
        item->setLeftBarButtonItems(std::move(items));
}

void setNavigationBarRightButtonItems(UIViewController& controller, std::vector<UIBarButtonItemPtr> items) {
    removeNavigationBarRightButtonItems(controller);
    if (auto item = ::detail::targetNavigationItem(controller))
        item->setRightBarButtonItems(std::move(items));
}
