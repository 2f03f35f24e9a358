#pragma once
// UITouch: one finger on the screen during one touch sequence, as the touch simulation delivers it. A touch
// keeps the window and the view it first landed on (found by hit testing when it began) and its locations
// in window coordinates; locationInView converts them into any view of that window.
//
// Main thread only, like every object of the UI kit. Touches are made by the touch simulation
// (TouchSimulator.h); the setters are for it and for tests that drive recognizers directly.

#include "platform/foundation/Object.h"
#include "platform/graphics/Geometry.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

class UIView;
class UIWindow;
class UIGestureRecognizer;

// The platform's numbering.
enum UITouchPhase : int64_t {
    UITouchPhaseBegan = 0,
    UITouchPhaseMoved = 1,
    UITouchPhaseStationary = 2,
    UITouchPhaseEnded = 3,
    UITouchPhaseCancelled = 4,
};

class UITouch;
using UITouchPtr = std::shared_ptr<UITouch>;
// The platform hands touches around as a set; ours keeps them in the order the fingers went down.
using UITouchSet = std::vector<UITouchPtr>;

class UITouch : public Object {
public:
    static UITouchPtr create() { return std::make_shared<UITouch>(); }

    UITouchPhase phase() const { return m_phase; }
    // Taps in quick succession at about the same place count up: 2 for the second tap of a double tap.
    uint64_t tapCount() const { return m_tapCount; }
    // Seconds by the installed clock's monotonic time.
    double timestamp() const { return m_timestamp; }
    std::shared_ptr<UIView> view() const { return m_view.lock(); }
    std::shared_ptr<UIWindow> window() const { return m_window.lock(); }
    // The location in the view's coordinates; a null view means the window's.
    CGPoint locationInView(const std::shared_ptr<UIView>& view) const;
    CGPoint previousLocationInView(const std::shared_ptr<UIView>& view) const;
    // The recognizers this touch is delivered to (those of its view and the view's ancestors).
    const std::vector<std::shared_ptr<UIGestureRecognizer>>& gestureRecognizers() const {
        return m_gestureRecognizers;
    }

    // For the touch simulation.
    void setPhase(UITouchPhase phase) { m_phase = phase; }
    void setTapCount(uint64_t count) { m_tapCount = count; }
    void setTimestamp(double timestamp) { m_timestamp = timestamp; }
    void setView(const std::shared_ptr<UIView>& view) { m_view = view; }
    void setWindow(const std::shared_ptr<UIWindow>& window) { m_window = window; }
    // Moves the touch to a point in window coordinates; the old location becomes the previous one.
    void setLocationInWindow(CGPoint point);
    CGPoint locationInWindow() const { return m_location; }
    void setGestureRecognizers(std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers) {
        m_gestureRecognizers = std::move(recognizers);
    }

private:
    CGPoint convertFromWindow(CGPoint point, const std::shared_ptr<UIView>& view) const;

    UITouchPhase m_phase{UITouchPhaseBegan};
    uint64_t m_tapCount{1};
    double m_timestamp{0};
    CGPoint m_location;
    CGPoint m_previousLocation;
    bool m_hasLocation{false};
    std::weak_ptr<UIView> m_view;
    std::weak_ptr<UIWindow> m_window;
    std::vector<std::shared_ptr<UIGestureRecognizer>> m_gestureRecognizers;
};

} // namespace platform
