#pragma once
// UIEvent: what one step of a touch sequence carries to responders and gesture recognizers: every touch
// of the sequence that is down (or lifting) at that step, with its phase. Main thread only.

#include "platform/foundation/Object.h"
#include "platform/ui/UITouch.h"

#include <cstdint>
#include <memory>

namespace platform {

enum UIEventType : int64_t {
    UIEventTypeTouches = 0,
    UIEventTypeMotion = 1,
    UIEventTypeRemoteControl = 2,
};

class UIEvent;
using UIEventPtr = std::shared_ptr<UIEvent>;

class UIEvent : public Object {
public:
    static UIEventPtr create() { return std::make_shared<UIEvent>(); }

    UIEventType type() const { return UIEventTypeTouches; }
    double timestamp() const { return m_timestamp; }
    const UITouchSet& allTouches() const { return m_touches; }
    // The touches that began in the view (not in its subviews).
    UITouchSet touchesForView(const std::shared_ptr<UIView>& view) const;
    UITouchSet touchesForWindow(const std::shared_ptr<UIWindow>& window) const;
    UITouchSet touchesForGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) const;

    // For the touch simulation.
    void setTimestamp(double timestamp) { m_timestamp = timestamp; }
    void setTouches(UITouchSet touches) { m_touches = std::move(touches); }

private:
    double m_timestamp{0};
    UITouchSet m_touches;
};

} // namespace platform
