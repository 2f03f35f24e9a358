#pragma once
// Touches without a touch screen: the simulation drives a window the way a finger would. Each touch that
// goes down is hit-tested in the window (UIView::hitTest); every step of the sequence is then delivered
// first to the enabled gesture recognizers of the hit view and its ancestors (deepest first), through the
// recognizers' touchesBegan/Moved/Ended/Cancelled, and then to the hit view as a responder (a control
// tracks the touch there, other views pass it up the responder chain). Once a recognizer that cancels
// touches in its view has recognized (state Began, Changed or Ended), the views get touchesCancelled and
// no more of that sequence. Recognizers left in Ended, Cancelled or Failed are reset() when the sequence
// is over and before the next one begins.
//
// Time: touch timestamps come from Clock::current(). Between the taps of doubleTapAt the simulation pumps
// nothing; a tap that another recognizer must see fail settles when the main loop runs (pump it, moving a
// ManualClock past the recognizer's wait if one is installed). Main thread only.
//
// What UIGestureRecognizer (UIGestureRecognizer.h) provides for this: setView(view), isEnabled(), state(),
// cancelsTouchesInView(), reset(), and the four touch methods with UIResponder's signatures.

#include "platform/graphics/Geometry.h"
#include "platform/ui/UIEvent.h"
#include "platform/ui/UITouch.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

class UIWindow;
class UIView;

class TouchSimulator {
public:
    // A touch sequence driven step by step; points are in window coordinates. One per window at a time.
    explicit TouchSimulator(std::shared_ptr<UIWindow> window);
    ~TouchSimulator();

    // Puts fingers down (one touch each, hit-tested), in order; returns the new touches.
    UITouchSet begin(const std::vector<CGPoint>& points, uint64_t tapCount = 1);
    // Moves the fingers down now, in the order they went down, to the points (as many as there are).
    void move(const std::vector<CGPoint>& points);
    // Lifts every finger (the sequence ends), or cancels the sequence.
    void end();
    void cancel();
    const UITouchSet& touches() const { return m_touches; }

    // Whole gestures.
    static void tapAt(const std::shared_ptr<UIWindow>& window, CGPoint point, uint64_t tapCount = 1);
    static void doubleTapAt(const std::shared_ptr<UIWindow>& window, CGPoint point);
    // Two fingers around the center, startDistance apart horizontally, moved apart (scale > 1) or together
    // in `steps` moves until their distance is startDistance * scale, then lifted.
    static void pinchAt(const std::shared_ptr<UIWindow>& window, CGPoint center, double startDistance,
                        double scale, int steps = 4);
    // One finger from `from` to `to` in `steps` moves, then lifted.
    static void drag(const std::shared_ptr<UIWindow>& window, CGPoint from, CGPoint to, int steps = 4);

    // The hit-tested view for a point of the window, as a touch would find it.
    static std::shared_ptr<UIView> viewAt(const std::shared_ptr<UIWindow>& window, CGPoint point);

    // Keys of the on-screen keyboard, sent to the first responder when it takes key input (UIKeyInput);
    // with no such responder they do nothing, as a hidden keyboard would. typeText sends one key per
    // composed character, and a "\n" in it is the return key.
    static void typeText(const std::string& text);
    static void deleteBackward();
    static void pressReturn();

private:
    void deliver(UITouchPhase phase, const UITouchSet& changed);
    void finishSequence();

    std::shared_ptr<UIWindow> m_window;
    UITouchSet m_touches;
    UIEventPtr m_event{UIEvent::create()};
    bool m_viewsCancelled{false};
};

} // namespace platform
