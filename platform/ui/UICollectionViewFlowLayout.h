#pragma once
// UICollectionViewFlowLayout: items in lines, sections one after another, optionally with a header and a
// footer each. Vertical flow fills lines left to right and stacks them down; horizontal flow fills columns
// top to bottom and stacks them to the right. Each section is: header (its reference size's height, full
// width), the top inset, the lines, the bottom inset, footer. A line holds the items that fit between the
// section's side insets with at least the interitem spacing between them; as on the platform, a line of
// several items spreads them to both edges, a single item is centred, and items are centred across the line
// (whose thickness is its largest item's). Lines are minimumLineSpacing apart.
//
// Sizes, insets and spacings come from the collection view's delegate for each section or item when it
// responds to the selector (UICollectionViewDelegateFlowLayout, asked through respondsTo), otherwise from the
// layout's own properties.

#include "platform/ui/UICollectionViewLayout.h"

namespace platform {

enum UICollectionViewScrollDirection : int64_t {
    UICollectionViewScrollDirectionVertical = 0,
    UICollectionViewScrollDirectionHorizontal = 1,
};

class UICollectionViewFlowLayout;
using UICollectionViewFlowLayoutPtr = std::shared_ptr<UICollectionViewFlowLayout>;

class UICollectionViewFlowLayout : public UICollectionViewLayout {
public:
    static UICollectionViewFlowLayoutPtr create() { return std::make_shared<UICollectionViewFlowLayout>(); }

    CGSize itemSize() const { return m_itemSize; }
    void setItemSize(CGSize size) { m_itemSize = size; }
    double minimumLineSpacing() const { return m_minimumLineSpacing; }
    void setMinimumLineSpacing(double spacing) { m_minimumLineSpacing = spacing; }
    double minimumInteritemSpacing() const { return m_minimumInteritemSpacing; }
    void setMinimumInteritemSpacing(double spacing) { m_minimumInteritemSpacing = spacing; }
    UIEdgeInsets sectionInset() const { return m_sectionInset; }
    void setSectionInset(UIEdgeInsets insets) { m_sectionInset = insets; }
    CGSize headerReferenceSize() const { return m_headerReferenceSize; }
    void setHeaderReferenceSize(CGSize size) { m_headerReferenceSize = size; }
    CGSize footerReferenceSize() const { return m_footerReferenceSize; }
    void setFooterReferenceSize(CGSize size) { m_footerReferenceSize = size; }
    UICollectionViewScrollDirection scrollDirection() const { return m_scrollDirection; }
    void setScrollDirection(UICollectionViewScrollDirection direction) { m_scrollDirection = direction; }

    void prepareLayout() override;
    CGSize collectionViewContentSize() const override { return m_contentSize; }
    std::vector<UICollectionViewLayoutAttributes>
    layoutAttributesForElementsInRect(CGRect rect) const override;
    UICollectionViewLayoutAttributes
    layoutAttributesForItemAtIndexPath(const NSIndexPathPtr& path) const override;
    // The header or footer of a section; null indexPath when that section has none.
    UICollectionViewLayoutAttributes
    layoutAttributesForSupplementaryViewOfKind(const std::string& kind, const NSIndexPathPtr& path) const;

private:
    CGSize m_itemSize{50, 50};
    double m_minimumLineSpacing{10};
    double m_minimumInteritemSpacing{10};
    UIEdgeInsets m_sectionInset{};
    CGSize m_headerReferenceSize{0, 0};
    CGSize m_footerReferenceSize{0, 0};
    UICollectionViewScrollDirection m_scrollDirection{UICollectionViewScrollDirectionVertical};

    CGSize m_contentSize{0, 0};
    std::vector<std::vector<UICollectionViewLayoutAttributes>> m_items;
    std::vector<UICollectionViewLayoutAttributes> m_supplementary;
};

} // namespace platform
