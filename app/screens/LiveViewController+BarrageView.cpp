#include "app/screens/LiveBarrageCollectionViewCell.h"
#include "app/screens/LiveViewController.h"

using namespace platform;

void LiveViewController::setupBarrageCollectionView() {
    auto collectionView = barrageCollectionView();
    auto screen = self();
    collectionView->setDelegate(screen);
    collectionView->setDataSource(screen);
    collectionView->registerClass([](CGRect frame) { return LiveBarrageCollectionViewCell::create(frame); },
                                  LiveBarrageCollectionViewCell::kReuseIdentifier);
}

UICollectionViewPtr LiveViewController::barrageCollectionView() {
    return controlPanel()->barrageView()->barrageCollectionView();
}

CGRect LiveViewController::barrageCollectionViewFrame() {
    return barrageCollectionView()->frame();
}

void LiveViewController::reloadBarrageCollectionView() {
    // Lines arrive from the chat queue at any time; the list shows the copy taken here until the next
    // redraw, so counting and reading rows always agree.
    m_shownBarrage = barrageDataSource();
    auto collectionView = barrageCollectionView();
    collectionView->reloadData();
    if (collectionView->isTracking() || collectionView->isDragging() || m_shownBarrage.empty())
        return;
    followNewestLine();
}

void LiveViewController::followNewestLine() {
    auto collectionView = barrageCollectionView();
    collectionView->scrollRectToVisible(CGRectMake(0, collectionView->contentSize().height - 1, 1, 1), true);
}

int64_t LiveViewController::numberOfSectionsInCollectionView(UICollectionView*) {
    return 1;
}

int64_t LiveViewController::collectionViewNumberOfItemsInSection(UICollectionView*, int64_t) {
    return int64_t(m_shownBarrage.size());
}

UICollectionViewCellPtr
LiveViewController::collectionViewCellForItemAtIndexPath(UICollectionView* collectionView,
                                                         const NSIndexPathPtr& indexPath) {
    auto cell = collectionView->dequeueReusableCellWithReuseIdentifier(
        LiveBarrageCollectionViewCell::kReuseIdentifier, indexPath);
    const auto row = size_t(indexPath->item());
    if (auto barrageCell = std::dynamic_pointer_cast<LiveBarrageCollectionViewCell>(cell);
        barrageCell && row < m_shownBarrage.size())
        barrageCell->updateWithEntity(Value(m_shownBarrage[row]));
    return cell;
}

CGSize LiveViewController::collectionViewLayoutSizeForItemAtIndexPath(UICollectionView* collectionView,
                                                                      UICollectionViewLayout*,
                                                                      const NSIndexPathPtr& indexPath) {
    const double width = collectionView->frame().size.width;
    const auto row = size_t(indexPath->item());
    if (row >= m_shownBarrage.size() || !m_shownBarrage[row])
        return CGSizeMake(width, 1.0);
    const auto text = m_shownBarrage[row]->attributedString();
    const double height =
        LiveBarrageCollectionViewCell::cellSizeWithText(text ? text->string() : "", width).height;
    return CGSizeMake(width, height);
}

UIEdgeInsets LiveViewController::collectionViewLayoutInsetForSectionAtIndex(UICollectionView*,
                                                                            UICollectionViewLayout*,
                                                                            int64_t) {
    return UIEdgeInsetsMake(12, 0, 12, 0);
}

double LiveViewController::collectionViewLayoutMinimumInteritemSpacingForSectionAtIndex(
    UICollectionView*, UICollectionViewLayout*, int64_t) {
    return LiveBarrageCollectionViewCell::minimumInteritemSpacing();
}

double LiveViewController::collectionViewLayoutMinimumLineSpacingForSectionAtIndex(UICollectionView*,
                                                                                   UICollectionViewLayout*,
                                                                                   int64_t) {
    return LiveBarrageCollectionViewCell::minimumLineSpacing();
}

bool LiveViewController::collectionViewShouldSelectItemAtIndexPath(UICollectionView*, const NSIndexPathPtr&) {
    return true;
}

void LiveViewController::collectionViewDidSelectItemAtIndexPath(UICollectionView* collectionView,
                                                                const NSIndexPathPtr& indexPath) {
    collectionView->deselectItemAtIndexPath(indexPath, true);
}

bool LiveViewController::respondsTo(std::string_view selector) const {
    return selector == "collectionView:layout:sizeForItemAtIndexPath:" ||
           selector == "collectionView:layout:insetForSectionAtIndex:" ||
           selector == "collectionView:layout:minimumInteritemSpacingForSectionAtIndex:" ||
           selector == "collectionView:layout:minimumLineSpacingForSectionAtIndex:" ||
           BaseViewController::respondsTo(selector);
}
