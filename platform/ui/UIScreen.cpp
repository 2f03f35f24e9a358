#include "platform/ui/UIScreen.h"

#include "platform/graphics/Image.h"

#include <algorithm>

namespace platform {

UIScreenPtr UIScreen::mainScreen() {
    static const UIScreenPtr screen = std::make_shared<UIScreen>();
    return screen;
}

CGRect UIScreen::nativeBounds() const {
    return CGRectMake(0, 0, m_bounds.size.width * m_scale, m_bounds.size.height * m_scale);
}

CGRect UIScreen::applicationFrame() const {
    return CGRectMake(0, 20, m_bounds.size.width, std::max(0.0, m_bounds.size.height - 20));
}

void UIScreen::setBrightness(double brightness) {
    m_brightness = std::clamp(brightness, 0.0, 1.0);
}

void UIScreen::setScale(double scale) {
    m_scale = scale > 0 ? scale : 1;
    UIImage::setScreenScale(m_scale);
}

void UIScreen::reset() {
    m_bounds = CGRectMake(0, 0, 375, 667);
    setScale(2);
    m_brightness = 0.5;
}

} // namespace platform
