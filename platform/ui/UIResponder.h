#pragma once
// UIResponder: the base of views, controllers and the application, the chain touches climb. A responder
// that does not handle a touch method passes it to its nextResponder (a view's controller if it has one,
// else its superview; a controller's view's superview; the window's the application), as the platform does.
// Main thread only.

#include "platform/foundation/Object.h"
#include "platform/ui/UIEvent.h"
#include "platform/ui/UITouch.h"

#include <memory>

namespace platform {

class UIResponder;
using UIResponderPtr = std::shared_ptr<UIResponder>;

class UIResponder : public Object {
public:
    virtual UIResponderPtr nextResponder() const { return nullptr; }

    // Each passes the call on to nextResponder() by default.
    virtual void touchesBegan(const UITouchSet& touches, const UIEventPtr& event);
    virtual void touchesMoved(const UITouchSet& touches, const UIEventPtr& event);
    virtual void touchesEnded(const UITouchSet& touches, const UIEventPtr& event);
    virtual void touchesCancelled(const UITouchSet& touches, const UIEventPtr& event);

    // One first responder per process (the text field being edited); becoming it resigns the old one.
    virtual bool canBecomeFirstResponder() const { return false; }
    virtual bool canResignFirstResponder() const { return true; }
    virtual bool becomeFirstResponder();
    virtual bool resignFirstResponder();
    bool isFirstResponder() const;
    static UIResponderPtr currentFirstResponder();
};

} // namespace platform
