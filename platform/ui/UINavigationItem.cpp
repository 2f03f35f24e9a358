#include "platform/ui/UINavigationItem.h"

#include "platform/ui/UINavigationBar.h"

namespace platform {

namespace {
UINavigationItem::BackItemProvider& backItemProvider() {
    static UINavigationItem::BackItemProvider provider;
    return provider;
}
} // namespace

void UINavigationItem::changed() {
    if (auto bar = m_bar.lock())
        bar->navigationItemChanged();
}

void UINavigationItem::setTitle(std::optional<std::string> title) {
    m_title = std::move(title);
    changed();
}

void UINavigationItem::setTitleView(std::shared_ptr<UIView> view) {
    m_titleView = std::move(view);
    changed();
}

void UINavigationItem::setPrompt(std::optional<std::string> prompt) {
    m_prompt = std::move(prompt);
    changed();
}

UIBarButtonItemPtr UINavigationItem::leftBarButtonItem() const {
    return m_leftItems.empty() ? nullptr : m_leftItems.front();
}

void UINavigationItem::setLeftBarButtonItem(UIBarButtonItemPtr item, bool animated) {
    setLeftBarButtonItems(item ? std::vector{std::move(item)} : std::vector<UIBarButtonItemPtr>{}, animated);
}

void UINavigationItem::setLeftBarButtonItems(std::vector<UIBarButtonItemPtr> items, bool) {
    std::erase(items, nullptr);
    m_leftItems = std::move(items);
    changed();
}

UIBarButtonItemPtr UINavigationItem::rightBarButtonItem() const {
    return m_rightItems.empty() ? nullptr : m_rightItems.front();
}

void UINavigationItem::setRightBarButtonItem(UIBarButtonItemPtr item, bool animated) {
    setRightBarButtonItems(item ? std::vector{std::move(item)} : std::vector<UIBarButtonItemPtr>{}, animated);
}

void UINavigationItem::setRightBarButtonItems(std::vector<UIBarButtonItemPtr> items, bool) {
    std::erase(items, nullptr);
    m_rightItems = std::move(items);
    changed();
}

void UINavigationItem::setLeftItemsSupplementBackButton(bool on) {
    m_leftItemsSupplementBackButton = on;
    changed();
}

UIBarButtonItemPtr UINavigationItem::backBarButtonItem() {
    if (m_backItem)
        return m_backItem;
    if (const auto& provider = backItemProvider())
        return provider(*this);
    return nullptr;
}

void UINavigationItem::setBackBarButtonItem(UIBarButtonItemPtr item) {
    m_backItem = std::move(item);
    changed();
}

void UINavigationItem::setBackBarButtonItemProvider(BackItemProvider provider) {
    backItemProvider() = std::move(provider);
}

void UINavigationItem::setHidesBackButton(bool hides, bool) {
    m_hidesBackButton = hides;
    changed();
}

} // namespace platform
