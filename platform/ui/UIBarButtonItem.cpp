#include "platform/ui/UIBarButtonItem.h"

#include "platform/ui/UIView.h"

namespace platform {

UIBarButtonItemPtr UIBarButtonItem::create(std::optional<std::string> title, int64_t style,
                                           const ObjectPtr& target, Selector action) {
    auto item = std::make_shared<UIBarButtonItem>();
    item->m_title = std::move(title);
    item->setStyle(style);
    item->setTarget(target);
    item->m_action = std::move(action);
    return item;
}

UIBarButtonItemPtr UIBarButtonItem::create(UIImagePtr image, int64_t style, const ObjectPtr& target,
                                           Selector action) {
    auto item = std::make_shared<UIBarButtonItem>();
    item->m_image = std::move(image);
    item->setStyle(style);
    item->setTarget(target);
    item->m_action = std::move(action);
    return item;
}

UIBarButtonItemPtr UIBarButtonItem::create(std::shared_ptr<UIView> customView) {
    auto item = std::make_shared<UIBarButtonItem>();
    item->m_customView = std::move(customView);
    return item;
}

UIBarButtonItemPtr UIBarButtonItem::create(UIBarButtonSystemItem systemItem, const ObjectPtr& target,
                                           Selector action) {
    auto item = std::make_shared<UIBarButtonItem>();
    item->m_systemItem = systemItem;
    item->setTarget(target);
    item->m_action = std::move(action);
    return item;
}

void UIBarButtonItem::setTarget(const ObjectPtr& target) {
    m_target = target;
    m_hasTarget = target != nullptr;
}

void UIBarButtonItem::setTitleTextAttributes(NSAttributes attributes, uint64_t state) {
    m_titleTextAttributes[state] = std::move(attributes);
}

NSAttributes UIBarButtonItem::titleTextAttributesForState(uint64_t state) const {
    auto it = m_titleTextAttributes.find(state);
    return it == m_titleTextAttributes.end() ? NSAttributes{} : it->second;
}

bool UIBarButtonItem::sendAction() {
    if (!m_enabled)
        return false;
    auto keepAlive = shared_from_this();
    TargetAction pair(m_target.lock(), m_action);
    if (m_hasTarget && !pair.target.lock())
        return false;
    return pair.send(this, nullptr);
}

} // namespace platform
