#include "app/ui/BaseNavigationBar.h"

#include <algorithm>

using namespace platform;

namespace {
constexpr float kStartOpacity = 0.4f;
constexpr double kTintAlpha = 0.66;
constexpr double kStatusBarReach = 20;
} // namespace

BaseNavigationBar::BaseNavigationBar() {
    addColorLayer();
}

BaseNavigationBar::BaseNavigationBar(CGRect frame)
    : UINavigationBar(frame) {
    addColorLayer();
}

void BaseNavigationBar::addColorLayer() {
    auto colorLayer = CALayer::layer();
    colorLayer->setOpacity(kStartOpacity);
    colorLayer->setHidden(true);
    layer()->addSublayer(colorLayer);
    m_colorLayer = colorLayer;
}

void BaseNavigationBar::layoutSubviews() {
    UINavigationBar::layoutSubviews();
    if (!m_colorLayer)
        return;
    const CGRect bounds = this->bounds();
    m_colorLayer->setFrame(
        CGRectMake(0, -kStatusBarReach, bounds.size.width, bounds.size.height + kStatusBarReach));
    // Above the bar's background view (index 0), below its items.
    layer()->insertSublayer(m_colorLayer, 1);
}

void BaseNavigationBar::setBarTintColor(UIColorPtr color) {
    const bool noColor = !color || (int(color->red()) == 0 && int(color->green()) == 0 &&
                                    int(color->blue()) == 0 && int(color->alpha()) == 0);
    if (noColor) {
        UINavigationBar::setBarTintColor(nullptr);
        if (m_colorLayer)
            m_colorLayer->setOpacity(0);
        return;
    }
    const double red = color->red(), green = color->green(), blue = color->blue();
    UINavigationBar::setBarTintColor(UIColor::colorWithRed(red, green, blue, kTintAlpha));
    const double darkest = std::min({red, green, blue});
    double opacity = kStartOpacity;
    if (convertValue(darkest, opacity) < 0)
        opacity = minOpacityForValue(darkest);
    if (!m_colorLayer)
        return;
    m_colorLayer->setOpacity(float(opacity));
    auto converted = [opacity](double value) { return std::clamp(convertValue(value, opacity), 0.0, 1.0); };
    m_colorLayer->setBackgroundColor(
        UIColor::colorWithRed(converted(red), converted(green), converted(blue), color->alpha()));
}

void BaseNavigationBar::usingSystemTranslucent(bool systemTranslucent) {
    if (m_colorLayer)
        m_colorLayer->setHidden(systemTranslucent);
}

double BaseNavigationBar::convertValue(double value, double opacity) {
    return value * 0.6 + (value * 0.4) / opacity - 0.4 / opacity + 0.4;
}

double BaseNavigationBar::minOpacityForValue(double value) {
    return (0.4 - value * 0.4) / (value * 0.6 + 0.4);
}
