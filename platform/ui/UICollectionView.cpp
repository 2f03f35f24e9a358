#include "platform/ui/UICollectionView.h"

#include "platform/foundation/Exception.h"

#include <algorithm>
#include <fmt/format.h>

namespace platform {

CGSize UICollectionViewDelegateFlowLayout::collectionViewLayoutSizeForItemAtIndexPath(
    UICollectionView*, UICollectionViewLayout* layout, const NSIndexPathPtr&) {
    auto* flow = dynamic_cast<UICollectionViewFlowLayout*>(layout);
    return flow ? flow->itemSize() : CGSizeMake(50, 50);
}

UIEdgeInsets UICollectionViewDelegateFlowLayout::collectionViewLayoutInsetForSectionAtIndex(
    UICollectionView*, UICollectionViewLayout* layout, int64_t) {
    auto* flow = dynamic_cast<UICollectionViewFlowLayout*>(layout);
    return flow ? flow->sectionInset() : UIEdgeInsetsZero;
}

double UICollectionViewDelegateFlowLayout::collectionViewLayoutMinimumLineSpacingForSectionAtIndex(
    UICollectionView*, UICollectionViewLayout* layout, int64_t) {
    auto* flow = dynamic_cast<UICollectionViewFlowLayout*>(layout);
    return flow ? flow->minimumLineSpacing() : 10;
}

double UICollectionViewDelegateFlowLayout::collectionViewLayoutMinimumInteritemSpacingForSectionAtIndex(
    UICollectionView*, UICollectionViewLayout* layout, int64_t) {
    auto* flow = dynamic_cast<UICollectionViewFlowLayout*>(layout);
    return flow ? flow->minimumInteritemSpacing() : 10;
}

CGSize UICollectionViewDelegateFlowLayout::collectionViewLayoutReferenceSizeForHeaderInSection(
    UICollectionView*, UICollectionViewLayout* layout, int64_t) {
    auto* flow = dynamic_cast<UICollectionViewFlowLayout*>(layout);
    return flow ? flow->headerReferenceSize() : CGSizeMake(0, 0);
}

CGSize UICollectionViewDelegateFlowLayout::collectionViewLayoutReferenceSizeForFooterInSection(
    UICollectionView*, UICollectionViewLayout* layout, int64_t) {
    auto* flow = dynamic_cast<UICollectionViewFlowLayout*>(layout);
    return flow ? flow->footerReferenceSize() : CGSizeMake(0, 0);
}

UICollectionViewPtr UICollectionView::create(CGRect frame, UICollectionViewLayoutPtr layout) {
    auto view = std::make_shared<UICollectionView>(frame, nullptr);
    view->setCollectionViewLayout(std::move(layout));
    return view;
}

UICollectionView::UICollectionView(CGRect frame, UICollectionViewLayoutPtr layout)
    : UIScrollView(frame)
    , m_layout(std::move(layout)) {}

UICollectionView::~UICollectionView() = default;

void UICollectionView::setCollectionViewLayout(UICollectionViewLayoutPtr layout) {
    m_layout = std::move(layout);
    if (m_layout)
        m_layout->setCollectionView(std::static_pointer_cast<UICollectionView>(shared_from_this()));
    if (m_prepared)
        reloadData();
}

void UICollectionView::setDelegate(const std::shared_ptr<UICollectionViewDelegate>& delegate) {
    m_delegate = delegate;
    UIScrollView::setDelegate(delegate);
    if (m_prepared)
        reloadData();
}

void UICollectionView::registerClass(CellFactory factory, const std::string& identifier) {
    if (factory)
        m_cellFactories[identifier] = std::move(factory);
    else
        m_cellFactories.erase(identifier);
}

void UICollectionView::registerClassForSupplementaryView(ViewFactory factory, const std::string& kind,
                                                         const std::string& identifier) {
    if (factory)
        m_viewFactories[{kind, identifier}] = std::move(factory);
    else
        m_viewFactories.erase({kind, identifier});
}

UICollectionViewCellPtr
UICollectionView::dequeueReusableCellWithReuseIdentifier(const std::string& identifier,
                                                         const NSIndexPathPtr& indexPath) {
    CGRect frame = m_layout ? m_layout->layoutAttributesForItemAtIndexPath(indexPath).frame : CGRectZero;
    auto& pool = m_cellPool[identifier];
    if (!pool.empty()) {
        UICollectionViewCellPtr cell = pool.back();
        pool.pop_back();
        cell->prepareForReuse();
        cell->setFrame(frame);
        return cell;
    }
    auto factory = m_cellFactories.find(identifier);
    if (factory == m_cellFactories.end())
        throw Exception(
            NSInternalInconsistencyException,
            fmt::format("could not dequeue a view of kind: UICollectionElementKindCell with identifier "
                        "{} - must register a nib or a class for the identifier",
                        identifier));
    UICollectionViewCellPtr cell = factory->second(frame);
    cell->setReuseIdentifier(identifier);
    return cell;
}

UICollectionReusableViewPtr UICollectionView::dequeueReusableSupplementaryViewOfKind(
    const std::string& kind, const std::string& identifier, const NSIndexPathPtr& indexPath) {
    CGRect frame = CGRectZero;
    if (auto* flow = dynamic_cast<UICollectionViewFlowLayout*>(m_layout.get()))
        frame = flow->layoutAttributesForSupplementaryViewOfKind(kind, indexPath).frame;
    auto& pool = m_viewPool[{kind, identifier}];
    if (!pool.empty()) {
        UICollectionReusableViewPtr view = pool.back();
        pool.pop_back();
        view->prepareForReuse();
        view->setFrame(frame);
        return view;
    }
    auto factory = m_viewFactories.find({kind, identifier});
    if (factory == m_viewFactories.end())
        throw Exception(
            NSInternalInconsistencyException,
            fmt::format("could not dequeue a view of kind: {} with identifier {} - must register a nib "
                        "or a class for the identifier",
                        kind, identifier));
    UICollectionReusableViewPtr view = factory->second(frame);
    view->setReuseIdentifier(identifier);
    return view;
}

void UICollectionView::enqueueCell(const UICollectionViewCellPtr& cell) {
    cell->removeFromSuperview();
    if (!cell->reuseIdentifier().empty())
        m_cellPool[cell->reuseIdentifier()].push_back(cell);
}

void UICollectionView::enqueueSupplementary(const std::string& kind,
                                            const UICollectionReusableViewPtr& view) {
    view->removeFromSuperview();
    if (!view->reuseIdentifier().empty())
        m_viewPool[{kind, view->reuseIdentifier()}].push_back(view);
}

void UICollectionView::reloadData() {
    for (auto& [key, cell] : m_visibleCells)
        enqueueCell(cell);
    m_visibleCells.clear();
    for (auto& [key, view] : m_visibleSupplementary)
        enqueueSupplementary(key.first, view);
    m_visibleSupplementary.clear();
    m_selected.clear();
    prepare();
    setNeedsLayout();
}

void UICollectionView::prepare() {
    m_prepared = true;
    m_preparedSize = bounds().size;
    m_itemCounts.clear();
    if (auto source = dataSource()) {
        int64_t sections = source->numberOfSectionsInCollectionView(this);
        for (int64_t s = 0; s < sections; ++s)
            m_itemCounts.push_back(
                std::max<int64_t>(0, source->collectionViewNumberOfItemsInSection(this, s)));
    }
    if (!m_layout)
        return;
    if (m_layout->collectionView().get() != this)
        m_layout->setCollectionView(std::static_pointer_cast<UICollectionView>(shared_from_this()));
    m_layout->prepareLayout();
    setContentSize(m_layout->collectionViewContentSize());
}

int64_t UICollectionView::numberOfItemsInSection(int64_t section) const {
    if (section < 0 || section >= numberOfSections())
        return 0;
    return m_itemCounts[size_t(section)];
}

UICollectionViewCellPtr UICollectionView::cellForItemAtIndexPath(const NSIndexPathPtr& indexPath) const {
    if (!indexPath)
        return nullptr;
    auto it = m_visibleCells.find({indexPath->section(), indexPath->item()});
    return it == m_visibleCells.end() ? nullptr : it->second;
}

NSIndexPathPtr UICollectionView::indexPathForCell(const UICollectionViewCellPtr& cell) const {
    for (auto& [key, visible] : m_visibleCells)
        if (visible == cell)
            return NSIndexPath::indexPathForItem(key.second, key.first);
    return nullptr;
}

NSIndexPathPtr UICollectionView::indexPathForItemAtPoint(CGPoint point) const {
    if (!m_layout)
        return nullptr;
    for (auto& attributes : m_layout->layoutAttributesForElementsInRect(CGRectMake(point.x, point.y, 1, 1)))
        if (attributes.representedElementCategory == UICollectionElementCategoryCell &&
            CGRectContainsPoint(attributes.frame, point))
            return attributes.indexPath;
    return nullptr;
}

std::vector<UICollectionViewCellPtr> UICollectionView::visibleCells() const {
    std::vector<UICollectionViewCellPtr> cells;
    for (auto& [key, cell] : m_visibleCells)
        cells.push_back(cell);
    return cells;
}

std::vector<NSIndexPathPtr> UICollectionView::indexPathsForVisibleItems() const {
    std::vector<NSIndexPathPtr> paths;
    for (auto& [key, cell] : m_visibleCells)
        paths.push_back(NSIndexPath::indexPathForItem(key.second, key.first));
    return paths;
}

std::vector<UICollectionReusableViewPtr>
UICollectionView::visibleSupplementaryViewsOfKind(const std::string& kind) const {
    std::vector<UICollectionReusableViewPtr> views;
    for (auto& [key, view] : m_visibleSupplementary)
        if (key.first == kind)
            views.push_back(view);
    return views;
}

UICollectionViewLayoutAttributes
UICollectionView::layoutAttributesForItemAtIndexPath(const NSIndexPathPtr& indexPath) const {
    return m_layout ? m_layout->layoutAttributesForItemAtIndexPath(indexPath)
                    : UICollectionViewLayoutAttributes{};
}

void UICollectionView::scrollToItemAtIndexPath(const NSIndexPathPtr& indexPath, uint64_t position,
                                               bool animated) {
    if (!m_prepared)
        prepare();
    auto attributes = layoutAttributesForItemAtIndexPath(indexPath);
    if (!attributes.indexPath)
        return;
    CGRect item = attributes.frame;
    CGSize visible = bounds().size;
    CGPoint offset = contentOffset();
    if (position & UICollectionViewScrollPositionTop)
        offset.y = item.origin.y;
    else if (position & UICollectionViewScrollPositionCenteredVertically)
        offset.y = CGRectGetMidY(item) - visible.height / 2;
    else if (position & UICollectionViewScrollPositionBottom)
        offset.y = CGRectGetMaxY(item) - visible.height;
    if (position & UICollectionViewScrollPositionLeft)
        offset.x = item.origin.x;
    else if (position & UICollectionViewScrollPositionCenteredHorizontally)
        offset.x = CGRectGetMidX(item) - visible.width / 2;
    else if (position & UICollectionViewScrollPositionRight)
        offset.x = CGRectGetMaxX(item) - visible.width;
    if (position == UICollectionViewScrollPositionNone) {
        scrollRectToVisible(item, animated);
        return;
    }
    CGPoint low = minimumContentOffset(), high = maximumContentOffset();
    setContentOffset(CGPointMake(std::clamp(offset.x, low.x, high.x), std::clamp(offset.y, low.y, high.y)),
                     animated);
}

std::vector<NSIndexPathPtr> UICollectionView::indexPathsForSelectedItems() const {
    std::vector<NSIndexPathPtr> paths;
    for (auto& key : m_selected)
        paths.push_back(NSIndexPath::indexPathForItem(key.second, key.first));
    return paths;
}

void UICollectionView::selectItemAtIndexPath(const NSIndexPathPtr& indexPath, bool animated,
                                             uint64_t position) {
    for (auto& key : m_selected)
        if (auto it = m_visibleCells.find(key); it != m_visibleCells.end())
            it->second->setSelected(false);
    m_selected.clear();
    if (!indexPath || indexPath->item() < 0 ||
        indexPath->item() >= numberOfItemsInSection(indexPath->section()))
        return;
    Key key{indexPath->section(), indexPath->item()};
    m_selected.insert(key);
    if (auto it = m_visibleCells.find(key); it != m_visibleCells.end())
        it->second->setSelected(true);
    if (position != UICollectionViewScrollPositionNone)
        scrollToItemAtIndexPath(indexPath, position, animated);
}

void UICollectionView::deselectItemAtIndexPath(const NSIndexPathPtr& indexPath, bool) {
    if (!indexPath)
        return;
    Key key{indexPath->section(), indexPath->item()};
    if (!m_selected.erase(key))
        return;
    if (auto it = m_visibleCells.find(key); it != m_visibleCells.end())
        it->second->setSelected(false);
}

void UICollectionView::touchesEnded(const UITouchSet& touches, const UIEventPtr& event) {
    bool drag = isDragging();
    UIScrollView::touchesEnded(touches, event);
    if (drag || lastTouchWasDrag() || touches.empty() || !m_allowsSelection)
        return;
    auto self = std::static_pointer_cast<UICollectionView>(shared_from_this());
    NSIndexPathPtr indexPath = indexPathForItemAtPoint(touches.front()->locationInView(self));
    if (!indexPath)
        return;
    auto d = delegate();
    if (d && !d->collectionViewShouldSelectItemAtIndexPath(this, indexPath))
        return;
    for (auto& previous : indexPathsForSelectedItems()) {
        if (previous->isEqual(indexPath))
            continue;
        deselectItemAtIndexPath(previous, false);
        if (d)
            d->collectionViewDidDeselectItemAtIndexPath(this, previous);
    }
    selectItemAtIndexPath(indexPath, false, UICollectionViewScrollPositionNone);
    if (d)
        d->collectionViewDidSelectItemAtIndexPath(this, indexPath);
}

void UICollectionView::layoutSubviews() {
    if (!m_prepared || bounds().size.width != m_preparedSize.width ||
        bounds().size.height != m_preparedSize.height)
        prepare();
    layoutVisibleElements();
}

void UICollectionView::layoutVisibleElements() {
    if (!m_prepared || !m_layout)
        return;
    auto source = dataSource();
    std::map<Key, UICollectionViewLayoutAttributes> cellsInView;
    std::map<SupplementaryKey, UICollectionViewLayoutAttributes> viewsInView;
    for (auto& attributes : m_layout->layoutAttributesForElementsInRect(bounds())) {
        if (!attributes.indexPath || CGRectIsEmpty(attributes.frame))
            continue;
        if (attributes.representedElementCategory == UICollectionElementCategoryCell)
            cellsInView[{attributes.indexPath->section(), attributes.indexPath->item()}] = attributes;
        else
            viewsInView[{attributes.representedElementKind, attributes.indexPath->section()}] = attributes;
    }
    for (auto it = m_visibleCells.begin(); it != m_visibleCells.end();) {
        if (!cellsInView.count(it->first)) {
            enqueueCell(it->second);
            it = m_visibleCells.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_visibleSupplementary.begin(); it != m_visibleSupplementary.end();) {
        if (!viewsInView.count(it->first)) {
            enqueueSupplementary(it->first.first, it->second);
            it = m_visibleSupplementary.erase(it);
        } else {
            ++it;
        }
    }
    if (!source)
        return;
    for (auto& [key, attributes] : cellsInView) {
        auto& cell = m_visibleCells[key];
        if (!cell) {
            cell = source->collectionViewCellForItemAtIndexPath(this, attributes.indexPath);
            if (!cell) {
                m_visibleCells.erase(key);
                throw Exception(NSInternalInconsistencyException,
                                "the view returned from collectionView:cellForItemAtIndexPath: is null");
            }
            cell->setSelected(m_selected.count(key) > 0);
            insertSubview(cell, 0);
        }
        cell->setFrame(attributes.frame);
    }
    for (auto& [key, attributes] : viewsInView) {
        if (m_visibleSupplementary.count(key)) {
            m_visibleSupplementary[key]->setFrame(attributes.frame);
            continue;
        }
        auto view =
            source->collectionViewViewForSupplementaryElementOfKind(this, key.first, attributes.indexPath);
        if (!view)
            continue;
        view->setFrame(attributes.frame);
        addSubview(view);
        m_visibleSupplementary[key] = view;
    }
}

} // namespace platform
