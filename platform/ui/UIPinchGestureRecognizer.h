#pragma once
// UIPinchGestureRecognizer: a continuous gesture of two fingers. scale is the distance between them over
// their distance when they went down (times the scale last set by setScale, which also restarts the
// measure); velocity is the change of scale per second. It begins once the distance has changed by more
// than a couple of points, and ends when one of the two fingers lifts; lifting before that fails it.

#include "platform/ui/UIGestureRecognizer.h"

namespace platform {

class UIPinchGestureRecognizer : public UIGestureRecognizer {
public:
    static constexpr double hysteresis = 2;

    using UIGestureRecognizer::UIGestureRecognizer;
    static std::shared_ptr<UIPinchGestureRecognizer> create(const ObjectPtr& target, Selector action) {
        return std::make_shared<UIPinchGestureRecognizer>(target, std::move(action));
    }

    double scale() const { return m_scale; }
    void setScale(double scale);
    double velocity() const { return m_velocity; }

    bool isContinuous() const override { return true; }
    void touchesBegan(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesMoved(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) override;
    void reset() override;

private:
    double currentDistance() const;

    double m_scale{1};
    double m_velocity{0};
    double m_baseScale{1};
    double m_referenceDistance{0};
    double m_initialDistance{0};
    double m_lastTime{0};
};

} // namespace platform
