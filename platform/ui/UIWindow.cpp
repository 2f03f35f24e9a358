#include "platform/ui/UIWindow.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"

#include <algorithm>

namespace platform {

namespace {

// Visible windows, in the order they were shown; weak so a dropped window simply disappears.
std::vector<std::weak_ptr<UIWindow>>& shownWindows() {
    static std::vector<std::weak_ptr<UIWindow>> windows;
    return windows;
}

} // namespace

UIWindow::UIWindow()
    : UIWindow(UIScreen::mainScreen()->bounds()) {}

UIWindow::UIWindow(CGRect frame)
    : UIView(frame) {
    UIView::setHidden(true);
}

UIWindow::~UIWindow() = default;

void UIWindow::setRootViewController(const std::shared_ptr<UIViewController>& controller) {
    if (controller == m_rootViewController)
        return;
    bool visible = !isHidden();
    auto old = m_rootViewController;
    if (old && old->isViewLoaded()) {
        if (visible)
            old->beginAppearanceTransition(false, false);
        old->view()->removeFromSuperview();
        if (visible)
            old->endAppearanceTransition();
    }
    m_rootViewController = controller;
    if (!controller)
        return;
    if (visible && isKeyWindow())
        UIApplication::sharedApplication()->adaptInterfaceOrientation(topFullScreenController());
    auto view = controller->view();
    view->setFrame(bounds());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    if (visible)
        controller->beginAppearanceTransition(true, false);
    addSubview(view);
    if (visible) {
        layoutIfNeeded();
        controller->endAppearanceTransition();
    }
}

void UIWindow::setRootVisible(bool visible) {
    auto controller = m_rootViewController;
    if (!controller)
        return;
    if (visible && isKeyWindow())
        UIApplication::sharedApplication()->adaptInterfaceOrientation(topFullScreenController());
    controller->beginAppearanceTransition(visible, false);
    if (visible) {
        auto view = controller->view();
        if (view->superview().get() != this) {
            view->setFrame(bounds());
            addSubview(view);
        }
        layoutIfNeeded();
    }
    controller->endAppearanceTransition();
}

void UIWindow::setHidden(bool hidden) {
    if (hidden == isHidden())
        return;
    UIView::setHidden(hidden);
    auto self = sharedAs<UIWindow>();
    auto& windows = shownWindows();
    std::erase_if(windows, [&](const std::weak_ptr<UIWindow>& w) {
        auto strong = w.lock();
        return !strong || strong == self;
    });
    if (!hidden) {
        windows.push_back(self);
        setRootVisible(true);
        NotificationCenter::defaultCenter().postNotificationName(UIWindowDidBecomeVisibleNotification, self);
    } else {
        setRootVisible(false);
        if (isKeyWindow())
            UIApplication::sharedApplication()->setKeyWindow(nullptr);
        NotificationCenter::defaultCenter().postNotificationName(UIWindowDidBecomeHiddenNotification, self);
    }
}

void UIWindow::makeKeyAndVisible() {
    makeKeyWindow();
    setHidden(false);
}

void UIWindow::makeKeyWindow() {
    UIApplication::sharedApplication()->setKeyWindow(sharedAs<UIWindow>());
}

bool UIWindow::isKeyWindow() const {
    return UIApplication::sharedApplication()->keyWindow().get() == this;
}

std::shared_ptr<UIViewController> UIWindow::topFullScreenController() const {
    auto top = m_rootViewController;
    while (top) {
        auto presented = top->presentedViewController();
        const auto style = presented ? presented->modalPresentationStyle() : UIModalPresentationFullScreen;
        if (!presented || presented->isBeingDismissed() || style == UIModalPresentationCurrentContext ||
            style == UIModalPresentationOverCurrentContext)
            break;
        top = presented;
    }
    return top;
}

UIResponderPtr UIWindow::nextResponder() const {
    return UIApplication::sharedApplication();
}

std::vector<UIWindowPtr> UIWindow::visibleWindows() {
    std::vector<UIWindowPtr> result;
    for (auto& weak : shownWindows())
        if (auto window = weak.lock(); window && !window->isHidden())
            result.push_back(window);
    std::stable_sort(result.begin(), result.end(), [](const UIWindowPtr& a, const UIWindowPtr& b) {
        return a->windowLevel() < b->windowLevel();
    });
    return result;
}

} // namespace platform
