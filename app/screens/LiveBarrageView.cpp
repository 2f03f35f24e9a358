#include "app/screens/LiveBarrageView.h"

#include "app/ui/UIView+AutoLayout.h"

using namespace platform;

namespace {

UICollectionViewPtr makeBarrageCollectionView() {
    auto layout = UICollectionViewFlowLayout::create();
    layout->setScrollDirection(UICollectionViewScrollDirectionVertical);
    layout->setMinimumLineSpacing(0);
    layout->setMinimumInteritemSpacing(0);
    auto collectionView = UICollectionView::create(CGRectZero, layout);
    collectionView->setBackgroundColor(UIColor::clearColor());
    return collectionView;
}

} // namespace

LiveBarrageView::LiveBarrageView(CGRect frame)
    : UIView(frame)
    , m_barrageCollectionView(makeBarrageCollectionView()) {
    m_seperatorView->setBackgroundColor(UIColor::colorWithWhite(0.6, 1));
    m_seperatorView->setAlpha(1);
}

std::shared_ptr<LiveBarrageView> LiveBarrageView::create(CGRect frame) {
    auto view = std::make_shared<LiveBarrageView>(frame);
    view->setupSubviews();
    view->setupConstraints();
    return view;
}

void LiveBarrageView::setupSubviews() {
    addSubview(m_barrageCollectionView);
    addSubview(m_seperatorView);
    addSubview(m_expandedControlButton);
}

void LiveBarrageView::setupConstraints() {
    autoPinEdgeToSuperviewEdge(m_expandedControlButton, EdgeLeft, 0);
    autoPinEdgeToSuperviewEdge(m_expandedControlButton, EdgeBottom, 0);
    autoPinEdgeToSuperviewEdge(m_expandedControlButton, EdgeRight, 0);
    autoSetDimension(m_expandedControlButton, DimensionHeight, kControlButtonHeight);
    autoPinEdgeToSuperviewEdge(m_barrageCollectionView, EdgeTop, 0);
    autoPinEdgeToSuperviewEdge(m_barrageCollectionView, EdgeLeft, 0);
    autoPinEdgeToSuperviewEdge(m_barrageCollectionView, EdgeRight, 0);
    autoPinEdge(m_barrageCollectionView, EdgeBottom, EdgeTop, m_expandedControlButton);
    autoPinEdgeToSuperviewEdge(m_seperatorView, EdgeLeft, 12);
    autoPinEdgeToSuperviewEdge(m_seperatorView, EdgeRight, 12);
    autoSetDimension(m_seperatorView, DimensionHeight, 1);
    autoPinEdge(m_seperatorView, EdgeBottom, EdgeTop, m_expandedControlButton, 1);
}

void LiveBarrageView::setExpanded(bool expanded) {
    m_expanded = expanded;
    m_expandedControlButton->setExpanded(expanded);
    m_seperatorView->setHidden(!expanded);
    m_barrageCollectionView->setHidden(!expanded);
}
