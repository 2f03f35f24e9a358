#pragma once
// UICollectionView: items in sections placed by a layout (UICollectionViewFlowLayout.h), drawn from a data
// source. Reloading asks the layout to measure at once, so contentSize is right straight after reloadData;
// cells and supplementary views are asked for only for elements inside the visible bounds, on layout and
// as the view scrolls. Views scrolled off or reloaded away go to pools by kind and reuse identifier, from
// which the dequeue calls hand them out again (after prepareForReuse) or make new ones of the registered
// class; dequeuing an identifier that was never registered throws NSInternalInconsistencyException, as the
// platform does. A tap (not a drag) on an item selects it if the delegate agrees. Data source and delegate
// are held weakly; the layout strongly. Main thread only.

#include "platform/ui/NSIndexPath.h"
#include "platform/ui/UICollectionReusableView.h"
#include "platform/ui/UICollectionViewCell.h"
#include "platform/ui/UICollectionViewFlowLayout.h"
#include "platform/ui/UIScrollView.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class UICollectionView;
using UICollectionViewPtr = std::shared_ptr<UICollectionView>;

enum UICollectionViewScrollPosition : uint64_t {
    UICollectionViewScrollPositionNone = 0,
    UICollectionViewScrollPositionTop = 1 << 0,
    UICollectionViewScrollPositionCenteredVertically = 1 << 1,
    UICollectionViewScrollPositionBottom = 1 << 2,
    UICollectionViewScrollPositionLeft = 1 << 3,
    UICollectionViewScrollPositionCenteredHorizontally = 1 << 4,
    UICollectionViewScrollPositionRight = 1 << 5,
};

class UICollectionViewDataSource {
public:
    virtual ~UICollectionViewDataSource() = default;
    virtual bool respondsTo(std::string_view /*selector*/) const { return false; }
    virtual int64_t collectionViewNumberOfItemsInSection(UICollectionView* collectionView,
                                                         int64_t section) = 0;
    virtual UICollectionViewCellPtr collectionViewCellForItemAtIndexPath(UICollectionView* collectionView,
                                                                         const NSIndexPathPtr& indexPath) = 0;
    virtual int64_t numberOfSectionsInCollectionView(UICollectionView*) { return 1; }
    // Asked for each header or footer the layout places; null shows nothing there.
    virtual UICollectionReusableViewPtr
    collectionViewViewForSupplementaryElementOfKind(UICollectionView*, const std::string& /*kind*/,
                                                    const NSIndexPathPtr&) {
        return nullptr;
    }
};

class UICollectionViewDelegate : public UIScrollViewDelegate {
public:
    virtual bool collectionViewShouldSelectItemAtIndexPath(UICollectionView*, const NSIndexPathPtr&) {
        return true;
    }
    virtual void collectionViewDidSelectItemAtIndexPath(UICollectionView*, const NSIndexPathPtr&) {}
    virtual void collectionViewDidDeselectItemAtIndexPath(UICollectionView*, const NSIndexPathPtr&) {}
};

// Asked by the flow layout only where the delegate responds to the selector (see
// UICollectionViewFlowLayout.h); the defaults here are never used for layout.
class UICollectionViewDelegateFlowLayout : public UICollectionViewDelegate {
public:
    virtual CGSize collectionViewLayoutSizeForItemAtIndexPath(UICollectionView*,
                                                              UICollectionViewLayout* layout,
                                                              const NSIndexPathPtr&);
    virtual UIEdgeInsets collectionViewLayoutInsetForSectionAtIndex(UICollectionView*,
                                                                    UICollectionViewLayout* layout,
                                                                    int64_t section);
    virtual double collectionViewLayoutMinimumLineSpacingForSectionAtIndex(UICollectionView*,
                                                                           UICollectionViewLayout* layout,
                                                                           int64_t section);
    virtual double collectionViewLayoutMinimumInteritemSpacingForSectionAtIndex(
        UICollectionView*, UICollectionViewLayout* layout, int64_t section);
    virtual CGSize collectionViewLayoutReferenceSizeForHeaderInSection(UICollectionView*,
                                                                       UICollectionViewLayout* layout,
                                                                       int64_t section);
    virtual CGSize collectionViewLayoutReferenceSizeForFooterInSection(UICollectionView*,
                                                                       UICollectionViewLayout* layout,
                                                                       int64_t section);
};

class UICollectionView : public UIScrollView {
public:
    using CellFactory = std::function<UICollectionViewCellPtr(CGRect frame)>;
    using ViewFactory = std::function<UICollectionReusableViewPtr(CGRect frame)>;

