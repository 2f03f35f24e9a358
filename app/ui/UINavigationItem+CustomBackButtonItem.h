#pragma once
// UINavigationItem(CustomBackButtonItem): every back button shows the arrow without the previous screen's
// title. Loading the extension (once per process; later calls do nothing) replaces the navigation items'
// back-item getter: an item that was given its own back item keeps it; any other answers its own
// empty-title bordered item without target or action, made on first read and kept with the item.
// Main thread only.

#include "platform/ui/UINavigationItem.h"

// Installs the replacement getter; the base navigation controller and base screens call it.
void loadCustomBackButtonItem();
// The replacement getter.
platform::UIBarButtonItemPtr myCustomBackButton_backBarbuttonItem(platform::UINavigationItem& item);
