#pragma once
// UIViewController(NavigationBar): bar-button builders. Every item's action goes to the controller itself
// (held weakly by the item or button). Title items are plain, in the system font of 17 points and the
// given colour; image items are custom buttons at the image's size in screen points. Items land on the
// target navigation item (UIViewController+Base.h); without one they are built and stored but shown
// nowhere. Main thread only.

#include "platform/foundation/Value.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Selector.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIViewController.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Kinds of addNavigationBarRightButtonItems entries.
enum NavigationBarButtonKind : uint64_t {
    NavigationBarButtonKindImage = 0,     // the entry is an image
    NavigationBarButtonKindImageName = 1, // the name of a resource image, tinted in the button colour
    NavigationBarButtonKindTitle = 2,     // the title, in the button colour
};

// barButtonItemWithTitle:color:action:button: (the out-parameter is left untouched).
platform::UIBarButtonItemPtr barButtonItemWithTitle(platform::UIViewController& controller,
                                                    std::optional<std::string> title,
                                                    platform::UIColorPtr color, platform::Selector action,
                                                    platform::UIButtonPtr* button);
// barButtonItemWithImage:action:button: the button (touch-up-inside) comes back through `button` when given.
platform::UIBarButtonItemPtr barButtonItemWithImage(platform::UIViewController& controller,
                                                    platform::UIImagePtr image, platform::Selector action,
                                                    platform::UIButtonPtr* button);

// The title forms take navigationBarButtonItemColor when no colour is given.
void addNavigationBarLeftButtonItemWithTitle(platform::UIViewController& controller,
                                             std::optional<std::string> title, platform::Selector action);
void addNavigationBarLeftButtonItemWithTitle(platform::UIViewController& controller,
                                             std::optional<std::string> title, platform::UIColorPtr color,
                                             platform::Selector action);
// On the left the image item follows a fixed space of -7 points, which pulls it to the bar's edge.
void addNavigationBarLeftButtonItemWithImage(platform::UIViewController& controller,
                                             platform::UIImagePtr image, platform::Selector action);
void addNavigationBarLeftButtonItemWithImageName(platform::UIViewController& controller,
                                                 std::string_view name, platform::Selector action);
void addNavigationBarRightButtonItemWithTitle(platform::UIViewController& controller,
                                              std::optional<std::string> title, platform::Selector action);
void addNavigationBarRightButtonItemWithTitle(platform::UIViewController& controller,
                                              std::optional<std::string> title, platform::UIColorPtr color,
                                              platform::Selector action);
void addNavigationBarRightButtonItemWithImage(platform::UIViewController& controller,
                                              platform::UIImagePtr image, platform::Selector action);
void addNavigationBarRightButtonItemWithImageName(platform::UIViewController& controller,
                                                  std::string_view name, platform::Selector action);
// Several right items at once, the last entry first (the right-most). Nothing happens unless the three
// lists are as long; an entry of another kind, or whose object does not fit its kind, is skipped. The
// stored right button and item stay as they were.
void addNavigationBarRightButtonItems(platform::UIViewController& controller,
                                      const platform::ValueArray& objects, const std::vector<uint64_t>& types,
                                      const std::vector<platform::Selector>& actions);

// On the target item: no left items, and the system back button hidden / no right items.
void removeNavigationBarLeftButtonItems(platform::UIViewController& controller);
void removeNavigationBarRightButtonItems(platform::UIViewController& controller);
// Pops the navigation controller one level, animated.
void backButtonClicked(platform::UIViewController& controller, platform::Object* sender);

namespace detail {
// backButtonClicked: as an action whose target is the controller.
platform::Selector backButtonClickedAction();
} // namespace detail
