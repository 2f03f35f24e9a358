#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <vector>

namespace platform {

namespace {

// The platform's duration of a rotation the device asks for.
constexpr double kRotationDuration = 0.4;

bool isValid(UIInterfaceOrientation orientation) {
    return orientation >= UIInterfaceOrientationPortrait &&
           orientation <= UIInterfaceOrientationLandscapeLeft;
}

bool supports(uint64_t mask, UIInterfaceOrientation orientation) {
    return isValid(orientation) && (mask & (uint64_t(1) << orientation)) != 0;
}

bool isLandscape(UIInterfaceOrientation orientation) {
    return orientation == UIInterfaceOrientationLandscapeLeft ||
           orientation == UIInterfaceOrientationLandscapeRight;
}

// The controllers of the tree that are on screen, parents before children, presenters before what they
// present.
void collectOnScreen(const UIViewControllerPtr& controller, std::vector<UIViewControllerPtr>& out) {
    if (!controller || std::find(out.begin(), out.end(), controller) != out.end())
        return;
    if (controller->appearance() != UIViewController::Appearance::Disappeared)
        out.push_back(controller);
    for (const auto& child : controller->childViewControllers())
        collectOnScreen(child, out);
    if (!controller->parentViewController())
        collectOnScreen(controller->presentedViewController(), out);
}

// The windows that fill the screen follow its bounds, and so do the views that fill them (presented
// controllers' views among them).
void resizeFullScreenWindows(CGSize oldSize, CGSize newSize) {
    for (const auto& window : UIWindow::visibleWindows()) {
        if (window->bounds().size != oldSize)
            continue;
        std::vector<UIViewPtr> filling;
        for (const auto& view : window->subviews())
            if (view->frame() == window->bounds())
                filling.push_back(view);
        window->setFrame(CGRectMake(0, 0, newSize.width, newSize.height));
        for (const auto& view : filling)
            view->setFrame(window->bounds());
    }
}

} // namespace

void UIApplication::simulateDeviceOrientation(UIInterfaceOrientation orientation) {
    onMain([this, orientation] {
        if (!isValid(orientation))
            return;
        auto window = keyWindow();
        if (auto top = window ? window->topFullScreenController() : nullptr) {
            if (!top->shouldAutorotate() || !supports(top->supportedInterfaceOrientations(), orientation))
                return;
        }
        rotateInterface(orientation, kRotationDuration);
    });
}

void UIApplication::simulateStatusBarOrientationChange(UIInterfaceOrientation orientation) {
    onMain([this, orientation] {
        if (isValid(orientation))
            rotateInterface(orientation, 0);
    });
}

void UIApplication::adaptInterfaceOrientation(const std::shared_ptr<UIViewController>& top) {
    if (!top)
        return;
    const uint64_t mask = top->supportedInterfaceOrientations();
    if (supports(mask, m_statusBarOrientation))
        return;
    const auto preferred = top->preferredInterfaceOrientationForPresentation();
    if (supports(mask, preferred)) {
        rotateInterface(preferred, 0);
        return;
    }
    for (int64_t value = UIInterfaceOrientationPortrait; value <= UIInterfaceOrientationLandscapeLeft;
         ++value) {
        if (supports(mask, UIInterfaceOrientation(value))) {
            rotateInterface(UIInterfaceOrientation(value), 0);
            return;
        }
    }
}

void UIApplication::rotateInterface(UIInterfaceOrientation orientation, double duration) {
    const auto old = m_statusBarOrientation;
    if (old == orientation)
        return;
    auto screen = UIScreen::mainScreen();
    const CGSize oldSize = screen->bounds().size;
    const double shortSide = std::min(oldSize.width, oldSize.height);
    const double longSide = std::max(oldSize.width, oldSize.height);
    const CGSize newSize =
        isLandscape(orientation) ? CGSizeMake(longSide, shortSide) : CGSizeMake(shortSide, longSide);

    post(UIApplicationWillChangeStatusBarOrientationNotification,
         Value::dictionary({{UIApplicationStatusBarOrientationUserInfoKey, Value(int64_t(orientation))}}));
    std::vector<UIViewControllerPtr> onScreen;
    if (auto window = keyWindow())
        collectOnScreen(window->rootViewController(), onScreen);
    auto coordinator = std::make_shared<UIViewControllerTransitionCoordinator>(duration > 0, duration);
    for (const auto& controller : onScreen)
        controller->viewWillTransitionToSize(newSize, coordinator);

    m_statusBarOrientation = orientation;
    UIView::animateWithDuration(
        duration,
        [&] {
            screen->setBounds(CGRectMake(0, 0, newSize.width, newSize.height));
            resizeFullScreenWindows(oldSize, newSize);
            coordinator->runAlongside();
            for (const auto& controller : onScreen)
                controller->willAnimateRotationToInterfaceOrientation(orientation, duration);
        },
        [coordinator](bool) { coordinator->finish(); });

    if (m_delegate)
        m_delegate->applicationDidChangeStatusBarOrientation(*this, old);
    post(UIApplicationDidChangeStatusBarOrientationNotification,
         Value::dictionary({{UIApplicationStatusBarOrientationUserInfoKey, Value(int64_t(old))}}));
}

} // namespace platform
