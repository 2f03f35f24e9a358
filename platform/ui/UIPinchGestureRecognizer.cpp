#include "platform/ui/UIPinchGestureRecognizer.h"

#include <cmath>

namespace platform {

double UIPinchGestureRecognizer::currentDistance() const {
    auto touches = trackedTouches();
    if (touches.size() < 2)
        return 0;
    CGPoint a = touches[0]->locationInWindow();
    CGPoint b = touches[1]->locationInWindow();
    return std::hypot(a.x - b.x, a.y - b.y);
}

void UIPinchGestureRecognizer::setScale(double scale) {
    m_scale = scale;
    m_baseScale = scale;
    double distance = currentDistance();
    if (distance > 0)
        m_referenceDistance = distance;
}

void UIPinchGestureRecognizer::touchesBegan(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesBegan(touches, event);
    if (state() == UIGestureRecognizerStatePossible && trackedTouches().size() == 2) {
        m_initialDistance = m_referenceDistance = currentDistance();
        m_baseScale = m_scale = 1;
        m_lastTime = event ? event->timestamp() : 0;
    }
}

void UIPinchGestureRecognizer::touchesMoved(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesMoved(touches, event);
    double distance = currentDistance();
    if (distance <= 0 || m_referenceDistance <= 0)
        return;
    const double time = event ? event->timestamp() : m_lastTime;
    const double oldScale = m_scale;
    if (state() == UIGestureRecognizerStatePossible) {
        if (std::abs(distance - m_initialDistance) <= hysteresis)
            return;
        m_scale = m_baseScale * distance / m_referenceDistance;
        m_velocity = time > m_lastTime ? (m_scale - oldScale) / (time - m_lastTime) : 0;
        m_lastTime = time;
        setState(UIGestureRecognizerStateBegan);
        return;
    }
    if (state() != UIGestureRecognizerStateBegan && state() != UIGestureRecognizerStateChanged)
        return;
    m_scale = m_baseScale * distance / m_referenceDistance;
    if (time > m_lastTime)
        m_velocity = (m_scale - oldScale) / (time - m_lastTime);
    m_lastTime = time;
    setState(UIGestureRecognizerStateChanged);
}

void UIPinchGestureRecognizer::touchesEnded(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesEnded(touches, event);
    const auto remaining = trackedTouches().size();
    if (state() == UIGestureRecognizerStateBegan || state() == UIGestureRecognizerStateChanged) {
        if (remaining < 2)
            setState(UIGestureRecognizerStateEnded);
    } else if (state() == UIGestureRecognizerStatePossible && remaining == 0) {
        setState(UIGestureRecognizerStateFailed);
    }
}

void UIPinchGestureRecognizer::touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesCancelled(touches, event);
    if (state() == UIGestureRecognizerStateBegan || state() == UIGestureRecognizerStateChanged)
        setState(UIGestureRecognizerStateCancelled);
    else if (state() == UIGestureRecognizerStatePossible)
        setState(UIGestureRecognizerStateFailed);
}

void UIPinchGestureRecognizer::reset() {
    UIGestureRecognizer::reset();
    m_scale = 1;
    m_baseScale = 1;
    m_velocity = 0;
    m_referenceDistance = 0;
    m_initialDistance = 0;
}

} // namespace platform
