#include "platform/ui/UIPanGestureRecognizer.h"

#include "platform/ui/UIView.h"
#include "platform/ui/UIWindow.h"

#include <cmath>

namespace platform {

namespace {
// A translation or velocity is a vector: convert both ends into the view and take the difference.
CGPoint vectorInView(CGPoint vector, const std::shared_ptr<UIView>& view) {
    if (!view)
        return vector;
    CGPoint origin = view->convertPointFromView(CGPointZero, nullptr);
    CGPoint end = view->convertPointFromView(vector, nullptr);
    return {end.x - origin.x, end.y - origin.y};
}

CGPoint vectorToWindow(CGPoint vector, const std::shared_ptr<UIView>& view) {
    if (!view)
        return vector;
    CGPoint origin = view->convertPointToView(CGPointZero, nullptr);
    CGPoint end = view->convertPointToView(vector, nullptr);
    return {end.x - origin.x, end.y - origin.y};
}
} // namespace

CGPoint UIPanGestureRecognizer::translationInView(const std::shared_ptr<UIView>& view) const {
    CGPoint now = locationInView(nullptr);
    return vectorInView({now.x - m_start.x, now.y - m_start.y}, view);
}

void UIPanGestureRecognizer::setTranslation(CGPoint translation, const std::shared_ptr<UIView>& view) {
    CGPoint inWindow = vectorToWindow(translation, view);
    CGPoint now = locationInView(nullptr);
    m_start = {now.x - inWindow.x, now.y - inWindow.y};
}

CGPoint UIPanGestureRecognizer::velocityInView(const std::shared_ptr<UIView>& view) const {
    return vectorInView(m_velocity, view);
}

void UIPanGestureRecognizer::touchesBegan(const UITouchSet& touches, const UIEventPtr& event) {
    const bool fresh = trackedTouches().empty() && state() != UIGestureRecognizerStateBegan &&
                       state() != UIGestureRecognizerStateChanged;
    UIGestureRecognizer::touchesBegan(touches, event);
    CGPoint now = centroidInWindow(trackedTouches());
    if (fresh && state() == UIGestureRecognizerStatePossible) {
        m_start = m_gestureStart = now;
        m_velocity = {};
    } else {
        // A finger joining moves the centroid; keep the translation where it was.
        CGPoint shift{now.x - m_lastPoint.x, now.y - m_lastPoint.y};
        m_start = {m_start.x + shift.x, m_start.y + shift.y};
    }
    m_lastPoint = now;
    m_lastTime = event ? event->timestamp() : 0;
    if (state() == UIGestureRecognizerStatePossible && trackedTouches().size() > m_maximumTouches)
        setState(UIGestureRecognizerStateFailed);
}

void UIPanGestureRecognizer::touchesMoved(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesMoved(touches, event);
    const auto count = trackedTouches().size();
    CGPoint now = centroidInWindow(trackedTouches());
    const double time = event ? event->timestamp() : m_lastTime;
    if (time > m_lastTime)
        m_velocity = {(now.x - m_lastPoint.x) / (time - m_lastTime),
                      (now.y - m_lastPoint.y) / (time - m_lastTime)};
    m_lastPoint = now;
    m_lastTime = time;
    CGPoint translation{now.x - m_start.x, now.y - m_start.y};
    if (state() == UIGestureRecognizerStatePossible) {
        if (count < m_minimumTouches || count > m_maximumTouches)
            return;
        if (std::hypot(translation.x, translation.y) <= hysteresis)
            return;
        if (!canBeginPan(m_gestureStart, translation)) {
            setState(UIGestureRecognizerStateFailed);
            return;
        }
        setState(UIGestureRecognizerStateBegan);
    } else if (state() == UIGestureRecognizerStateBegan || state() == UIGestureRecognizerStateChanged) {
        setState(UIGestureRecognizerStateChanged);
    }
}

void UIPanGestureRecognizer::touchesEnded(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesEnded(touches, event);
    if (!trackedTouches().empty()) {
        CGPoint now = centroidInWindow(trackedTouches());
        CGPoint shift{now.x - m_lastPoint.x, now.y - m_lastPoint.y};
        m_start = {m_start.x + shift.x, m_start.y + shift.y};
        m_lastPoint = now;
        return;
    }
    if (state() == UIGestureRecognizerStateBegan || state() == UIGestureRecognizerStateChanged)
        setState(UIGestureRecognizerStateEnded);
    else if (state() == UIGestureRecognizerStatePossible)
        setState(UIGestureRecognizerStateFailed);
}

void UIPanGestureRecognizer::touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesCancelled(touches, event);
    if (state() == UIGestureRecognizerStateBegan || state() == UIGestureRecognizerStateChanged)
        setState(UIGestureRecognizerStateCancelled);
    else if (state() == UIGestureRecognizerStatePossible)
        setState(UIGestureRecognizerStateFailed);
}

void UIPanGestureRecognizer::reset() {
    UIGestureRecognizer::reset();
    m_start = m_gestureStart = m_lastPoint = {};
    m_velocity = {};
    m_lastTime = 0;
}

bool UIScreenEdgePanGestureRecognizer::canBeginPan(CGPoint start, CGPoint translation) {
    auto owner = view();
    auto window = owner ? owner->window() : nullptr;
    CGRect bounds = window ? window->bounds() : CGRectZero;
    const bool horizontal = std::abs(translation.x) >= std::abs(translation.y);
    if ((m_edges & UIRectEdgeLeft) && start.x <= CGRectGetMinX(bounds) + edgeWidth && horizontal &&
        translation.x > 0)
        return true;
    if ((m_edges & UIRectEdgeRight) && start.x >= CGRectGetMaxX(bounds) - edgeWidth && horizontal &&
        translation.x < 0)
        return true;
    if ((m_edges & UIRectEdgeTop) && start.y <= CGRectGetMinY(bounds) + edgeWidth && !horizontal &&
        translation.y > 0)
        return true;
    if ((m_edges & UIRectEdgeBottom) && start.y >= CGRectGetMaxY(bounds) - edgeWidth && !horizontal &&
        translation.y < 0)
        return true;
    return false;
}

} // namespace platform
