#pragma once
// UIViewController(Base): per-controller chrome state, kept as associated objects of any controller (not
// only the base screens), with setters that route the value to the navigation bar.
//
// The target navigation item is the controller's own item when its parent is a navigation controller, the
// tab-bar controller's item when its parent is one, else none: the item operations then do nothing (the
// title becomes the controller's own title). Flags never set read NO, objects never set read null.
// Main thread only.

#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Color.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UIViewController.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// YES from construction of a base screen until its first viewDidDisappear.
bool isFirstTimeAppearing(const platform::UIViewController& controller);
void setFirstTimeAppearing(platform::UIViewController& controller, bool on);
// YES between viewDidAppear and viewDidDisappear.
bool isViewActive(const platform::UIViewController& controller);
void setViewActive(platform::UIViewController& controller, bool on);
// Stored only.
bool isNavigationBarTranslucent(const platform::UIViewController& controller);
void setNavigationBarTranslucent(platform::UIViewController& controller, bool on);

// Stores the colour and colours the navigation controller's bar with it (UINavigationController+Custom.h).
platform::UIColorPtr navigationBarColor(const platform::UIViewController& controller);
void setNavigationBarColor(platform::UIViewController& controller, platform::UIColorPtr color);

// The stored title, else the target item's title.
std::optional<std::string> navigationBarTitle(platform::UIViewController& controller);
void setNavigationBarTitle(platform::UIViewController& controller, std::optional<std::string> title);

// Title attributes live on the navigation controller's bar, and only when the parent is a navigation
// controller (nullopt otherwise); the title colour is their foreground colour.
std::optional<platform::NSAttributes> navigationBarTitleAttributes(platform::UIViewController& controller);
void setNavigationBarTitleAttributes(platform::UIViewController& controller,
                                     std::optional<platform::NSAttributes> attributes);
platform::UIColorPtr navigationBarTitleColor(platform::UIViewController& controller);
void setNavigationBarTitleColor(platform::UIViewController& controller, platform::UIColorPtr color);

platform::UIViewPtr navigationBarTitleView(platform::UIViewController& controller);
void setNavigationBarTitleView(platform::UIViewController& controller, platform::UIViewPtr view);

// The colour of bar-button titles and tinted bar-button images; stored only.
platform::UIColorPtr navigationBarButtonItemColor(const platform::UIViewController& controller);
void setNavigationBarButtonItemColor(platform::UIViewController& controller, platform::UIColorPtr color);

// Stored, and made the title view.
platform::UISearchBarPtr navigationBarSearchBar(const platform::UIViewController& controller);
void setNavigationBarSearchBar(platform::UIViewController& controller, platform::UISearchBarPtr searchBar);

// The stored items (fall back to the target item's first left / right item) and buttons, which the
// bar-button builders of UIViewController+NavigationBar.h store.
platform::UIBarButtonItemPtr navigationBarLeftButtonItem(platform::UIViewController& controller);
void setNavigationBarLeftButtonItem(platform::UIViewController& controller,
                                    platform::UIBarButtonItemPtr item);
platform::UIBarButtonItemPtr navigationBarRightButtonItem(platform::UIViewController& controller);
void setNavigationBarRightButtonItem(platform::UIViewController& controller,
                                     platform::UIBarButtonItemPtr item);
platform::UIButtonPtr navigationBarLeftButton(const platform::UIViewController& controller);
void setNavigationBarLeftButton(platform::UIViewController& controller, platform::UIButtonPtr button);
platform::UIButtonPtr navigationBarRightButton(const platform::UIViewController& controller);
void setNavigationBarRightButton(platform::UIViewController& controller, platform::UIButtonPtr button);

// Clear the target item's items on that side first (removeNavigationBarLeftButtonItems ...), then set.
void setNavigationBarLeftButtonItems(platform::UIViewController& controller,
                                     std::vector<platform::UIBarButtonItemPtr> items);
void setNavigationBarRightButtonItems(platform::UIViewController& controller,
                                      std::vector<platform::UIBarButtonItemPtr> items);

namespace detail {
// The item the bar operations act on (see above), or null.
platform::UINavigationItemPtr targetNavigationItem(platform::UIViewController& controller);
} // namespace detail
