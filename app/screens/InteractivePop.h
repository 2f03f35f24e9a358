#pragma once
// The login and home screens keep the stack's swipe-back off while they are on screen (there is nothing
// to swipe back to from the first, and the second leaves only by logging out).

#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIViewController.h"

inline void setInteractivePopEnabled(platform::UIViewController& screen, bool enabled) {
    if (auto navigation = screen.navigationController())
        navigation->interactivePopGestureRecognizer()->setEnabled(enabled);
}
