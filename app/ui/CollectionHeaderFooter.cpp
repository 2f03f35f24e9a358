#include "app/ui/CollectionHeaderFooter.h"

#include "app/ui/UIView+AutoLayout.h"

using namespace platform;

namespace {

UILabelPtr headerLabel(NSTextAlignment alignment) {
    auto label = UILabel::create(CGRectZero);
    label->setTextAlignment(alignment);
    label->setFont(UIFont::systemFontOfSize(12));
    label->setTextColor(UIColor::colorWithRed(0, 0, 0, 1));
    return label;
}

} // namespace

std::shared_ptr<CollectionHeaderFooter> CollectionHeaderFooter::create(CGRect frame) {
    return make<CollectionHeaderFooter>(frame);
}

void CollectionHeaderFooter::setupSubviews() {
    setBackgroundColor(UIColor::colorWithRed(246 / 255.0, 246 / 255.0, 246 / 255.0, 1));
    auto button = UIButton::create(CGRectZero);
    button->setBackgroundColor(UIColor::clearColor());
    button->addTarget(sharedAs<Object>(),
                      selector("headerFooterClicked:", &CollectionHeaderFooter::headerFooterClicked),
                      UIControlEventTouchUpInside);
    button->setUserInteractionEnabled(false);
    addSubview(button);
    m_selectionButton = button;
}

void CollectionHeaderFooter::setupConstraints() {
    for (int64_t edge : {EdgeLeft, EdgeRight, EdgeTop, EdgeBottom})
        autoPinEdgeToSuperviewEdge(m_selectionButton, edge, 0);
}

bool CollectionHeaderFooter::isClickable() const {
    return m_selectionButton && m_selectionButton->isUserInteractionEnabled();
}

void CollectionHeaderFooter::setClickable(bool clickable) {
    if (m_selectionButton)
        m_selectionButton->setUserInteractionEnabled(clickable);
}

void CollectionHeaderFooter::headerFooterClicked(UIButton*) {
    if (m_clickedHandler)
        m_clickedHandler(sharedAs<CollectionHeaderFooter>());
}

std::shared_ptr<CollectionCommonHeader> CollectionCommonHeader::create(CGRect frame) {
    return make<CollectionCommonHeader>(frame);
}

void CollectionCommonHeader::setupSubviews() {
    CollectionHeaderFooter::setupSubviews();
    setBackgroundColor(UIColor::colorWithRed(1, 1, 1, 1));
    setClickable(true);
    m_titleLabel = headerLabel(NSTextAlignmentLeft);
    addSubview(m_titleLabel);
    m_indicatorTextLabel = headerLabel(NSTextAlignmentRight);
    addSubview(m_indicatorTextLabel);
    m_indicatorImageView = UIImageView::create(CGRectZero);
    m_indicatorImageView->setBackgroundColor(backgroundColor());
    m_indicatorImageView->setImage(UIImage::imageNamed("collection_view_header_indicator"));
    addSubview(m_indicatorImageView);
    setTextIndicatorHidden(true);
}

void CollectionCommonHeader::setupConstraints() {
    CollectionHeaderFooter::setupConstraints();
    UIViewPtr self = sharedAs<UIView>();
    autoPinEdgeToSuperviewEdge(m_titleLabel, EdgeLeft, 12);
    autoAlignAxisToSuperviewAxis(m_titleLabel, AxisHorizontal);
    autoMatchDimensionWithMultiplier(m_titleLabel, DimensionWidth, DimensionWidth, self, 0.5);
    autoMatchDimension(m_titleLabel, DimensionHeight, DimensionHeight, self);

    autoPinEdgeToSuperviewEdge(m_indicatorImageView, EdgeRight, 12);
    auto image = m_indicatorImageView->image();
    autoSetDimensionsToSize(m_indicatorImageView, image ? image->size() : CGSizeZero);
    autoAlignAxisToSuperviewAxis(m_indicatorImageView, AxisHorizontal);

    autoPinEdge(m_indicatorTextLabel, EdgeRight, EdgeLeft, m_indicatorImageView, -10);
    autoAlignAxisToSuperviewAxis(m_indicatorTextLabel, AxisHorizontal);
    autoMatchDimension(m_indicatorTextLabel, DimensionWidth, DimensionWidth, m_titleLabel);
    autoMatchDimension(m_indicatorTextLabel, DimensionHeight, DimensionHeight, m_titleLabel);
}

void CollectionCommonHeader::setTextIndicatorHidden(bool hidden) {
    m_textIndicatorHidden = hidden;
    if (m_indicatorImageView)
        m_indicatorImageView->setHidden(hidden);
}
