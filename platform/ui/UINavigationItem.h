#pragma once
// UINavigationItem: what a navigation bar shows for one controller of the stack: a title or title view,
// left and right bar-button items, and the back item the next controller's bar shows to return here.
// Changing an item while a bar shows it lays that bar out again. Main thread only.

#include "platform/foundation/Object.h"
#include "platform/ui/UIBarButtonItem.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class UIView;
class UINavigationBar;
class UINavigationItem;
using UINavigationItemPtr = std::shared_ptr<UINavigationItem>;

class UINavigationItem : public Object {
public:
    UINavigationItem() = default;
    explicit UINavigationItem(std::optional<std::string> title)
        : m_title(std::move(title)) {}
    static UINavigationItemPtr create(std::optional<std::string> title = std::nullopt) {
        return std::make_shared<UINavigationItem>(std::move(title));
    }

    const std::optional<std::string>& title() const { return m_title; }
    void setTitle(std::optional<std::string> title);
    std::shared_ptr<UIView> titleView() const { return m_titleView; }
    void setTitleView(std::shared_ptr<UIView> view);
    const std::optional<std::string>& prompt() const { return m_prompt; }
    void setPrompt(std::optional<std::string> prompt);

    // The single-item forms read the first of the list and set a list of one (or none for null).
    UIBarButtonItemPtr leftBarButtonItem() const;
    void setLeftBarButtonItem(UIBarButtonItemPtr item, bool animated = false);
    const std::vector<UIBarButtonItemPtr>& leftBarButtonItems() const { return m_leftItems; }
    void setLeftBarButtonItems(std::vector<UIBarButtonItemPtr> items, bool animated = false);
    UIBarButtonItemPtr rightBarButtonItem() const;
    void setRightBarButtonItem(UIBarButtonItemPtr item, bool animated = false);
    const std::vector<UIBarButtonItemPtr>& rightBarButtonItems() const { return m_rightItems; }
    void setRightBarButtonItems(std::vector<UIBarButtonItemPtr> items, bool animated = false);
    bool leftItemsSupplementBackButton() const { return m_leftItemsSupplementBackButton; }
    void setLeftItemsSupplementBackButton(bool on);

    // The item set here, or, when none was set and a provider is installed, what the provider gives.
    UIBarButtonItemPtr backBarButtonItem();
    void setBackBarButtonItem(UIBarButtonItemPtr item);
    // The item that was set, ignoring the provider.
    UIBarButtonItemPtr storedBackBarButtonItem() const { return m_backItem; }
    // A process-wide replacement of the back item's getter for items that have none set (the
    // application gives every back button an empty title this way). An empty function removes it.
    using BackItemProvider = std::function<UIBarButtonItemPtr(UINavigationItem&)>;
    static void setBackBarButtonItemProvider(BackItemProvider provider);

    bool hidesBackButton() const { return m_hidesBackButton; }
    void setHidesBackButton(bool hides, bool animated = false);

    // For UINavigationBar: the bar that shows this item, told of changes.
    void setNavigationBar(const std::shared_ptr<UINavigationBar>& bar) { m_bar = bar; }

private:
    void changed();

    std::optional<std::string> m_title;
    std::optional<std::string> m_prompt;
    std::shared_ptr<UIView> m_titleView;
    std::vector<UIBarButtonItemPtr> m_leftItems;
    std::vector<UIBarButtonItemPtr> m_rightItems;
    UIBarButtonItemPtr m_backItem;
    std::weak_ptr<UINavigationBar> m_bar;
    bool m_hidesBackButton{false};
    bool m_leftItemsSupplementBackButton{false};
};

} // namespace platform
