#pragma once
// UIControl: a view that turns touches into control events and sends each event's target-actions, in the
// order they were added. A touch that goes down sends TouchDown and highlights the control; lifting it
// sends TouchUpInside when the finger is within 70 points of the bounds (the platform's slop), else
// TouchUpOutside; a cancelled touch sends TouchCancel. A disabled control sends nothing and is not
// highlighted. Targets are held weakly; the same target, action and events are added only once.
// Main thread only.

#include "platform/ui/Selector.h"
#include "platform/ui/UIView.h"

#include <cstdint>
#include <vector>

namespace platform {

enum UIControlEvents : uint64_t {
    UIControlEventTouchDown = 1 << 0,
    UIControlEventTouchDownRepeat = 1 << 1,
    UIControlEventTouchDragInside = 1 << 2,
    UIControlEventTouchDragOutside = 1 << 3,
    UIControlEventTouchDragEnter = 1 << 4,
    UIControlEventTouchDragExit = 1 << 5,
    UIControlEventTouchUpInside = 1 << 6,
    UIControlEventTouchUpOutside = 1 << 7,
    UIControlEventTouchCancel = 1 << 8,
    UIControlEventValueChanged = 1 << 12,
    UIControlEventPrimaryActionTriggered = 1 << 13,
    UIControlEventEditingDidBegin = 1 << 16,
    UIControlEventEditingChanged = 1 << 17,
    UIControlEventEditingDidEnd = 1 << 18,
    UIControlEventEditingDidEndOnExit = 1 << 19,
    UIControlEventAllTouchEvents = 0x00000FFF,
    UIControlEventAllEditingEvents = 0x000F0000,
    UIControlEventApplicationReserved = 0x0F000000,
    UIControlEventSystemReserved = 0xF0000000,
    UIControlEventAllEvents = 0xFFFFFFFF,
};

enum UIControlState : uint64_t {
    UIControlStateNormal = 0,
    UIControlStateHighlighted = 1 << 0,
    UIControlStateDisabled = 1 << 1,
    UIControlStateSelected = 1 << 2,
    UIControlStateFocused = 1 << 3,
    UIControlStateApplication = 0x00FF0000,
    UIControlStateReserved = 0xFF000000,
};

enum UIControlContentHorizontalAlignment : int64_t {
    UIControlContentHorizontalAlignmentCenter = 0,
    UIControlContentHorizontalAlignmentLeft = 1,
    UIControlContentHorizontalAlignmentRight = 2,
    UIControlContentHorizontalAlignmentFill = 3,
};

enum UIControlContentVerticalAlignment : int64_t {
    UIControlContentVerticalAlignmentCenter = 0,
    UIControlContentVerticalAlignmentTop = 1,
    UIControlContentVerticalAlignmentBottom = 2,
    UIControlContentVerticalAlignmentFill = 3,
};

class UIControl;
using UIControlPtr = std::shared_ptr<UIControl>;

class UIControl : public UIView {
public:
    static UIControlPtr create() { return std::make_shared<UIControl>(); }
    using UIView::UIView;

    // A null target sends the action with no target (closure actions).
    void addTarget(const ObjectPtr& target, Selector action, uint64_t controlEvents);
    // A null target or an empty action name matches all.
    void removeTarget(const Object* target, const std::string& actionName, uint64_t controlEvents);
    std::vector<ObjectPtr> allTargets() const;
    uint64_t allControlEvents() const;
    // The action names registered for the target (null: for no target) and exactly this event.
    std::vector<std::string> actionsForTarget(const Object* target, uint64_t controlEvent) const;

    // Sends the actions of every event in the mask, event by event in bit order.
    void sendActionsForControlEvents(uint64_t controlEvents);
    virtual void sendAction(const Selector& action, const ObjectPtr& target, const UIEventPtr& event);

    bool isEnabled() const { return m_enabled; }
    virtual void setEnabled(bool enabled);
    bool isSelected() const { return m_selected; }
    virtual void setSelected(bool selected);
    bool isHighlighted() const { return m_highlighted; }
    virtual void setHighlighted(bool highlighted);
    uint64_t state() const;
    bool isTracking() const { return m_tracking; }
    bool isTouchInside() const { return m_touchInside; }

    UIControlContentHorizontalAlignment contentHorizontalAlignment() const { return m_horizontalAlignment; }
    void setContentHorizontalAlignment(int64_t alignment);
    UIControlContentVerticalAlignment contentVerticalAlignment() const { return m_verticalAlignment; }
    void setContentVerticalAlignment(int64_t alignment);

    // Tracking hooks, as on the platform.
    virtual bool beginTrackingWithTouch(const UITouchPtr& touch, const UIEventPtr& event);
    virtual bool continueTrackingWithTouch(const UITouchPtr& touch, const UIEventPtr& event);
    virtual void endTrackingWithTouch(const UITouchPtr& touch, const UIEventPtr& event);
    virtual void cancelTrackingWithEvent(const UIEventPtr& event);

    void touchesBegan(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesMoved(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) override;

protected:
    // Called after enabled, selected or highlighted changed (buttons restyle here).
    virtual void stateDidChange() {}

private:
    struct Registration {
        TargetAction pair;
        uint64_t events;
    };
    void sendEvents(uint64_t controlEvents, const UIEventPtr& event);
    bool isTouchNear(const UITouchPtr& touch);

    std::vector<Registration> m_registrations;
    UIControlContentHorizontalAlignment m_horizontalAlignment{UIControlContentHorizontalAlignmentCenter};
    UIControlContentVerticalAlignment m_verticalAlignment{UIControlContentVerticalAlignmentCenter};
    bool m_enabled{true};
    bool m_selected{false};
    bool m_highlighted{false};
    bool m_tracking{false};
    bool m_touchInside{false};
};

} // namespace platform
