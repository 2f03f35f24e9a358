#include "app/ui/UISearchBar+Custom.h"

using namespace platform;

void adjustBackgroundColor(UISearchBar& searchBar, UIColorPtr color) {
    if (searchBar.subviews().empty())
        return;
    const auto& content = searchBar.subviews().front()->subviews();
    if (!content.empty())
        content.back()->setBackgroundColor(std::move(color));
}
