#include "app/screens/BarrageExpandedControlButton.h"

#include "app/screens/LocalizedText.h"
#include "app/ui/UIView+AutoLayout.h"

using namespace platform;

std::shared_ptr<BarrageExpandedControlButton> BarrageExpandedControlButton::create(CGRect frame) {
    auto button = std::make_shared<BarrageExpandedControlButton>(frame);
    button->setupSubviews();
    return button;
}

void BarrageExpandedControlButton::setupSubviews() {
    setBackgroundColor(UIColor::clearColor());
    m_imageTitleBackgroundView->setBackgroundColor(UIColor::clearColor());
    m_imageTitleBackgroundView->setUserInteractionEnabled(false);
    m_expandStateLabel->setBackgroundColor(UIColor::clearColor());
    m_expandStateLabel->setTextAlignment(NSTextAlignmentLeft);
    m_expandStateLabel->setTextColor(UIColor::whiteColor());
    m_expandStateLabel->setFont(UIFont::systemFontOfSize(15));
    addSubview(m_imageTitleBackgroundView);
    m_imageTitleBackgroundView->addSubview(m_expandStateImageView);
    m_imageTitleBackgroundView->addSubview(m_expandStateLabel);

    autoPinEdgeToSuperviewEdge(m_imageTitleBackgroundView, EdgeTop, 0);
    autoPinEdgeToSuperviewEdge(m_imageTitleBackgroundView, EdgeBottom, 0);
    autoSetDimension(m_imageTitleBackgroundView, DimensionWidth, 83);
    autoAlignAxisToSuperviewAxis(m_imageTitleBackgroundView, AxisVertical);
    autoPinEdgeToSuperviewEdge(m_expandStateImageView, EdgeLeft, 0);
    autoAlignAxisToSuperviewAxis(m_expandStateImageView, AxisHorizontal);
    autoSetDimensionsToSize(m_expandStateImageView, CGSizeMake(14, 14));
    autoPinEdgeToSuperviewEdge(m_expandStateLabel, EdgeRight, 0);
    autoAlignAxisToSuperviewAxis(m_expandStateLabel, AxisHorizontal);
}

void BarrageExpandedControlButton::setExpanded(bool expanded) {
    m_expanded = expanded;
    m_expandStateImageView->setImage(UIImage::imageNamed(expanded ? "live_barrage_down" : "live_barrage_up"));
    m_expandStateLabel->setText(detail::localizedText(expanded ? "收起弹幕" : "展开弹幕"));
}
