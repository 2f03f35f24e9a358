#pragma once
// UIViewController(Subclass_Rewrite): the hooks through which a screen changes the shared chrome, and
// adjustNavigationBar, which applies them each time a screen is about to appear.
//
// Screens override the hooks by inheriting the mixin Subclass_Rewrite (the base screens do) and
// overriding its virtual members; calling the base member gives the default. The free functions below
// are what the machinery calls: for a controller with the mixin they call its members, for any other
// controller they answer the defaults. So any controller can use adjustNavigationBar.
//
//     class HomeViewController : public BaseViewController {
//         bool preferredNavigationBarHidden() override { return true; }
//     };
//
// Inside a screen the members hide the free functions of the same names: call those as
// ::adjustNavigationBar(*this). Main thread only.

#include "app/ui/ControllerMixin.h"
#include "platform/graphics/Color.h"
#include "platform/ui/UIGestureRecognizer.h"

class Subclass_Rewrite : public detail::ControllerMixin {
public:
    Subclass_Rewrite() = default;

    virtual bool preferredNavigationBarHidden() { return false; }
    virtual bool preferredNavigationBarSearchBar() { return false; }
    virtual bool preferredNetworkMonitoring() { return false; }
    // White, black, and red 0, green 64/255, blue 221/255.
    virtual platform::UIColorPtr customNavigationBarColor();
    virtual platform::UIColorPtr customNavigationBarTitleColor();
    virtual platform::UIColorPtr customNavigationBarButtonItemColor();
    // In order: the bar shown or hidden (animated) as preferred; bar colour, title colour and button
    // colour from the hooks; the status-bar style from the bar colour at once; the back button; the
    // search bar.
    virtual void adjustNavigationBar();
    // With two or more screens on the parent navigation stack, the back button; else no left items and
    // no system back button. Either way the stack's swipe-back gesture is enabled with this controller
    // as its delegate.
    virtual void automaticallyAddBackButton();
    // The "navigation_back_white" arrow in the button colour, popping the stack when tapped.
    virtual void addBackButton();
    // When a search bar is preferred and none is stored yet: one search bar, made once, as the title view.
    virtual void automaticallyAddSearchBar();
    // The swipe-back gesture begins unless the stack holds exactly one screen.
    virtual bool gestureRecognizerShouldBegin(platform::UIGestureRecognizer* recognizer);

protected:
    // The defaults on behalf of a controller without the mixin.
    explicit Subclass_Rewrite(platform::UIViewController& controller)
        : ControllerMixin(controller) {}
};

bool preferredNavigationBarHidden(platform::UIViewController& controller);
bool preferredNavigationBarSearchBar(platform::UIViewController& controller);
bool preferredNetworkMonitoring(platform::UIViewController& controller);
platform::UIColorPtr customNavigationBarColor(platform::UIViewController& controller);
platform::UIColorPtr customNavigationBarTitleColor(platform::UIViewController& controller);
platform::UIColorPtr customNavigationBarButtonItemColor(platform::UIViewController& controller);
void adjustNavigationBar(platform::UIViewController& controller);
void automaticallyAddBackButton(platform::UIViewController& controller);
void addBackButton(platform::UIViewController& controller);
void automaticallyAddSearchBar(platform::UIViewController& controller);
bool gestureRecognizerShouldBegin(platform::UIViewController& controller,
                                  platform::UIGestureRecognizer* recognizer);
