#pragma once
// UISearchBar(Custom): colours the text field inside a search bar, which the platform does not expose:
// the field is the last subview of the bar's first subview. A bar without that arrangement is left alone.
// Main thread only.

#include "platform/graphics/Color.h"
#include "platform/ui/UISearchBar.h"

void adjustBackgroundColor(platform::UISearchBar& searchBar, platform::UIColorPtr color);
