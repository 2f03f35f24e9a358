#pragma once
// UISlider: a value between a minimum and a maximum, chosen by dragging a thumb along a track. The value
// is always kept within the range (setting the range pulls it in); a drag moves the thumb under the finger
// and sends ValueChanged on every move while continuous (the default), or once on lift when not. Setting
// the value in code sends nothing, as on the platform. Main thread only.

#include "platform/graphics/Color.h"
#include "platform/ui/UIControl.h"

#include <memory>

namespace platform {

class UISlider;
using UISliderPtr = std::shared_ptr<UISlider>;

class UISlider : public UIControl {
public:
    static UISliderPtr create() { return std::make_shared<UISlider>(); }
    static UISliderPtr create(CGRect frame) { return std::make_shared<UISlider>(frame); }
    using UIControl::UIControl;

    double value() const { return m_value; }
    void setValue(double value);
    void setValue(double value, bool animated);
    double minimumValue() const { return m_minimumValue; }
    void setMinimumValue(double value);
    double maximumValue() const { return m_maximumValue; }
    void setMaximumValue(double value);
    bool isContinuous() const { return m_continuous; }
    void setContinuous(bool continuous) { m_continuous = continuous; }
    UIColorPtr minimumTrackTintColor() const { return m_minimumTrackTintColor; }
    void setMinimumTrackTintColor(UIColorPtr color);
    UIColorPtr maximumTrackTintColor() const { return m_maximumTrackTintColor; }
    void setMaximumTrackTintColor(UIColorPtr color);

    // The thumb's rectangle for the current value; its centre travels the track's width less the thumb.
    CGRect thumbRect() const;
    // The value a finger at x (in the slider's coordinates) picks.
    double valueForX(double x) const;

    bool beginTrackingWithTouch(const UITouchPtr& touch, const UIEventPtr& event) override;
    bool continueTrackingWithTouch(const UITouchPtr& touch, const UIEventPtr& event) override;
    void endTrackingWithTouch(const UITouchPtr& touch, const UIEventPtr& event) override;
    CGSize intrinsicContentSize() override { return CGSizeMake(-1, thumbSize); }
    void drawRect(CGRect rect) override;

    static constexpr double thumbSize = 28;

private:
    void trackTo(const UITouchPtr& touch);

    double m_value{0};
    double m_minimumValue{0};
    double m_maximumValue{1};
    bool m_continuous{true};
    bool m_changedWhileTracking{false};
    UIColorPtr m_minimumTrackTintColor;
    UIColorPtr m_maximumTrackTintColor;
};

} // namespace platform
