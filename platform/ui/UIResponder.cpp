#include "platform/ui/UIResponder.h"

namespace platform {

namespace {
std::weak_ptr<UIResponder>& firstResponder() {
    static std::weak_ptr<UIResponder> responder;
    return responder;
}
} // namespace

void UIResponder::touchesBegan(const UITouchSet& touches, const UIEventPtr& event) {
    if (auto next = nextResponder())
        next->touchesBegan(touches, event);
}

void UIResponder::touchesMoved(const UITouchSet& touches, const UIEventPtr& event) {
    if (auto next = nextResponder())
        next->touchesMoved(touches, event);
}

void UIResponder::touchesEnded(const UITouchSet& touches, const UIEventPtr& event) {
    if (auto next = nextResponder())
        next->touchesEnded(touches, event);
}

void UIResponder::touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) {
    if (auto next = nextResponder())
        next->touchesCancelled(touches, event);
}

bool UIResponder::becomeFirstResponder() {
    if (isFirstResponder())
        return true;
    if (!canBecomeFirstResponder())
        return false;
    if (auto current = firstResponder().lock(); current && !current->resignFirstResponder())
        return false;
    firstResponder() = sharedAs<UIResponder>();
    return true;
}

bool UIResponder::resignFirstResponder() {
    if (!canResignFirstResponder())
        return false;
    if (isFirstResponder())
        firstResponder().reset();
    return true;
}

bool UIResponder::isFirstResponder() const {
    return firstResponder().lock().get() == this;
}

UIResponderPtr UIResponder::currentFirstResponder() {
    return firstResponder().lock();
}

} // namespace platform
