#include "platform/ui/UICollectionViewFlowLayout.h"

#include "platform/ui/UICollectionView.h"

#include <algorithm>

namespace platform {

namespace {

// The layout works in flow coordinates: `along` runs in the direction lines fill, `across` in the one they
// stack. Vertical flow: along = x, across = y; horizontal flow swaps them.
struct Flow {
    bool vertical{true};
    double along(CGSize s) const { return vertical ? s.width : s.height; }
    double across(CGSize s) const { return vertical ? s.height : s.width; }
    CGRect rect(double alongPos, double acrossPos, double alongLen, double acrossLen) const {
        return vertical ? CGRectMake(alongPos, acrossPos, alongLen, acrossLen)
                        : CGRectMake(acrossPos, alongPos, acrossLen, alongLen);
    }
    double alongStart(UIEdgeInsets i) const { return vertical ? i.left : i.top; }
    double alongEnd(UIEdgeInsets i) const { return vertical ? i.right : i.bottom; }
    double acrossStart(UIEdgeInsets i) const { return vertical ? i.top : i.left; }
    double acrossEnd(UIEdgeInsets i) const { return vertical ? i.bottom : i.right; }
};

// Rectangles that only share an edge do not overlap: a row that ends where the view begins is not on screen.
bool overlaps(CGRect a, CGRect b) {
    return std::max(a.origin.x, b.origin.x) < std::min(CGRectGetMaxX(a), CGRectGetMaxX(b)) &&
           std::max(a.origin.y, b.origin.y) < std::min(CGRectGetMaxY(a), CGRectGetMaxY(b));
}

struct PendingItem {
    int64_t item;
    CGSize size;
};

// Where one section's items go: the line's start and room along, and the gaps between lines and items.
struct SectionFlow {
    Flow flow;
    int64_t section;
    double lineStart;
    double available;
    double lineSpacing;
    double interitem;
};

// One line of items side by side: spread over the line, or centred when alone. `pos` moves past it.
void placeLine(const SectionFlow& f, const std::vector<PendingItem>& line, double& pos,
               std::vector<UICollectionViewLayoutAttributes>& items) {
    double thickness = 0, total = 0;
    for (auto& p : line) {
        thickness = std::max(thickness, f.flow.across(p.size));
        total += f.flow.along(p.size);
    }
    double gap = line.size() > 1 ? (f.available - total) / double(line.size() - 1) : 0;
    double at = line.size() == 1 ? f.lineStart + std::max(0.0, (f.available - total) / 2) : f.lineStart;
    for (auto& p : line) {
        double w = f.flow.along(p.size), h = f.flow.across(p.size);
        items.push_back({NSIndexPath::indexPathForItem(p.item, f.section),
                         UICollectionElementCategoryCell,
                         {},
                         f.flow.rect(at, pos + (thickness - h) / 2, w, h)});
        at += w + gap;
    }
    pos += thickness;
}

// Fills lines with the items of one section in order, a new line when the next item does not fit.
std::vector<UICollectionViewLayoutAttributes> flowItems(const SectionFlow& f,
                                                        const std::vector<CGSize>& sizes, double& pos) {
    std::vector<UICollectionViewLayoutAttributes> items;
    std::vector<PendingItem> line;
    double used = 0;
    bool firstLine = true;
    auto flush = [&] {
        if (line.empty())
            return;
        if (!firstLine)
            pos += f.lineSpacing;
        firstLine = false;
        placeLine(f, line, pos, items);
        line.clear();
        used = 0;
    };
    for (size_t i = 0; i < sizes.size(); ++i) {
        double need = f.flow.along(sizes[i]) + (line.empty() ? 0 : f.interitem);
        if (!line.empty() && used + need > f.available + 1e-9)
            flush();
        used += f.flow.along(sizes[i]) + (line.empty() ? 0 : f.interitem);
        line.push_back({int64_t(i), sizes[i]});
    }
    flush();
    return items;
}

} // namespace

void UICollectionViewFlowLayout::prepareLayout() {
    m_items.clear();
    m_supplementary.clear();
    m_contentSize = CGSizeMake(0, 0);
    auto view = collectionView();
    if (!view)
        return;
    auto source = view->dataSource();
    auto flowDelegate = std::dynamic_pointer_cast<UICollectionViewDelegateFlowLayout>(view->delegate());
    auto asks = [&flowDelegate](const char* selector) {
        return flowDelegate && flowDelegate->respondsTo(selector);
    };
    bool asksSize = asks("collectionView:layout:sizeForItemAtIndexPath:");
    bool asksInset = asks("collectionView:layout:insetForSectionAtIndex:");
    bool asksLine = asks("collectionView:layout:minimumLineSpacingForSectionAtIndex:");
    bool asksInteritem = asks("collectionView:layout:minimumInteritemSpacingForSectionAtIndex:");
    bool asksHeader = asks("collectionView:layout:referenceSizeForHeaderInSection:");
    bool asksFooter = asks("collectionView:layout:referenceSizeForFooterInSection:");
    UICollectionView* cv = view.get();

    Flow flow{m_scrollDirection == UICollectionViewScrollDirectionVertical};
    double lineLength = flow.along(view->bounds().size);
    double pos = 0;
    int64_t sections = source ? source->numberOfSectionsInCollectionView(cv) : 0;
    auto addSupplementary = [&](const char* kind, int64_t section, CGSize size) {
        double thickness = flow.across(size);
        if (thickness <= 0)
            return;
        m_supplementary.push_back({NSIndexPath::indexPathForItem(0, section),
                                   UICollectionElementCategorySupplementaryView, kind,
                                   flow.rect(0, pos, lineLength, thickness)});
        pos += thickness;
    };

    for (int64_t s = 0; s < sections; ++s) {
        UIEdgeInsets inset = asksInset ? flowDelegate->collectionViewLayoutInsetForSectionAtIndex(cv, this, s)
                                       : m_sectionInset;
        double lineSpacing =
            asksLine ? flowDelegate->collectionViewLayoutMinimumLineSpacingForSectionAtIndex(cv, this, s)
                     : m_minimumLineSpacing;
        double interitem =
            asksInteritem
                ? flowDelegate->collectionViewLayoutMinimumInteritemSpacingForSectionAtIndex(cv, this, s)
                : m_minimumInteritemSpacing;
        addSupplementary(UICollectionElementKindSectionHeader, s,
                         asksHeader
                             ? flowDelegate->collectionViewLayoutReferenceSizeForHeaderInSection(cv, this, s)
                             : m_headerReferenceSize);
        pos += flow.acrossStart(inset);

        std::vector<CGSize> sizes;
        int64_t count = std::max<int64_t>(0, source->collectionViewNumberOfItemsInSection(cv, s));
        for (int64_t i = 0; i < count; ++i) {
            CGSize size = asksSize ? flowDelegate->collectionViewLayoutSizeForItemAtIndexPath(
                                         cv, this, NSIndexPath::indexPathForItem(i, s))
                                   : m_itemSize;
            sizes.push_back(CGSizeMake(std::max(0.0, size.width), std::max(0.0, size.height)));
        }
        double lineStart = flow.alongStart(inset);
        double available = std::max(0.0, lineLength - lineStart - flow.alongEnd(inset));
        auto items =
            flowItems(SectionFlow{flow, s, lineStart, available, lineSpacing, interitem}, sizes, pos);
        pos += flow.acrossEnd(inset);
        m_items.push_back(std::move(items));
        addSupplementary(UICollectionElementKindSectionFooter, s,
                         asksFooter
                             ? flowDelegate->collectionViewLayoutReferenceSizeForFooterInSection(cv, this, s)
                             : m_footerReferenceSize);
    }
    m_contentSize = flow.vertical ? CGSizeMake(lineLength, pos) : CGSizeMake(pos, lineLength);
}

std::vector<UICollectionViewLayoutAttributes>
UICollectionViewFlowLayout::layoutAttributesForElementsInRect(CGRect rect) const {
    std::vector<UICollectionViewLayoutAttributes> found;
    for (auto& section : m_items)
        for (auto& attributes : section)
            if (overlaps(attributes.frame, rect))
                found.push_back(attributes);
    for (auto& attributes : m_supplementary)
        if (overlaps(attributes.frame, rect))
            found.push_back(attributes);
    return found;
}

UICollectionViewLayoutAttributes
UICollectionViewFlowLayout::layoutAttributesForItemAtIndexPath(const NSIndexPathPtr& path) const {
    if (!path || path->section() < 0 || size_t(path->section()) >= m_items.size())
        return {};
    auto& section = m_items[size_t(path->section())];
    if (path->item() < 0 || size_t(path->item()) >= section.size())
        return {};
    return section[size_t(path->item())];
}

UICollectionViewLayoutAttributes
UICollectionViewFlowLayout::layoutAttributesForSupplementaryViewOfKind(const std::string& kind,
                                                                       const NSIndexPathPtr& path) const {
    for (auto& attributes : m_supplementary)
        if (path && attributes.representedElementKind == kind &&
            attributes.indexPath->section() == path->section())
            return attributes;
    return {};
}

} // namespace platform
