#pragma once
// UICollectionViewLayout: what places a collection view's cells and supplementary views. The collection view
// calls prepareLayout after every reload (and when its width changes), then asks for the content size and the
// attributes of the elements in its visible rectangle. A layout serves one collection view, which it holds
// weakly. Main thread only.

#include "platform/foundation/Object.h"
#include "platform/graphics/Geometry.h"
#include "platform/ui/NSIndexPath.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

class UICollectionView;

inline constexpr const char* UICollectionElementKindSectionHeader = "UICollectionElementKindSectionHeader";
inline constexpr const char* UICollectionElementKindSectionFooter = "UICollectionElementKindSectionFooter";

enum UICollectionElementCategory : uint64_t {
    UICollectionElementCategoryCell = 0,
    UICollectionElementCategorySupplementaryView = 1,
};

struct UICollectionViewLayoutAttributes {
    NSIndexPathPtr indexPath;
    UICollectionElementCategory representedElementCategory{UICollectionElementCategoryCell};
    std::string representedElementKind; // empty for cells
    CGRect frame{};
};

class UICollectionViewLayout : public Object {
public:
    std::shared_ptr<UICollectionView> collectionView() const { return m_collectionView.lock(); }
    // Set by the collection view that adopts the layout.
    void setCollectionView(const std::shared_ptr<UICollectionView>& view) { m_collectionView = view; }

    virtual void prepareLayout() {}
    virtual CGSize collectionViewContentSize() const = 0;
    virtual std::vector<UICollectionViewLayoutAttributes>
    layoutAttributesForElementsInRect(CGRect rect) const = 0;
    // Null optional-like: attributes with a null indexPath when there is no such item.
    virtual UICollectionViewLayoutAttributes
    layoutAttributesForItemAtIndexPath(const NSIndexPathPtr& path) const = 0;
    virtual void invalidateLayout();

private:
    std::weak_ptr<UICollectionView> m_collectionView;
};

using UICollectionViewLayoutPtr = std::shared_ptr<UICollectionViewLayout>;

} // namespace platform
