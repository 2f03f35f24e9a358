#include "app/screens/ResolutionSettingView.h"

#include "app/screens/ScreenLook.h"
#include "app/ui/UIView+AutoLayout.h"
#include "platform/ui/Selector.h"

#include <algorithm>

using namespace platform;

std::shared_ptr<ResolutionButton> ResolutionButton::create(CGRect frame) {
    return std::make_shared<ResolutionButton>(frame);
}

ResolutionButton::ResolutionButton(CGRect frame)
    : UIButton(frame) {
    setBackgroundColor(UIColor::clearColor());
    titleLabel()->setFont(UIFont::systemFontOfSize(15));
    layer()->setCornerRadius(3);
    layer()->setMasksToBounds(true);
    layer()->setBorderWidth(1);
}

void ResolutionButton::setSelected(bool selected) {
    UIButton::setSelected(selected);
    auto color = selected ? colorWithRGB(255, 76, 52) : colorWithRGB(204, 204, 204);
    layer()->setBorderColor(color->CGColor());
    setTitleColor(selected ? color : colorWithRGB(102, 102, 102), UIControlStateNormal);
}

std::shared_ptr<ResolutionSettingView> ResolutionSettingView::create(CGRect frame) {
    auto view = std::make_shared<ResolutionSettingView>(frame);
    view->setupSubviews();
    view->setupConstraints();
    return view;
}

const UILabelPtr& ResolutionSettingView::titleLabel() {
    if (!m_titleLabel) {
        m_titleLabel = makeLabel(colorWithRGB(102, 102, 102), 15, NSTextAlignmentCenter);
        m_titleLabel->setText("分辨率设置");
    }
    return m_titleLabel;
}

const std::shared_ptr<ResolutionButton>&
ResolutionSettingView::button(std::shared_ptr<ResolutionButton>& slot, int64_t tag) {
    if (!slot) {
        slot = ResolutionButton::create();
        slot->setTag(tag);
        slot->addTarget(sharedAs<ResolutionSettingView>(),
                        selector("buttonPressed:", &ResolutionSettingView::buttonPressed),
                        UIControlEventTouchUpInside);
    }
    return slot;
}

const std::shared_ptr<ResolutionButton>& ResolutionSettingView::lowResolutionButton() {
    return button(m_lowResolutionButton, kLowResolutionTag);
}

const std::shared_ptr<ResolutionButton>& ResolutionSettingView::mediumResolutionButton() {
    return button(m_mediumResolutionButton, kLowResolutionTag + 1);
}

const std::shared_ptr<ResolutionButton>& ResolutionSettingView::highResolutionButton() {
    return button(m_highResolutionButton, kLowResolutionTag + 2);
}

std::vector<std::shared_ptr<ResolutionButton>> ResolutionSettingView::buttons() {
    return {lowResolutionButton(), mediumResolutionButton(), highResolutionButton()};
}

void ResolutionSettingView::updateResolutionButtonTitles(const std::vector<std::string>& titles) {
    if (titles.size() < 3)
        return;
    auto all = buttons();
    for (size_t index = 0; index < all.size(); ++index)
        all[index]->setTitle(titles[index], UIControlStateNormal);
}

void ResolutionSettingView::setResolutionSelected(const std::optional<std::string>& title) {
    if (!title)
        return;
    auto all = buttons();
    auto match = std::find_if(all.begin(), all.end(), [&](const auto& button) {
        return button->titleForState(UIControlStateNormal) == title;
    });
    if (match == all.end())
        return;
    for (const auto& button : all)
        button->setSelected(button == *match);
}

void ResolutionSettingView::buttonPressed(ResolutionButton* button) {
    if (!button)
        return;
    setResolutionSelected(button->currentTitle());
    if (m_resolutionChangedHandler)
        m_resolutionChangedHandler(button->tag() - kLowResolutionTag);
}

void ResolutionSettingView::setupSubviews() {
    addSubview(titleLabel());
    for (const auto& button : buttons())
        addSubview(button);
}

void ResolutionSettingView::setupConstraints() {
    const auto& low = lowResolutionButton();
    const auto& medium = mediumResolutionButton();
    const auto& high = highResolutionButton();
    autoPinEdgeToSuperviewEdge(titleLabel(), EdgeTop);
    autoPinEdgeToSuperviewEdge(titleLabel(), EdgeLeft);
    autoPinEdgeToSuperviewEdge(titleLabel(), EdgeRight);
    autoSetDimension(titleLabel(), DimensionHeight, 45);
    autoPinEdge(low, EdgeTop, EdgeBottom, titleLabel());
    autoPinEdgeToSuperviewEdge(low, EdgeLeft, 12);
    autoPinEdgeToSuperviewEdge(low, EdgeBottom, 12);
    for (const auto& [button, left] : {std::pair{medium, low}, std::pair{high, medium}}) {
        autoMatchDimension(button, DimensionWidth, DimensionWidth, left);
        autoMatchDimension(button, DimensionHeight, DimensionHeight, left);
        autoPinEdge(button, EdgeLeft, EdgeRight, left, 12);
        autoAlignAxis(button, AxisHorizontal, left);
    }
    autoPinEdgeToSuperviewEdge(high, EdgeRight, 12);
}
