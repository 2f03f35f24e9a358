#include "platform/ui/UIEvent.h"

#include "platform/ui/UIWindow.h"

#include <algorithm>

namespace platform {

UITouchSet UIEvent::touchesForView(const std::shared_ptr<UIView>& view) const {
    UITouchSet result;
    for (auto& touch : m_touches)
        if (touch->view() == view)
            result.push_back(touch);
    return result;
}

UITouchSet UIEvent::touchesForWindow(const std::shared_ptr<UIWindow>& window) const {
    UITouchSet result;
    for (auto& touch : m_touches)
        if (touch->window() == window)
            result.push_back(touch);
    return result;
}

UITouchSet
UIEvent::touchesForGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) const {
    UITouchSet result;
    for (auto& touch : m_touches) {
        auto& recognizers = touch->gestureRecognizers();
        if (std::find(recognizers.begin(), recognizers.end(), recognizer) != recognizers.end())
            result.push_back(touch);
    }
    return result;
}

} // namespace platform
