#include "platform/ui/UITapGestureRecognizer.h"

#include "platform/runloop/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace platform {

namespace {
double distance(CGPoint a, CGPoint b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}
} // namespace

void UITapGestureRecognizer::touchesBegan(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesBegan(touches, event);
    if (state() != UIGestureRecognizerStatePossible || m_tapsSeen >= m_tapsRequired)
        return;
    m_waiting = false;
    ++m_waitId;
    for (const auto& touch : touches) {
        m_starts.emplace_back(touch.get(), touch->locationInWindow());
        if (m_hasFirstTapPoint &&
            distance(touch->locationInWindow(), m_firstTapPoint) > 4 * allowableMovement) {
            setState(UIGestureRecognizerStateFailed);
            return;
        }
    }
    m_fingersThisTap = std::max<uint64_t>(m_fingersThisTap, trackedTouches().size());
    if (m_fingersThisTap > m_touchesRequired)
        setState(UIGestureRecognizerStateFailed);
}

void UITapGestureRecognizer::touchesMoved(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesMoved(touches, event);
    if (state() != UIGestureRecognizerStatePossible || m_tapsSeen >= m_tapsRequired)
        return;
    for (const auto& touch : touches) {
        for (const auto& [start, point] : m_starts) {
            if (start == touch.get() && distance(point, touch->locationInWindow()) > allowableMovement) {
                setState(UIGestureRecognizerStateFailed);
                return;
            }
        }
    }
}

void UITapGestureRecognizer::touchesEnded(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesEnded(touches, event);
    if (state() != UIGestureRecognizerStatePossible || m_tapsSeen >= m_tapsRequired)
        return;
    if (!trackedTouches().empty())
        return;
    if (m_fingersThisTap != m_touchesRequired) {
        setState(UIGestureRecognizerStateFailed);
        return;
    }
    if (!m_hasFirstTapPoint) {
        m_hasFirstTapPoint = true;
        m_firstTapPoint = m_starts.empty() ? CGPoint{} : m_starts.front().second;
    }
    m_starts.clear();
    m_fingersThisTap = 0;
    ++m_tapsSeen;
    if (m_tapsSeen == m_tapsRequired)
        setState(UIGestureRecognizerStateEnded);
    else
        waitForNextTap();
}

void UITapGestureRecognizer::touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) {
    UIGestureRecognizer::touchesCancelled(touches, event);
    if (state() == UIGestureRecognizerStatePossible && m_tapsSeen < m_tapsRequired)
        setState(UIGestureRecognizerStateFailed);
}

void UITapGestureRecognizer::waitForNextTap() {
    m_waiting = true;
    const uint64_t waitId = ++m_waitId;
    std::weak_ptr<UIGestureRecognizer> weak =
        std::static_pointer_cast<UIGestureRecognizer>(shared_from_this());
    auto delay = std::chrono::duration_cast<Duration>(std::chrono::duration<double>(maxTapInterval));
    RunLoop::main()->performBlockAfter(delay, [weak, waitId] {
        auto strong = std::static_pointer_cast<UITapGestureRecognizer>(weak.lock());
        if (!strong || strong->m_waitId != waitId || !strong->m_waiting)
            return;
        strong->m_waiting = false;
        if (strong->state() == UIGestureRecognizerStatePossible)
            strong->setState(UIGestureRecognizerStateFailed);
    });
}

void UITapGestureRecognizer::reset() {
    UIGestureRecognizer::reset();
    m_tapsSeen = 0;
    m_fingersThisTap = 0;
    m_waiting = false;
    ++m_waitId;
    m_hasFirstTapPoint = false;
    m_starts.clear();
}

} // namespace platform
