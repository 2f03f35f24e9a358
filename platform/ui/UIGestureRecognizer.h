#pragma once
// UIGestureRecognizer: turns the touches that land in its view (or the view's subviews) into a gesture with
// the platform's states, and sends its target-actions: a discrete gesture (a tap) once when it is recognized,
// a continuous one (pinch, pan) at Began, every Changed, and Ended or Cancelled. Subclasses override the
// touch methods and move the state with setState, as on the platform.
//
// Promises: the delegate's gestureRecognizerShouldBegin is asked before leaving Possible (NO fails the
// gesture); a recognizer that requires another to fail holds its recognition until that one fails, and
// fails when that one recognizes; when a gesture begins or is recognized, the other recognizers sharing its
// touches that are still Possible fail, unless a delegate lets them recognize simultaneously. A recognizer
// resets to Possible once its gesture is over and its touches have lifted. Targets are held weakly.
// Main thread only.

#include "platform/foundation/Object.h"
#include "platform/graphics/Geometry.h"
#include "platform/ui/Selector.h"
#include "platform/ui/UIEvent.h"
#include "platform/ui/UITouch.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

class UIView;
class UIGestureRecognizer;
using UIGestureRecognizerPtr = std::shared_ptr<UIGestureRecognizer>;

// The platform's numbering.
enum UIGestureRecognizerState : int64_t {
    UIGestureRecognizerStatePossible = 0,
    UIGestureRecognizerStateBegan = 1,
    UIGestureRecognizerStateChanged = 2,
    UIGestureRecognizerStateEnded = 3,
    UIGestureRecognizerStateCancelled = 4,
    UIGestureRecognizerStateFailed = 5,
    UIGestureRecognizerStateRecognized = UIGestureRecognizerStateEnded,
};

// Optional methods; the defaults are what the platform does for a delegate that does not implement them.
class UIGestureRecognizerDelegate {
public:
    virtual ~UIGestureRecognizerDelegate() = default;
    virtual bool gestureRecognizerShouldBegin(UIGestureRecognizer*) { return true; }
    virtual bool gestureRecognizerShouldReceiveTouch(UIGestureRecognizer*, UITouch*) { return true; }
    virtual bool gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer*,
                                                                                     UIGestureRecognizer*) {
        return false;
    }
};

class UIGestureRecognizer : public Object {
public:
    UIGestureRecognizer() = default;
    UIGestureRecognizer(const ObjectPtr& target, Selector action);
    ~UIGestureRecognizer() override;

    void addTarget(const ObjectPtr& target, Selector action);
    // A null target or an empty action name matches every target or action.
    void removeTarget(const Object* target, const std::string& actionName = {});

    UIGestureRecognizerState state() const { return m_state; }
    // Moves the gesture (for subclasses, and for tests that drive a recognizer by hand); see the header.
    void setState(UIGestureRecognizerState state);

    std::shared_ptr<UIView> view() const { return m_view.lock(); }
    // Set by UIView::addGestureRecognizer / removeGestureRecognizer.
    void setView(const std::shared_ptr<UIView>& view);

    bool isEnabled() const { return m_enabled; }
    // Disabling a recognizer in the middle of a gesture cancels (continuous) or fails (discrete) it.
    void setEnabled(bool enabled);
    bool cancelsTouchesInView() const { return m_cancelsTouchesInView; }
    void setCancelsTouchesInView(bool cancels) { m_cancelsTouchesInView = cancels; }
    bool delaysTouchesBegan() const { return m_delaysTouchesBegan; }
    void setDelaysTouchesBegan(bool delays) { m_delaysTouchesBegan = delays; }
    bool delaysTouchesEnded() const { return m_delaysTouchesEnded; }
    void setDelaysTouchesEnded(bool delays) { m_delaysTouchesEnded = delays; }

    std::shared_ptr<UIGestureRecognizerDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UIGestureRecognizerDelegate>& delegate) { m_delegate = delegate; }

    void requireGestureRecognizerToFail(const UIGestureRecognizerPtr& other);

    // The centroid of the touches of the gesture (the last ones, once they lifted), in the view's
    // coordinates; a null view means the window's.
    virtual CGPoint locationInView(const std::shared_ptr<UIView>& view) const;
    CGPoint locationOfTouch(uint64_t index, const std::shared_ptr<UIView>& view) const;
    uint64_t numberOfTouches() const { return trackedTouches().size(); }

    // Touch delivery (the touch simulation calls these with the touches of one step that belong to this
    // recognizer; subclasses override them and call the base first so the touches are tracked).
    virtual void touchesBegan(const UITouchSet& touches, const UIEventPtr& event);
    virtual void touchesMoved(const UITouchSet& touches, const UIEventPtr& event);
    virtual void touchesEnded(const UITouchSet& touches, const UIEventPtr& event);
    virtual void touchesCancelled(const UITouchSet& touches, const UIEventPtr& event);
    // Whether the delegate lets this recognizer see the touch (asked before touchesBegan).
    bool shouldReceiveTouch(const UITouchPtr& touch);

    // Back to Possible, forgetting the gesture; subclasses clear their own state and call the base.
    virtual void reset();

    // Whether the gesture is a continuous one (actions at every change) rather than a discrete one.
    virtual bool isContinuous() const { return false; }

protected:
    // The touches now down for this gesture, in the order they went down.
    UITouchSet trackedTouches() const;
    // Window coordinates of a centroid.
    static CGPoint centroidInWindow(const UITouchSet& touches);

private:
    bool isTerminal() const;
    void sendActions();
    void dependencyFailed(UIGestureRecognizer* other);
    void dependencyRecognized(UIGestureRecognizer* other);
    void excludeOthers();
    bool waitsForDependencies() const;
    void forget(const UITouchSet& touches);

    UIGestureRecognizerState m_state{UIGestureRecognizerStatePossible};
    std::weak_ptr<UIView> m_view;
    std::vector<TargetAction> m_targets;
    std::weak_ptr<UIGestureRecognizerDelegate> m_delegate;
    std::vector<std::weak_ptr<UIGestureRecognizer>> m_requiredToFail;
    std::vector<std::weak_ptr<UIGestureRecognizer>> m_dependents;
    // Weak: touches keep their recognizers alive, so holding them strongly would make cycles.
    std::vector<std::weak_ptr<UITouch>> m_touches;
    // Every touch of the gesture since the last reset, lifted ones included.
    std::vector<std::weak_ptr<UITouch>> m_gestureTouches;
    CGPoint m_lastLocationInWindow;
    bool m_inGesture{false};
    // A recognition asked for while a required recognizer was still Possible.
    UIGestureRecognizerState m_pendingState{UIGestureRecognizerStatePossible};
    bool m_enabled{true};
    bool m_cancelsTouchesInView{true};
    bool m_delaysTouchesBegan{false};
    bool m_delaysTouchesEnded{true};
};

} // namespace platform
