#pragma once
// UIBarButtonItem: a button of a navigation bar: a title, an image, a custom view, or a system item (a
// fixed or flexible space among them), with a target-action that a tap on it sends. Not a view: the bar
// makes the view that shows it (a custom view is shown as it is). The target is held weakly.
// Main thread only.

#include "platform/foundation/Object.h"
#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Selector.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class UIView;
class UIBarButtonItem;
using UIBarButtonItemPtr = std::shared_ptr<UIBarButtonItem>;

enum UIBarButtonItemStyle : int64_t {
    UIBarButtonItemStylePlain = 0,
    UIBarButtonItemStyleBordered = 1,
    UIBarButtonItemStyleDone = 2,
};

enum UIBarButtonSystemItem : int64_t {
    UIBarButtonSystemItemDone = 0,
    UIBarButtonSystemItemCancel = 1,
    UIBarButtonSystemItemEdit = 2,
    UIBarButtonSystemItemSave = 3,
    UIBarButtonSystemItemAdd = 4,
    UIBarButtonSystemItemFlexibleSpace = 5,
    UIBarButtonSystemItemFixedSpace = 6,
    UIBarButtonSystemItemCompose = 7,
    UIBarButtonSystemItemReply = 8,
    UIBarButtonSystemItemAction = 9,
    UIBarButtonSystemItemOrganize = 10,
    UIBarButtonSystemItemBookmarks = 11,
    UIBarButtonSystemItemSearch = 12,
    UIBarButtonSystemItemRefresh = 13,
    UIBarButtonSystemItemStop = 14,
    UIBarButtonSystemItemCamera = 15,
    UIBarButtonSystemItemTrash = 16,
    UIBarButtonSystemItemPlay = 17,
    UIBarButtonSystemItemPause = 18,
};

class UIBarButtonItem : public Object {
public:
    UIBarButtonItem() = default;
    // initWithTitle:style:target:action:
    static UIBarButtonItemPtr create(std::optional<std::string> title, int64_t style, const ObjectPtr& target,
                                     Selector action);
    // initWithImage:style:target:action:
    static UIBarButtonItemPtr create(UIImagePtr image, int64_t style, const ObjectPtr& target,
                                     Selector action);
    // initWithCustomView:
    static UIBarButtonItemPtr create(std::shared_ptr<UIView> customView);
    // initWithBarButtonSystemItem:target:action:
    static UIBarButtonItemPtr create(UIBarButtonSystemItem systemItem, const ObjectPtr& target,
                                     Selector action);

    const std::optional<std::string>& title() const { return m_title; }
    void setTitle(std::optional<std::string> title) { m_title = std::move(title); }
    UIImagePtr image() const { return m_image; }
    void setImage(UIImagePtr image) { m_image = std::move(image); }
    UIBarButtonItemStyle style() const { return m_style; }
    void setStyle(int64_t style) { m_style = static_cast<UIBarButtonItemStyle>(style); }
    std::shared_ptr<UIView> customView() const { return m_customView; }
    void setCustomView(std::shared_ptr<UIView> view) { m_customView = std::move(view); }
    // -1 when the item is not a system item.
    int64_t systemItem() const { return m_systemItem; }
    double width() const { return m_width; }
    void setWidth(double width) { m_width = width; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    UIColorPtr tintColor() const { return m_tintColor; }
    void setTintColor(UIColorPtr color) { m_tintColor = std::move(color); }
    int64_t tag() const { return m_tag; }
    void setTag(int64_t tag) { m_tag = tag; }

    ObjectPtr target() const { return m_target.lock(); }
    void setTarget(const ObjectPtr& target);
    const Selector& action() const { return m_action; }
    void setAction(Selector action) { m_action = std::move(action); }

    void setTitleTextAttributes(NSAttributes attributes, uint64_t state);
    NSAttributes titleTextAttributesForState(uint64_t state) const;

    // What a tap on the item does: sends its action to its target (with the item as the sender) when it
    // is enabled and its target, if it had one, still lives. Returns whether the action ran.
    bool sendAction();

private:
    std::optional<std::string> m_title;
    UIImagePtr m_image;
    std::shared_ptr<UIView> m_customView;
    UIBarButtonItemStyle m_style{UIBarButtonItemStylePlain};
    int64_t m_systemItem{-1};
    double m_width{0};
    bool m_enabled{true};
    UIColorPtr m_tintColor;
    int64_t m_tag{0};
    std::weak_ptr<Object> m_target;
    bool m_hasTarget{false};
    Selector m_action;
    std::map<uint64_t, NSAttributes> m_titleTextAttributes;
};

} // namespace platform
