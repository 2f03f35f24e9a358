#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+Tools.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITabBarController.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

using namespace platform;

namespace {
constexpr double kAnimatedRestyleDelay = 0.55;
} // namespace

UIStatusBarStyle statusBarStyle(const UIViewController&) {
    return UIApplication::sharedApplication()->statusBarStyle();
}

void setStatusBarHidden(UIViewController&, bool hidden) {
    UIApplication::sharedApplication()->setStatusBarHidden(hidden, UIStatusBarAnimationNone);
}

bool isLightContentColor(const UIViewController&, const UIColorPtr& color) {
    if (!color)
        return true;
    const double limit = double(float(176.0 / 255.0));
    const double red = color->red(), green = color->green(), blue = color->blue();
    if (red > limit && green > limit && blue > limit)
        return true;
    if (int(red) != 0 || int(green) != 0 || int(blue) != 0)
        return false;
    return int(color->alpha()) == 0;
}

void adjustStatusBarStyleToFitColor(UIViewController& controller, const UIColorPtr& color) {
    UIApplication::sharedApplication()->setStatusBarStyle(
        isLightContentColor(controller, color) ? UIStatusBarStyleDefault : UIStatusBarStyleLightContent);
}

bool isColor(const UIViewController&, const UIColorPtr& color, const UIColorPtr& otherColor) {
    if (!color || !otherColor)
        return !color && !otherColor;
    return color->red() == otherColor->red() && color->green() == otherColor->green() &&
           color->blue() == otherColor->blue() && color->alpha() == otherColor->alpha();
}

bool shouldAdjustStatusBarStyleToColor(const UIViewController& controller, const UIColorPtr& color) {
    return !isColor(controller, color, navigationBarColor(controller));
}

void adjustStatusBarStyleToColor(UIViewController& controller, const UIColorPtr& color, bool animated) {
    if (!shouldAdjustStatusBarStyleToColor(controller, color))
        return;
    auto keptController = std::static_pointer_cast<UIViewController>(controller.shared_from_this());
    delaySeconds(controller, animated ? float(kAnimatedRestyleDelay) : 0.0f,
                 [keptController, color] { adjustStatusBarStyleToFitColor(*keptController, color); });
}

void delaySeconds(UIViewController&, float seconds, std::function<void()> block) {
    const float nanoseconds = seconds * 1e9f;
    // Negative or not-a-number delays run at once; huge ones are capped where the deadline cannot overflow.
    constexpr float longest = float(int64_t(1) << 62);
    const int64_t delay = nanoseconds > 0 ? int64_t(std::min(nanoseconds, longest)) : 0;
    DispatchQueue::main()->after(std::chrono::nanoseconds(delay), std::move(block));
}

CGRect scrollViewSubviewRect(UIViewController& controller) {
    return controller.view()->bounds();
}

CGRect nonScrollViewSubviewRect(UIViewController& controller) {
    CGRect rect = UIScreen::mainScreen()->bounds();
    if (auto navigation = controller.navigationController()) {
        auto bar = navigation->navigationBar();
        const float covered = float(bar->bounds().size.height) +
                              float(UIApplication::sharedApplication()->statusBarFrame().size.height);
        if (bar->isTranslucent() || controller.extendedLayoutIncludesOpaqueBars())
            rect.origin.y = covered;
        rect.size.height -= covered;
    }
    if (auto tabs = controller.tabBarController())
        rect.size.height -= tabs->tabBar()->bounds().size.height;
    return rect;
}

std::string systemDocumentFolder(const UIViewController&) {
    return Paths::documents().string();
}