    static UICollectionViewPtr create(CGRect frame, UICollectionViewLayoutPtr layout);
    UICollectionView(CGRect frame, UICollectionViewLayoutPtr layout);
    ~UICollectionView() override;

    const UICollectionViewLayoutPtr& collectionViewLayout() const { return m_layout; }
    void setCollectionViewLayout(UICollectionViewLayoutPtr layout);
    std::shared_ptr<UICollectionViewDataSource> dataSource() const { return m_dataSource.lock(); }
    void setDataSource(const std::shared_ptr<UICollectionViewDataSource>& source) { m_dataSource = source; }
    std::shared_ptr<UICollectionViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UICollectionViewDelegate>& delegate);
    bool allowsSelection() const { return m_allowsSelection; }
    void setAllowsSelection(bool allows) { m_allowsSelection = allows; }

    void registerClass(CellFactory factory, const std::string& identifier);
    template <typename Cell> void registerClass(const std::string& identifier) {
        registerClass([](CGRect frame) { return std::make_shared<Cell>(frame); }, identifier);
    }
    // registerClass:forSupplementaryViewOfKind:withReuseIdentifier:
    void registerClassForSupplementaryView(ViewFactory factory, const std::string& kind,
                                           const std::string& identifier);
    template <typename View>
    void registerClassForSupplementaryView(const std::string& kind, const std::string& identifier) {
        registerClassForSupplementaryView([](CGRect frame) { return std::make_shared<View>(frame); }, kind,
                                          identifier);
    }
    UICollectionViewCellPtr dequeueReusableCellWithReuseIdentifier(const std::string& identifier,
                                                                   const NSIndexPathPtr& indexPath);
    UICollectionReusableViewPtr dequeueReusableSupplementaryViewOfKind(const std::string& kind,
                                                                       const std::string& identifier,
                                                                       const NSIndexPathPtr& indexPath);

    void reloadData();
    int64_t numberOfSections() const { return static_cast<int64_t>(m_itemCounts.size()); }
    int64_t numberOfItemsInSection(int64_t section) const;
    UICollectionViewCellPtr cellForItemAtIndexPath(const NSIndexPathPtr& indexPath) const;
    NSIndexPathPtr indexPathForCell(const UICollectionViewCellPtr& cell) const;
    NSIndexPathPtr indexPathForItemAtPoint(CGPoint point) const;
    std::vector<UICollectionViewCellPtr> visibleCells() const;
    std::vector<NSIndexPathPtr> indexPathsForVisibleItems() const;
    // Visible headers or footers of a kind, in section order.
    std::vector<UICollectionReusableViewPtr> visibleSupplementaryViewsOfKind(const std::string& kind) const;
    UICollectionViewLayoutAttributes
    layoutAttributesForItemAtIndexPath(const NSIndexPathPtr& indexPath) const;
    void scrollToItemAtIndexPath(const NSIndexPathPtr& indexPath, uint64_t position, bool animated);

    // Programmatic selection tells the delegate nothing, as on the platform.
    std::vector<NSIndexPathPtr> indexPathsForSelectedItems() const;
    void selectItemAtIndexPath(const NSIndexPathPtr& indexPath, bool animated, uint64_t position);
    void deselectItemAtIndexPath(const NSIndexPathPtr& indexPath, bool animated);

    void layoutSubviews() override;
    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override;

protected:
    void contentOffsetDidChange() override { layoutVisibleElements(); }

private:
    using Key = std::pair<int64_t, int64_t>;                  // section, item
    using SupplementaryKey = std::pair<std::string, int64_t>; // kind, section

    void prepare();
    void layoutVisibleElements();
    void enqueueCell(const UICollectionViewCellPtr& cell);
    void enqueueSupplementary(const std::string& kind, const UICollectionReusableViewPtr& view);

    UICollectionViewLayoutPtr m_layout;
    std::weak_ptr<UICollectionViewDataSource> m_dataSource;
    std::weak_ptr<UICollectionViewDelegate> m_delegate;
    bool m_allowsSelection{true};
    bool m_prepared{false};
    CGSize m_preparedSize{-1, -1};
    std::vector<int64_t> m_itemCounts;
    std::map<Key, UICollectionViewCellPtr> m_visibleCells;
    std::map<SupplementaryKey, UICollectionReusableViewPtr> m_visibleSupplementary;
    std::map<std::string, CellFactory> m_cellFactories;
    std::map<std::pair<std::string, std::string>, ViewFactory> m_viewFactories; // kind, identifier
    std::map<std::string, std::vector<UICollectionViewCellPtr>> m_cellPool;
    std::map<std::pair<std::string, std::string>, std::vector<UICollectionReusableViewPtr>> m_viewPool;
    std::set<Key> m_selected;
};

} // namespace platform
