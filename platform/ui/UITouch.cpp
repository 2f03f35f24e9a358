#include "platform/ui/UITouch.h"

#include "platform/ui/UIWindow.h"

namespace platform {

void UITouch::setLocationInWindow(CGPoint point) {
    m_previousLocation = m_hasLocation ? m_location : point;
    m_location = point;
    m_hasLocation = true;
}

CGPoint UITouch::convertFromWindow(CGPoint point, const std::shared_ptr<UIView>& view) const {
    if (!view)
        return point;
    auto window = m_window.lock();
    return view->convertPointFromView(point, window);
}

CGPoint UITouch::locationInView(const std::shared_ptr<UIView>& view) const {
    return convertFromWindow(m_location, view);
}

CGPoint UITouch::previousLocationInView(const std::shared_ptr<UIView>& view) const {
    return convertFromWindow(m_previousLocation, view);
}

} // namespace platform
