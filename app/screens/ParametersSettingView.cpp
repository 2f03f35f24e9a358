#include "app/screens/ParametersSettingView.h"

#include "app/screens/LocalizedText.h"
#include "app/screens/ScreenLook.h"
#include "app/ui/UIView+AutoLayout.h"

using namespace platform;

namespace {

// The icon and the caption key of each item; values past the table are the frame rate.
struct Item {
    const char* icon;
    const char* caption;
};
constexpr Item kItems[] = {
    {"home_code_rate", "码率"},
    {"home_resolution_rate", "分辨率"},
    {"home_frame_rate", "帧率"},
};

const Item& itemOf(uint64_t item) {
    return kItems[std::min<uint64_t>(item, std::size(kItems) - 1)];
}

std::shared_ptr<ParameterSettingItemButton> makeItemButton(uint64_t item) {
    auto button = ParameterSettingItemButton::create();
    button->setSettingItem(item);
    button->itemTitleLabel()->setText(detail::localizedText(itemOf(item).caption));
    return button;
}

UIViewPtr makeSeparator() {
    auto view = UIView::create();
    view->setBackgroundColor(colorWithRGB(204, 204, 204));
    return view;
}

} // namespace

// ---- ParameterSettingItemButton ---------------------------------------------------------------

std::shared_ptr<ParameterSettingItemButton> ParameterSettingItemButton::create(CGRect frame) {
    auto button = std::make_shared<ParameterSettingItemButton>(frame);
    button->setupSubviews();
    button->setupConstraints();
    return button;
}

const UIImageViewPtr& ParameterSettingItemButton::itemImageView() {
    if (!m_itemImageView)
        m_itemImageView = UIImageView::create();
    return m_itemImageView;
}

const UILabelPtr& ParameterSettingItemButton::itemValueLabel() {
    if (!m_itemValueLabel)
        m_itemValueLabel = makeLabel(colorWithRGB(51, 51, 51), 14, NSTextAlignmentCenter);
    return m_itemValueLabel;
}

const UILabelPtr& ParameterSettingItemButton::itemTitleLabel() {
    if (!m_itemTitleLabel)
        m_itemTitleLabel = makeLabel(colorWithRGB(102, 102, 102), 12, NSTextAlignmentCenter);
    return m_itemTitleLabel;
}

void ParameterSettingItemButton::setSettingItem(uint64_t item) {
    m_settingItem = item;
    itemImageView()->setImage(UIImage::imageNamed(itemOf(item).icon));
}

void ParameterSettingItemButton::setupSubviews() {
    addSubview(itemImageView());
    addSubview(itemValueLabel());
    addSubview(itemTitleLabel());
}

void ParameterSettingItemButton::setupConstraints() {
    const auto& value = itemValueLabel();
    autoPinEdgeToSuperviewEdge(value, EdgeLeft);
    autoPinEdgeToSuperviewEdge(value, EdgeRight);
    autoAlignAxisToSuperviewAxis(value, AxisHorizontal);
    autoSetDimension(value, DimensionHeight, 20);
    autoSetDimensionsToSize(itemImageView(), CGSizeMake(16, 16));
    autoAlignAxis(itemImageView(), AxisVertical, value);
    autoPinEdgeToSuperviewEdge(itemImageView(), EdgeTop, 15, NSLayoutRelationGreaterThanOrEqual);
    const auto& caption = itemTitleLabel();
    autoAlignAxis(caption, AxisVertical, value);
    autoPinEdgeToSuperviewEdge(caption, EdgeBottom, 15, NSLayoutRelationGreaterThanOrEqual);
    autoMatchDimension(caption, DimensionWidth, DimensionWidth, value);
    autoMatchDimension(caption, DimensionHeight, DimensionHeight, value);
}

// ---- ParametersSettingView --------------------------------------------------------------------

std::shared_ptr<ParametersSettingView> ParametersSettingView::create(CGRect frame) {
    auto view = std::make_shared<ParametersSettingView>(frame);
    view->setupSubviews();
    view->setupConstraints();
    return view;
}

const std::shared_ptr<ParameterSettingItemButton>& ParametersSettingView::bitRateItemButton() {
    if (!m_bitRateItemButton)
        m_bitRateItemButton = makeItemButton(0);
    return m_bitRateItemButton;
}

const std::shared_ptr<ParameterSettingItemButton>& ParametersSettingView::resolutionRateItemButton() {
    if (!m_resolutionRateItemButton)
        m_resolutionRateItemButton = makeItemButton(1);
    return m_resolutionRateItemButton;
}

const std::shared_ptr<ParameterSettingItemButton>& ParametersSettingView::frameRateItemButton() {
    if (!m_frameRateItemButton)
        m_frameRateItemButton = makeItemButton(2);
    return m_frameRateItemButton;
}

const UIViewPtr& ParametersSettingView::seperatorView1() {
    if (!m_seperatorView1)
        m_seperatorView1 = makeSeparator();
    return m_seperatorView1;
}

const UIViewPtr& ParametersSettingView::seperatorView2() {
    if (!m_seperatorView2)
        m_seperatorView2 = makeSeparator();
    return m_seperatorView2;
}

void ParametersSettingView::setBitRateItemButton(std::shared_ptr<ParameterSettingItemButton> button) {
    m_bitRateItemButton = std::move(button);
}

void ParametersSettingView::setResolutionRateItemButton(std::shared_ptr<ParameterSettingItemButton> button) {
    m_resolutionRateItemButton = std::move(button);
}

void ParametersSettingView::setFrameRateItemButton(std::shared_ptr<ParameterSettingItemButton> button) {
    m_frameRateItemButton = std::move(button);
}

void ParametersSettingView::setupSubviews() {
    addSubview(bitRateItemButton());
    addSubview(resolutionRateItemButton());
    addSubview(frameRateItemButton());
    addSubview(seperatorView1());
    addSubview(seperatorView2());
}

void ParametersSettingView::setupConstraints() {
    const auto& bitRate = bitRateItemButton();
    const auto& resolution = resolutionRateItemButton();
    const auto& frameRate = frameRateItemButton();
    const auto panel = sharedAs<UIView>();
    for (const auto& [cell, side] : {std::pair{bitRate, EdgeLeft}, std::pair{frameRate, EdgeRight}}) {
        autoPinEdgeToSuperviewEdge(cell, EdgeTop);
        autoPinEdgeToSuperviewEdge(cell, EdgeBottom);
        autoPinEdgeToSuperviewEdge(cell, side);
        autoMatchDimensionWithMultiplier(cell, DimensionWidth, DimensionWidth, panel, 1.0 / 3);
    }
    autoPinEdgeToSuperviewEdge(resolution, EdgeTop);
    autoPinEdgeToSuperviewEdge(resolution, EdgeBottom);
    autoPinEdge(resolution, EdgeLeft, EdgeRight, bitRate);
    autoPinEdge(resolution, EdgeRight, EdgeLeft, frameRate);
    for (const auto& [separator, left] : {std::pair{seperatorView1(), UIViewPtr(bitRate)},
                                          std::pair{seperatorView2(), UIViewPtr(resolution)}}) {
        autoSetDimensionsToSize(separator, CGSizeMake(1, 25));
        autoAlignAxisToSuperviewAxis(separator, AxisHorizontal);
        autoPinEdge(separator, EdgeLeft, EdgeRight, left);
    }
}
