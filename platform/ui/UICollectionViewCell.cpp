#include "platform/ui/UICollectionViewCell.h"

namespace platform {

UICollectionViewCell::UICollectionViewCell()
    : UICollectionViewCell(CGRectZero) {}

UICollectionViewCell::UICollectionViewCell(CGRect frame)
    : UICollectionReusableView(frame)
    , m_contentView(UIView::create(CGRectMake(0, 0, frame.size.width, frame.size.height))) {
    m_contentView->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
}

const UIViewPtr& UICollectionViewCell::contentView() {
    if (!m_contentView->superview()) {
        m_contentView->setFrame(bounds());
        addSubview(m_contentView);
    }
    return m_contentView;
}

void UICollectionViewCell::setBackgroundView(UIViewPtr view) {
    if (m_backgroundView)
        m_backgroundView->removeFromSuperview();
    m_backgroundView = std::move(view);
    if (m_backgroundView) {
        m_backgroundView->setFrame(bounds());
        insertSubview(m_backgroundView, 0);
    }
}

void UICollectionViewCell::setSelectedBackgroundView(UIViewPtr view) {
    if (m_selectedBackgroundView)
        m_selectedBackgroundView->removeFromSuperview();
    m_selectedBackgroundView = std::move(view);
    updateSelectionLook();
}

void UICollectionViewCell::setSelected(bool selected) {
    m_selected = selected;
    updateSelectionLook();
}

void UICollectionViewCell::setHighlighted(bool highlighted) {
    m_highlighted = highlighted;
    updateSelectionLook();
}

void UICollectionViewCell::prepareForReuse() {
    setSelected(false);
    setHighlighted(false);
}

void UICollectionViewCell::updateSelectionLook() {
    if (!m_selectedBackgroundView)
        return;
    if (m_selected || m_highlighted) {
        m_selectedBackgroundView->setFrame(bounds());
        insertSubviewBelowSubview(m_selectedBackgroundView, contentView());
    } else {
        m_selectedBackgroundView->removeFromSuperview();
    }
}

void UICollectionViewCell::layoutSubviews() {
    contentView()->setFrame(bounds());
    if (m_backgroundView)
        m_backgroundView->setFrame(bounds());
    if (m_selectedBackgroundView)
        m_selectedBackgroundView->setFrame(bounds());
}

} // namespace platform
