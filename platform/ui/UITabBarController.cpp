#include "platform/ui/UITabBarController.h"

#include "platform/ui/UIScreen.h"

#include <algorithm>

namespace platform {

UITabBar::UITabBar()
    : UIView(CGRectMake(0, 0, UIScreen::mainScreen()->bounds().size.width, defaultHeight)) {
    setBackgroundColor(UIColor::colorWithWhite(0.97, 1));
    setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin);
}

CGSize UITabBar::sizeThatFits(CGSize size) {
    return {size.width > 0 ? size.width : bounds().size.width, defaultHeight};
}

std::shared_ptr<UITabBar> UITabBarController::tabBar() {
    if (!m_tabBar)
        m_tabBar = std::make_shared<UITabBar>();
    return m_tabBar;
}

UIViewControllerPtr UITabBarController::selectedViewController() const {
    if (m_selectedIndex < 0 || m_selectedIndex >= static_cast<int64_t>(m_controllers.size()))
        return nullptr;
    return m_controllers[m_selectedIndex];
}

void UITabBarController::setViewControllers(std::vector<UIViewControllerPtr> controllers, bool) {
    std::erase(controllers, nullptr);
    auto from = selectedViewController();
    for (const auto& old : m_controllers) {
        if (std::find(controllers.begin(), controllers.end(), old) == controllers.end()) {
            old->willMoveToParentViewController(nullptr);
            if (old != from)
                old->removeFromParentViewController();
        }
    }
    for (const auto& controller : controllers) {
        if (controller->parentViewController().get() != this) {
            addChildViewController(controller);
            controller->didMoveToParentViewController(
                std::static_pointer_cast<UIViewController>(shared_from_this()));
        }
    }
    m_controllers = std::move(controllers);
    auto it = std::find(m_controllers.begin(), m_controllers.end(), from);
    m_selectedIndex = m_controllers.empty() ? -1 : it != m_controllers.end() ? it - m_controllers.begin() : 0;
    auto to = selectedViewController();
    show(from, to);
    if (from && from != to &&
        std::find(m_controllers.begin(), m_controllers.end(), from) == m_controllers.end())
        from->removeFromParentViewController();
}

void UITabBarController::setSelectedViewController(const UIViewControllerPtr& controller) {
    auto it = std::find(m_controllers.begin(), m_controllers.end(), controller);
    if (it != m_controllers.end())
        setSelectedIndex(it - m_controllers.begin());
}

void UITabBarController::setSelectedIndex(int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(m_controllers.size()) || index == m_selectedIndex)
        return;
    auto from = selectedViewController();
    m_selectedIndex = index;
    show(from, selectedViewController());
}

void UITabBarController::show(const UIViewControllerPtr& from, const UIViewControllerPtr& to) {
    if (from == to) {
        if (isViewLoaded())
            viewWillLayoutSubviews();
        return;
    }
    const bool onScreen = appearance() == Appearance::Appeared || appearance() == Appearance::Appearing;
    if (onScreen && from)
        from->beginAppearanceTransition(false, false);
    if (onScreen && to)
        to->beginAppearanceTransition(true, false);
    if (from && from->viewIfLoaded())
        from->viewIfLoaded()->removeFromSuperview();
    if (isViewLoaded())
        viewWillLayoutSubviews();
    if (onScreen && from)
        from->endAppearanceTransition();
    if (onScreen && to)
        to->endAppearanceTransition();
}

void UITabBarController::loadView() {
    auto view = UIView::create(UIScreen::mainScreen()->bounds());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    view->addSubview(tabBar());
    setView(view);
    viewWillLayoutSubviews();
}

void UITabBarController::viewWillLayoutSubviews() {
    UIViewController::viewWillLayoutSubviews();
    auto view = viewIfLoaded();
    if (!view)
        return;
    CGRect bounds = view->bounds();
    auto bar = tabBar();
    const double height = bar->sizeThatFits(bounds.size).height;
    bar->setFrame(CGRectMake(0, bounds.size.height - height, bounds.size.width, height));
    auto selected = selectedViewController();
    const bool hidesBar = selected && selected->hidesBottomBarWhenPushed();
    bar->setHidden(hidesBar);
    if (selected) {
        auto childView = selected->view();
        if (childView->superview() != view)
            view->insertSubviewBelowSubview(childView, bar);
        childView->setFrame(hidesBar ? bounds
                                     : CGRectMake(0, 0, bounds.size.width, bounds.size.height - height));
    }
    view->bringSubviewToFront(bar);
}

std::vector<UIViewControllerPtr> UITabBarController::childViewControllersForAppearance() const {
    if (auto selected = selectedViewController())
        return {selected};
    return {};
}

} // namespace platform
