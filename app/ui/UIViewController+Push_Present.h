#pragma once
// UIViewController(Push_Present): short forms for moving between screens. Every present form ends in the
// full one: a controller that is not a navigation controller is wrapped in a new platform navigation
// controller, whose bar takes the given colours (the presenter's own bar and title colours when none are
// given); the status bar follows the bar colour when it differs from the presenter's (0.55 s later when
// animated); then the presenter presents it and the completion runs once the presentation has finished.
// Transition style 0 is the platform's default. Completions run on the main queue, never inside the call.
// Main thread only.

#include "platform/graphics/Color.h"
#include "platform/ui/UIViewController.h"

#include <cstdint>
#include <functional>

using Complection = std::function<void()>;

void presentRootViewController(platform::UIViewController& presenter,
                               const platform::UIViewControllerPtr& root);
void presentRootViewController(platform::UIViewController& presenter,
                               const platform::UIViewControllerPtr& root, bool animated,
                               Complection complection);
void presentRootViewController(platform::UIViewController& presenter,
                               const platform::UIViewControllerPtr& root, bool animated,
                               int64_t transitionStyle, Complection complection);
void presentRootViewController(platform::UIViewController& presenter,
                               const platform::UIViewControllerPtr& root,
                               platform::UIColorPtr navigationBarColor,
                               platform::UIColorPtr navigationBarTextColor);
void presentRootViewController(platform::UIViewController& presenter,
                               const platform::UIViewControllerPtr& root,
                               platform::UIColorPtr navigationBarColor,
                               platform::UIColorPtr navigationBarTextColor, Complection complection);
void presentRootViewController(platform::UIViewController& presenter,
                               const platform::UIViewControllerPtr& root, bool animated,
                               platform::UIColorPtr navigationBarColor,
                               platform::UIColorPtr navigationBarTextColor, Complection complection);
void presentRootViewController(platform::UIViewController& presenter,
                               const platform::UIViewControllerPtr& root, bool animated,
                               int64_t transitionStyle, platform::UIColorPtr navigationBarColor,
                               platform::UIColorPtr navigationBarTextColor, Complection complection);

// dismissComplection: with no completion.
void dismiss(platform::UIViewController& controller);
// The navigation controller dismisses what it presents (animated); without one the controller itself is
// dismissed (or dismisses what it presents).
void dismissComplection(platform::UIViewController& controller, Complection complection);
// The controller dismisses, with the flag, no completion.
void dismissWithAnimation(platform::UIViewController& controller, bool animated);
// As dismissComplection, with the flag: through the navigation controller, and through the controller
// itself when it has none (so the completion always runs after a dismissal).
void dismissWithAnimation(platform::UIViewController& controller, bool animated, Complection completion);

// Hides the pushed screen's bottom bar, then pushes it animated.
void pushViewController(platform::UIViewController& controller, const platform::UIViewControllerPtr& pushed);
void pushViewController(platform::UIViewController& controller, const platform::UIViewControllerPtr& pushed,
                        bool animated);
// The navigation controller pops one level, animated.
void pop(platform::UIViewController& controller);
