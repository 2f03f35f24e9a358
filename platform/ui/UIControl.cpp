#include "platform/ui/UIControl.h"

#include <algorithm>

namespace platform {

namespace {
// How far outside its bounds a finger may lift and still count as inside, as on the platform.
constexpr double touchSlop = 70;
} // namespace

void UIControl::addTarget(const ObjectPtr& target, Selector action, uint64_t controlEvents) {
    for (auto& registration : m_registrations) {
        if (registration.pair.hasTarget == (target != nullptr) &&
            registration.pair.matches(target.get(), &action.name)) {
            registration.events |= controlEvents;
            return;
        }
    }
    m_registrations.push_back({TargetAction(target, std::move(action)), controlEvents});
}

void UIControl::removeTarget(const Object* target, const std::string& actionName, uint64_t controlEvents) {
    for (auto& registration : m_registrations) {
        if (registration.pair.matches(target, actionName.empty() ? nullptr : &actionName))
            registration.events &= ~controlEvents;
    }
    std::erase_if(m_registrations, [](const Registration& registration) { return registration.events == 0; });
}

std::vector<ObjectPtr> UIControl::allTargets() const {
    std::vector<ObjectPtr> targets;
    for (const auto& registration : m_registrations) {
        auto target = registration.pair.target.lock();
        if (target && std::find(targets.begin(), targets.end(), target) == targets.end())
            targets.push_back(target);
    }
    return targets;
}

uint64_t UIControl::allControlEvents() const {
    uint64_t events = 0;
    for (const auto& registration : m_registrations)
        events |= registration.events;
    return events;
}

std::vector<std::string> UIControl::actionsForTarget(const Object* target, uint64_t controlEvent) const {
    std::vector<std::string> names;
    for (const auto& registration : m_registrations) {
        const bool sameTarget =
            target ? registration.pair.target.lock().get() == target : !registration.pair.hasTarget;
        if (sameTarget && (registration.events & controlEvent))
            names.push_back(registration.pair.action.name);
    }
    return names;
}

void UIControl::sendActionsForControlEvents(uint64_t controlEvents) {
    sendEvents(controlEvents, nullptr);
}

void UIControl::sendEvents(uint64_t controlEvents, const UIEventPtr& event) {
    auto keepAlive = shared_from_this();
    for (uint64_t bit = 1; bit != 0 && bit <= controlEvents; bit <<= 1) {
        if (!(controlEvents & bit))
            continue;
        for (const auto& registration : std::vector(m_registrations)) {
            if (!(registration.events & bit))
                continue;
            auto target = registration.pair.target.lock();
            if (registration.pair.hasTarget && !target)
                continue;
            sendAction(registration.pair.action, target, event);
        }
    }
}

void UIControl::sendAction(const Selector& action, const ObjectPtr& target, const UIEventPtr& event) {
    if (action.perform)
        action.perform(target.get(), this, event.get());
}

void UIControl::setEnabled(bool enabled) {
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    if (!enabled)
        m_highlighted = false;
    stateDidChange();
    setNeedsDisplay();
}

void UIControl::setSelected(bool selected) {
    if (m_selected == selected)
        return;
    m_selected = selected;
    stateDidChange();
    setNeedsDisplay();
}

void UIControl::setHighlighted(bool highlighted) {
    if (m_highlighted == highlighted)
        return;
    m_highlighted = highlighted;
    stateDidChange();
    setNeedsDisplay();
}

uint64_t UIControl::state() const {
    uint64_t state = UIControlStateNormal;
    if (m_highlighted)
        state |= UIControlStateHighlighted;
    if (!m_enabled)
        state |= UIControlStateDisabled;
    if (m_selected)
        state |= UIControlStateSelected;
    return state;
}

void UIControl::setContentHorizontalAlignment(int64_t alignment) {
    m_horizontalAlignment = static_cast<UIControlContentHorizontalAlignment>(alignment);
    setNeedsLayout();
}

void UIControl::setContentVerticalAlignment(int64_t alignment) {
    m_verticalAlignment = static_cast<UIControlContentVerticalAlignment>(alignment);
    setNeedsLayout();
}

bool UIControl::isTouchNear(const UITouchPtr& touch) {
    auto self = std::static_pointer_cast<UIView>(shared_from_this());
    CGPoint point = touch->locationInView(self);
    return CGRectContainsPoint(CGRectInset(bounds(), -touchSlop, -touchSlop), point);
}

bool UIControl::beginTrackingWithTouch(const UITouchPtr&, const UIEventPtr&) {
    return true;
}

bool UIControl::continueTrackingWithTouch(const UITouchPtr&, const UIEventPtr&) {
    return true;
}

void UIControl::endTrackingWithTouch(const UITouchPtr&, const UIEventPtr&) {}

void UIControl::cancelTrackingWithEvent(const UIEventPtr&) {}

void UIControl::touchesBegan(const UITouchSet& touches, const UIEventPtr& event) {
    if (!m_enabled || touches.empty())
        return;
    const auto& touch = touches.front();
    m_touchInside = true;
    m_tracking = beginTrackingWithTouch(touch, event);
    setHighlighted(true);
    uint64_t events = UIControlEventTouchDown;
    if (touch->tapCount() > 1)
        events |= UIControlEventTouchDownRepeat;
    sendEvents(events, event);
}

void UIControl::touchesMoved(const UITouchSet& touches, const UIEventPtr& event) {
    if (!m_enabled || touches.empty())
        return;
    const auto& touch = touches.front();
    const bool wasInside = m_touchInside;
    m_touchInside = isTouchNear(touch);
    setHighlighted(m_touchInside);
    if (m_tracking)
        m_tracking = continueTrackingWithTouch(touch, event);
    uint64_t events = m_touchInside ? UIControlEventTouchDragInside : UIControlEventTouchDragOutside;
    if (wasInside != m_touchInside)
        events |= m_touchInside ? UIControlEventTouchDragEnter : UIControlEventTouchDragExit;
    sendEvents(events, event);
}

void UIControl::touchesEnded(const UITouchSet& touches, const UIEventPtr& event) {
    if (!m_enabled || touches.empty()) {
        m_tracking = false;
        return;
    }
    const auto& touch = touches.front();
    m_touchInside = isTouchNear(touch);
    if (m_tracking)
        endTrackingWithTouch(touch, event);
    m_tracking = false;
    setHighlighted(false);
    sendEvents(m_touchInside ? UIControlEventTouchUpInside : UIControlEventTouchUpOutside, event);
    m_touchInside = false;
}

void UIControl::touchesCancelled(const UITouchSet&, const UIEventPtr& event) {
    if (m_tracking)
        cancelTrackingWithEvent(event);
    m_tracking = false;
    m_touchInside = false;
    setHighlighted(false);
    if (m_enabled)
        sendEvents(UIControlEventTouchCancel, event);
}

} // namespace platform
