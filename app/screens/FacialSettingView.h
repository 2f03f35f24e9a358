#pragma once
// FacialSettingView: three labelled sliders (brightening, smoothing, pink toning, each 0 to 1) that
// report every change to their delegate and show their values in the labels ("美白0.50"). With no
// delegate nothing is reported and the labels keep their texts. Main thread only.

#include "platform/ui/UILabel.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UIView.h"

#include <memory>

class FacialSettingView;

class FacialSettingViewDelegate {
public:
    virtual ~FacialSettingViewDelegate() = default;
    // facialSettingView:beatyEffectSlider:withSmoothSlider:withPinkSlider:
    virtual void facialSettingViewBeatyEffectSlider(FacialSettingView* view, platform::UISlider* bright,
                                                    platform::UISlider* smooth, platform::UISlider* pink) = 0;
};

class FacialSettingView : public platform::UIView {
public:
    static std::shared_ptr<FacialSettingView> create(platform::CGRect frame = platform::CGRectZero);
    explicit FacialSettingView(platform::CGRect frame)
        : UIView(frame) {}

    std::shared_ptr<FacialSettingViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<FacialSettingViewDelegate>& delegate) { m_delegate = delegate; }

    const std::shared_ptr<platform::UILabel>& brightLabel() { return m_brightLabel; }
    const std::shared_ptr<platform::UILabel>& smoothLabel() { return m_smoothLabel; }
    const std::shared_ptr<platform::UILabel>& pinkLabel() { return m_pinkLabel; }
    const std::shared_ptr<platform::UISlider>& brightSlider() { return m_brightSlider; }
    const std::shared_ptr<platform::UISlider>& smoothSlider() { return m_smoothSlider; }
    const std::shared_ptr<platform::UISlider>& pinkSlider() { return m_pinkSlider; }

    double bright() const { return m_brightSlider->value(); }
    double smooth() const { return m_smoothSlider->value(); }
    double pink() const { return m_pinkSlider->value(); }

    void setupSubviews();
    void setupConstraints();
    void sliderChanged(platform::Object* sender);
    // 0.68, 0.56, 0.36 (nothing in the application calls it).
    void defaultSetting();
    void setBright(double bright, double smooth, double pink);

private:
    std::weak_ptr<FacialSettingViewDelegate> m_delegate;
    std::shared_ptr<platform::UILabel> m_brightLabel{platform::UILabel::create()};
    std::shared_ptr<platform::UILabel> m_smoothLabel{platform::UILabel::create()};
    std::shared_ptr<platform::UILabel> m_pinkLabel{platform::UILabel::create()};
    std::shared_ptr<platform::UISlider> m_brightSlider{platform::UISlider::create()};
    std::shared_ptr<platform::UISlider> m_smoothSlider{platform::UISlider::create()};
    std::shared_ptr<platform::UISlider> m_pinkSlider{platform::UISlider::create()};
};
