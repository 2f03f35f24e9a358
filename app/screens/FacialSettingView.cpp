#include "app/screens/FacialSettingView.h"

#include "app/ui/UIView+AutoLayout.h"
#include "platform/ui/Selector.h"

#include <fmt/format.h>

using namespace platform;

std::shared_ptr<FacialSettingView> FacialSettingView::create(CGRect frame) {
    auto view = std::make_shared<FacialSettingView>(frame);
    view->setupSubviews();
    view->setupConstraints();
    return view;
}

void FacialSettingView::setupSubviews() {
    const std::pair<const std::shared_ptr<UILabel>*, const char*> labels[] = {
        {&m_brightLabel, "美白"}, {&m_smoothLabel, "磨皮"}, {&m_pinkLabel, "粉嫩"}};
    for (const auto& [label, text] : labels) {
        (*label)->setText(text);
        (*label)->setTextColor(UIColor::whiteColor());
        addSubview(*label);
    }
    int64_t tag = 1001;
    for (const auto* slider : {&m_brightSlider, &m_smoothSlider, &m_pinkSlider}) {
        (*slider)->setTag(tag++);
        (*slider)->addTarget(sharedAs<Object>(),
                             selector("sliderChanged:", &FacialSettingView::sliderChanged),
                             UIControlEventValueChanged);
        addSubview(*slider);
    }
}

void FacialSettingView::setupConstraints() {
    autoPinEdgeToSuperviewEdge(m_brightLabel, EdgeLeft, 5);
    autoPinEdgeToSuperviewEdge(m_brightLabel, EdgeTop, 10);
    const std::shared_ptr<UILabel>* above = &m_brightLabel;
    for (const auto* label : {&m_smoothLabel, &m_pinkLabel}) {
        autoPinEdge(*label, EdgeLeft, EdgeLeft, *above);
        autoPinEdge(*label, EdgeTop, EdgeBottom, *above, 30);
        autoMatchDimension(*label, DimensionWidth, DimensionWidth, m_brightLabel);
        autoMatchDimension(*label, DimensionHeight, DimensionHeight, m_brightLabel);
        above = label;
    }
    const std::pair<const std::shared_ptr<UISlider>*, const std::shared_ptr<UILabel>*> rows[] = {
        {&m_brightSlider, &m_brightLabel}, {&m_smoothSlider, &m_smoothLabel}, {&m_pinkSlider, &m_pinkLabel}};
    for (const auto& [slider, label] : rows) {
        autoPinEdge(*slider, EdgeLeft, EdgeRight, *label, 8);
        autoPinEdgeToSuperviewEdge(*slider, EdgeRight, 5);
        autoAlignAxis(*slider, AxisHorizontal, *label);
    }
}

void FacialSettingView::sliderChanged(Object*) {
    auto delegate = m_delegate.lock();
    if (!delegate)
        return;
    delegate->facialSettingViewBeatyEffectSlider(this, m_brightSlider.get(), m_smoothSlider.get(),
                                                 m_pinkSlider.get());
    m_brightLabel->setText(fmt::format("美白{:.2f}", bright()));
    m_smoothLabel->setText(fmt::format("磨皮{:.2f}", smooth()));
    m_pinkLabel->setText(fmt::format("粉嫩{:.2f}", pink()));
}

void FacialSettingView::defaultSetting() {
    m_brightSlider->setValue(0.68f);
    m_smoothSlider->setValue(0.56f);
    m_pinkSlider->setValue(0.36f);
}

void FacialSettingView::setBright(double bright, double smooth, double pink) {
    m_brightSlider->setValue(bright);
    m_smoothSlider->setValue(smooth);
    m_pinkSlider->setValue(pink);
    sliderChanged(nullptr);
}
