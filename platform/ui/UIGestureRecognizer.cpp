#include "platform/ui/UIGestureRecognizer.h"

#include "platform/ui/UIView.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>

namespace platform {

UIGestureRecognizer::UIGestureRecognizer(const ObjectPtr& target, Selector action) {
    addTarget(target, std::move(action));
}

UIGestureRecognizer::~UIGestureRecognizer() = default;

void UIGestureRecognizer::addTarget(const ObjectPtr& target, Selector action) {
    for (const auto& pair : m_targets) {
        if (pair.matches(target.get(), &action.name) && pair.hasTarget == (target != nullptr))
            return;
    }
    m_targets.emplace_back(target, std::move(action));
}

void UIGestureRecognizer::removeTarget(const Object* target, const std::string& actionName) {
    std::erase_if(m_targets, [&](const TargetAction& pair) {
        return pair.matches(target, actionName.empty() ? nullptr : &actionName);
    });
}

void UIGestureRecognizer::setView(const std::shared_ptr<UIView>& view) {
    m_view = view;
}

void UIGestureRecognizer::setEnabled(bool enabled) {
    if (m_enabled == enabled)
        return;
    if (!enabled) {
        if (m_state == UIGestureRecognizerStateBegan || m_state == UIGestureRecognizerStateChanged)
            setState(UIGestureRecognizerStateCancelled);
        else if (m_state == UIGestureRecognizerStatePossible && m_inGesture)
            setState(UIGestureRecognizerStateFailed);
        m_touches.clear();
    }
    m_enabled = enabled;
}

bool UIGestureRecognizer::isTerminal() const {
    return m_state == UIGestureRecognizerStateEnded || m_state == UIGestureRecognizerStateCancelled ||
           m_state == UIGestureRecognizerStateFailed;
}

bool UIGestureRecognizer::waitsForDependencies() const {
    for (const auto& weak : m_requiredToFail) {
        auto other = weak.lock();
        // Only a recognizer that is following a gesture of its own can still fail or succeed; one that
        // saw no touches would otherwise hold this one back for ever.
        if (other && other->m_state == UIGestureRecognizerStatePossible && other->m_inGesture)
            return true;
    }
    return false;
}

void UIGestureRecognizer::setState(UIGestureRecognizerState state) {
    auto keepAlive = shared_from_this();
    const bool recognizing =
        m_state == UIGestureRecognizerStatePossible &&
        (state == UIGestureRecognizerStateBegan || state == UIGestureRecognizerStateEnded);
    if (recognizing) {
        auto delegate = m_delegate.lock();
        if (delegate && !delegate->gestureRecognizerShouldBegin(this)) {
            state = UIGestureRecognizerStateFailed;
        } else if (waitsForDependencies()) {
            m_pendingState = state;
            return;
        }
    }
    if (state == UIGestureRecognizerStateFailed && m_state == UIGestureRecognizerStateFailed)
        return;
    m_pendingState = UIGestureRecognizerStatePossible;
    m_state = state;

    if (state == UIGestureRecognizerStateFailed) {
        for (const auto& weak : std::vector(m_dependents)) {
            if (auto dependent = weak.lock())
                dependent->dependencyFailed(this);
        }
        return;
    }
    if (state == UIGestureRecognizerStatePossible)
        return;
    if (recognizing) {
        excludeOthers();
        for (const auto& weak : std::vector(m_dependents)) {
            if (auto dependent = weak.lock())
                dependent->dependencyRecognized(this);
        }
    }
    sendActions();
}

void UIGestureRecognizer::sendActions() {
    for (const auto& pair : std::vector(m_targets))
        pair.send(this, nullptr);
}

void UIGestureRecognizer::excludeOthers() {
    auto isDependent = [this](UIGestureRecognizer* other) {
        return std::any_of(other->m_requiredToFail.begin(), other->m_requiredToFail.end(),
                           [this](const auto& weak) { return weak.lock().get() == this; });
    };
    std::vector<UIGestureRecognizerPtr> losers;
    for (const auto& weakTouch : m_gestureTouches) {
        auto touch = weakTouch.lock();
        if (!touch)
            continue;
        for (const auto& other : touch->gestureRecognizers()) {
            if (!other || other.get() == this || other->m_state != UIGestureRecognizerStatePossible ||
                !other->m_inGesture || isDependent(other.get()))
                continue;
            auto mine = m_delegate.lock();
            auto theirs = other->m_delegate.lock();
            if ((mine && mine->gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(
                             this, other.get())) ||
                (theirs && theirs->gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(
                               other.get(), this)))
                continue;
            if (std::find(losers.begin(), losers.end(), other) == losers.end())
                losers.push_back(other);
        }
    }
    for (const auto& loser : losers)
        loser->setState(UIGestureRecognizerStateFailed);
}

void UIGestureRecognizer::requireGestureRecognizerToFail(const UIGestureRecognizerPtr& other) {
    if (!other || other.get() == this)
        return;
    m_requiredToFail.push_back(other);
    other->m_dependents.push_back(std::static_pointer_cast<UIGestureRecognizer>(shared_from_this()));
}

void UIGestureRecognizer::dependencyFailed(UIGestureRecognizer*) {
    if (m_state != UIGestureRecognizerStatePossible || m_pendingState == UIGestureRecognizerStatePossible)
        return;
    if (waitsForDependencies())
        return;
    auto pending = m_pendingState;
    m_pendingState = UIGestureRecognizerStatePossible;
    setState(pending);
}

void UIGestureRecognizer::dependencyRecognized(UIGestureRecognizer*) {
    if (m_state == UIGestureRecognizerStatePossible &&
        (m_inGesture || m_pendingState != UIGestureRecognizerStatePossible))
        setState(UIGestureRecognizerStateFailed);
}

CGPoint UIGestureRecognizer::centroidInWindow(const UITouchSet& touches) {
    CGPoint sum;
    if (touches.empty())
        return sum;
    for (const auto& touch : touches) {
        CGPoint p = touch->locationInWindow();
        sum.x += p.x;
        sum.y += p.y;
    }
    return {sum.x / touches.size(), sum.y / touches.size()};
}

static CGPoint fromWindow(CGPoint point, const std::shared_ptr<UIView>& view) {
    if (!view)
        return point;
    return view->convertPointFromView(point, nullptr);
}

UITouchSet UIGestureRecognizer::trackedTouches() const {
    UITouchSet touches;
    for (const auto& weak : m_touches) {
        if (auto touch = weak.lock())
            touches.push_back(std::move(touch));
    }
    return touches;
}

CGPoint UIGestureRecognizer::locationInView(const std::shared_ptr<UIView>& view) const {
    auto touches = trackedTouches();
    CGPoint inWindow = touches.empty() ? m_lastLocationInWindow : centroidInWindow(touches);
    return fromWindow(inWindow, view);
}

CGPoint UIGestureRecognizer::locationOfTouch(uint64_t index, const std::shared_ptr<UIView>& view) const {
    auto touches = trackedTouches();
    if (index >= touches.size())
        return locationInView(view);
    return fromWindow(touches[index]->locationInWindow(), view);
}

bool UIGestureRecognizer::shouldReceiveTouch(const UITouchPtr& touch) {
    if (!m_enabled)
        return false;
    auto delegate = m_delegate.lock();
    return !delegate || delegate->gestureRecognizerShouldReceiveTouch(this, touch.get());
}

void UIGestureRecognizer::touchesBegan(const UITouchSet& touches, const UIEventPtr&) {
    if (isTerminal() && trackedTouches().empty())
        reset();
    auto contains = [](const std::vector<std::weak_ptr<UITouch>>& list, const UITouchPtr& touch) {
        return std::any_of(list.begin(), list.end(), [&](const auto& weak) { return weak.lock() == touch; });
    };
    for (const auto& touch : touches) {
        if (!contains(m_touches, touch))
            m_touches.push_back(touch);
        if (!contains(m_gestureTouches, touch))
            m_gestureTouches.push_back(touch);
    }
    m_inGesture = true;
    m_lastLocationInWindow = centroidInWindow(trackedTouches());
}

void UIGestureRecognizer::touchesMoved(const UITouchSet&, const UIEventPtr&) {
    auto tracked = trackedTouches();
    if (!tracked.empty())
        m_lastLocationInWindow = centroidInWindow(tracked);
}

void UIGestureRecognizer::forget(const UITouchSet& touches) {
    auto tracked = trackedTouches();
    if (!tracked.empty())
        m_lastLocationInWindow = centroidInWindow(tracked);
    std::erase_if(m_touches, [&](const std::weak_ptr<UITouch>& weak) {
        auto touch = weak.lock();
        return !touch || std::find(touches.begin(), touches.end(), touch) != touches.end();
    });
}

void UIGestureRecognizer::touchesEnded(const UITouchSet& touches, const UIEventPtr&) {
    forget(touches);
}

void UIGestureRecognizer::touchesCancelled(const UITouchSet& touches, const UIEventPtr&) {
    forget(touches);
}

void UIGestureRecognizer::reset() {
    m_state = UIGestureRecognizerStatePossible;
    m_pendingState = UIGestureRecognizerStatePossible;
    m_touches.clear();
    m_gestureTouches.clear();
    m_inGesture = false;
}

} // namespace platform
