#include "platform/ui/UISlider.h"

#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/ui/UITouch.h"

#include <algorithm>

namespace platform {

namespace {
constexpr double trackHeight = 2;
} // namespace

void UISlider::setValue(double value) {
    double clamped = std::clamp(value, m_minimumValue, std::max(m_minimumValue, m_maximumValue));
    if (clamped == m_value)
        return;
    m_value = clamped;
    setNeedsDisplay();
}

void UISlider::setValue(double value, bool) {
    setValue(value);
}

void UISlider::setMinimumValue(double value) {
    m_minimumValue = value;
    if (m_maximumValue < value)
        m_maximumValue = value;
    setValue(m_value);
}

void UISlider::setMaximumValue(double value) {
    m_maximumValue = value;
    if (m_minimumValue > value)
        m_minimumValue = value;
    setValue(m_value);
}

void UISlider::setMinimumTrackTintColor(UIColorPtr color) {
    m_minimumTrackTintColor = std::move(color);
    setNeedsDisplay();
}

void UISlider::setMaximumTrackTintColor(UIColorPtr color) {
    m_maximumTrackTintColor = std::move(color);
    setNeedsDisplay();
}

CGRect UISlider::thumbRect() const {
    CGRect bounds = this->bounds();
    double travel = std::max(0.0, bounds.size.width - thumbSize);
    double range = m_maximumValue - m_minimumValue;
    double fraction = range > 0 ? (m_value - m_minimumValue) / range : 0;
    return CGRectMake(bounds.origin.x + travel * fraction,
                      bounds.origin.y + (bounds.size.height - thumbSize) / 2, thumbSize, thumbSize);
}

double UISlider::valueForX(double x) const {
    CGRect bounds = this->bounds();
    double travel = bounds.size.width - thumbSize;
    if (travel <= 0)
        return m_minimumValue;
    double fraction = std::clamp((x - bounds.origin.x - thumbSize / 2) / travel, 0.0, 1.0);
    return m_minimumValue + fraction * (m_maximumValue - m_minimumValue);
}

void UISlider::trackTo(const UITouchPtr& touch) {
    double before = m_value;
    setValue(valueForX(touch->locationInView(sharedAs<UIView>()).x));
    if (m_value == before)
        return;
    if (m_continuous)
        sendActionsForControlEvents(UIControlEventValueChanged);
    else
        m_changedWhileTracking = true;
}

bool UISlider::beginTrackingWithTouch(const UITouchPtr& touch, const UIEventPtr&) {
    m_changedWhileTracking = false;
    trackTo(touch);
    return true;
}

bool UISlider::continueTrackingWithTouch(const UITouchPtr& touch, const UIEventPtr&) {
    trackTo(touch);
    return true;
}

void UISlider::endTrackingWithTouch(const UITouchPtr& touch, const UIEventPtr&) {
    trackTo(touch);
    if (m_changedWhileTracking)
        sendActionsForControlEvents(UIControlEventValueChanged);
    m_changedWhileTracking = false;
}

void UISlider::drawRect(CGRect) {
    auto context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    CGRect bounds = this->bounds();
    CGRect thumb = thumbRect();
    double trackY = bounds.origin.y + (bounds.size.height - trackHeight) / 2;
    double split = CGRectGetMidX(thumb);
    auto minimum = m_minimumTrackTintColor ? m_minimumTrackTintColor : tintColor();
    auto maximum = m_maximumTrackTintColor ? m_maximumTrackTintColor : UIColor::colorWithWhite(0.72, 1);
    CGContextSetFillColorWithColor(context, minimum->CGColor());
    CGContextFillRect(context, CGRectMake(bounds.origin.x, trackY, split - bounds.origin.x, trackHeight));
    CGContextSetFillColorWithColor(context, maximum->CGColor());
    CGContextFillRect(context, CGRectMake(split, trackY, CGRectGetMaxX(bounds) - split, trackHeight));
    CGContextSetFillColorWithColor(context, UIColor::whiteColor()->CGColor());
    CGContextFillEllipseInRect(context, thumb);
}

} // namespace platform
