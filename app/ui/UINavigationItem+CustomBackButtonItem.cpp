#include "app/ui/AssociatedObjects.h"
#include "app/ui/UINavigationItem+CustomBackButtonItem.h"

#include <mutex>

using namespace platform;

namespace {
const char kBackItemKey = 0;
} // namespace

void loadCustomBackButtonItem() {
    static std::once_flag once;
    std::call_once(
        once, [] { UINavigationItem::setBackBarButtonItemProvider(myCustomBackButton_backBarbuttonItem); });
}

UIBarButtonItemPtr myCustomBackButton_backBarbuttonItem(UINavigationItem& item) {
    if (auto stored = item.storedBackBarButtonItem())
        return stored;
    auto backItem = ::detail::associated<UIBarButtonItem>(item, &kBackItemKey);
    if (!backItem) {
        backItem = UIBarButtonItem::create(std::optional<std::string>(""), UIBarButtonItemStyleBordered,
                                           nullptr, Selector{});
        ::detail::setAssociated(item, &kBackItemKey, backItem);
    }
    return backItem;
}
