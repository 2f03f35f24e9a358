#include "platform/foundation/Exception.h"
#include "platform/ui/UICollectionView.h"
#include "tests/support/UIFixture.h"

#include <set>
#include <string>
#include <vector>

using namespace platform;

namespace {

class TitleCell : public UICollectionViewCell {
public:
    using UICollectionViewCell::UICollectionViewCell;
    void prepareForReuse() override {
        UICollectionViewCell::prepareForReuse();
        ++reuses;
    }
    int64_t item{-1};
    int reuses{0};
};

// Sections of items; optionally answers the flow layout's questions, like a chat list does.
class GridSource : public UICollectionViewDataSource, public UICollectionViewDelegateFlowLayout {
public:
    int64_t numberOfSectionsInCollectionView(UICollectionView*) override { return int64_t(counts.size()); }
    int64_t collectionViewNumberOfItemsInSection(UICollectionView*, int64_t section) override {
        return counts[size_t(section)];
    }
    UICollectionViewCellPtr collectionViewCellForItemAtIndexPath(UICollectionView* view,
                                                                 const NSIndexPathPtr& path) override {
        ++cellRequests;
        auto cell =
            std::dynamic_pointer_cast<TitleCell>(view->dequeueReusableCellWithReuseIdentifier("Cell", path));
        made.insert(cell.get());
        cell->item = path->item();
        return cell;
    }
    UICollectionReusableViewPtr
    collectionViewViewForSupplementaryElementOfKind(UICollectionView* view, const std::string& kind,
                                                    const NSIndexPathPtr& path) override {
        return view->dequeueReusableSupplementaryViewOfKind(kind, "Header", path);
    }
    bool respondsTo(std::string_view selector) const override {
        return answersLayout &&
               (selector == "collectionView:layout:sizeForItemAtIndexPath:" ||
                selector == "collectionView:layout:insetForSectionAtIndex:" ||
                selector == "collectionView:layout:minimumLineSpacingForSectionAtIndex:" ||
                selector == "collectionView:layout:minimumInteritemSpacingForSectionAtIndex:");
    }
    CGSize collectionViewLayoutSizeForItemAtIndexPath(UICollectionView* view, UICollectionViewLayout*,
                                                      const NSIndexPathPtr& path) override {
        return CGSizeMake(view->frame().size.width, heights[size_t(path->item())]);
    }
    UIEdgeInsets collectionViewLayoutInsetForSectionAtIndex(UICollectionView*, UICollectionViewLayout*,
                                                            int64_t) override {
        return UIEdgeInsetsMake(12, 0, 12, 0);
    }
    double collectionViewLayoutMinimumLineSpacingForSectionAtIndex(UICollectionView*, UICollectionViewLayout*,
                                                                   int64_t) override {
        return 9;
    }
    double collectionViewLayoutMinimumInteritemSpacingForSectionAtIndex(UICollectionView*,
                                                                        UICollectionViewLayout*,
                                                                        int64_t) override {
        return 0;
    }
    bool collectionViewShouldSelectItemAtIndexPath(UICollectionView*, const NSIndexPathPtr& path) override {
        return path->item() != 1;
    }
    void collectionViewDidSelectItemAtIndexPath(UICollectionView* view, const NSIndexPathPtr& path) override {
        selected.push_back(path->item());
        view->deselectItemAtIndexPath(path, true);
    }

    std::vector<int64_t> counts{5};
    std::vector<double> heights;
    bool answersLayout{false};
    int cellRequests{0};
    std::set<UICollectionViewCell*> made;
    std::vector<int64_t> selected;
};

class CollectionViewTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        layout->setItemSize(CGSizeMake(100, 50));
        layout->setSectionInset(UIEdgeInsetsMake(10, 10, 10, 10));
        layout->setMinimumInteritemSpacing(10);
        layout->setMinimumLineSpacing(5);
        view = UICollectionView::create(CGRectMake(0, 0, 320, 400), layout);
        view->registerClass<TitleCell>("Cell");
        view->registerClassForSupplementaryView<UICollectionReusableView>(
            UICollectionElementKindSectionHeader, "Header");
        view->registerClassForSupplementaryView<UICollectionReusableView>(
            UICollectionElementKindSectionFooter, "Header");
        view->setDataSource(source);
        view->setDelegate(source);
        window->addSubview(view);
    }

    CGRect itemFrame(int64_t item, int64_t section = 0) const {
        return view->layoutAttributesForItemAtIndexPath(NSIndexPath::indexPathForItem(item, section)).frame;
    }

    UICollectionViewFlowLayoutPtr layout = UICollectionViewFlowLayout::create();
    std::shared_ptr<GridSource> source = std::make_shared<GridSource>();
    UICollectionViewPtr view;
};

TEST_F(CollectionViewTest, FlowFillsLinesBetweenTheInsetsSpreadingFullLinesAndCentringLoneItems) {
    view->reloadData();
    // 300 points between the insets hold two 100-point items with at least 10 between them.
    EXPECT_EQ(itemFrame(0), CGRectMake(10, 10, 100, 50));
    EXPECT_EQ(itemFrame(1), CGRectMake(210, 10, 100, 50));
    EXPECT_EQ(itemFrame(2), CGRectMake(10, 65, 100, 50));
    EXPECT_EQ(itemFrame(3), CGRectMake(210, 65, 100, 50));
    EXPECT_EQ(itemFrame(4), CGRectMake(110, 120, 100, 50));
    EXPECT_EQ(view->contentSize(), CGSizeMake(320, 10 + 50 + 5 + 50 + 5 + 50 + 10));

    layout->setItemSize(CGSizeMake(90, 40));
    layout->setSectionInset(UIEdgeInsetsZero);
    layout->setMinimumInteritemSpacing(0);
    view->reloadData();
    EXPECT_EQ(itemFrame(3), CGRectMake(0, 45, 90, 40)) << "three fit in 320, the fourth starts a line";
    EXPECT_EQ(itemFrame(2).origin.x, 230);
}

TEST_F(CollectionViewTest, DelegateAnswersReplaceTheLayoutsPropertiesOnlyWhenItResponds) {
    source->answersLayout = true;
    source->counts = {3};
    source->heights = {20, 35, 1};
    view->reloadData();
    EXPECT_EQ(itemFrame(0), CGRectMake(0, 12, 320, 20));
    EXPECT_EQ(itemFrame(1), CGRectMake(0, 41, 320, 35));
    EXPECT_EQ(itemFrame(2), CGRectMake(0, 85, 320, 1));
    EXPECT_EQ(view->contentSize().height, 12 + 20 + 9 + 35 + 9 + 1 + 12);

    source->answersLayout = false; // same methods, but no longer claimed: the layout's values apply
    view->reloadData();
    EXPECT_EQ(itemFrame(0), CGRectMake(10, 10, 100, 50));
}

TEST_F(CollectionViewTest, HeadersAndFootersTakeTheirReferenceHeightAcrossTheFullWidth) {
    source->counts = {2, 1};
    layout->setHeaderReferenceSize(CGSizeMake(0, 30));
    layout->setFooterReferenceSize(CGSizeMake(0, 20));
    view->reloadData();
    view->layoutIfNeeded();
    EXPECT_EQ(itemFrame(0, 0), CGRectMake(10, 40, 100, 50));
    double secondSection = 30 + 10 + 50 + 10 + 20;
    EXPECT_EQ(itemFrame(0, 1), CGRectMake(110, secondSection + 30 + 10, 100, 50));
    EXPECT_EQ(view->contentSize().height, 2 * secondSection);

    auto headers = view->visibleSupplementaryViewsOfKind(UICollectionElementKindSectionHeader);
    ASSERT_EQ(headers.size(), 2u);
    EXPECT_EQ(headers[1]->frame(), CGRectMake(0, secondSection, 320, 30));
    EXPECT_EQ(headers[1]->reuseIdentifier(), "Header");
    auto footers = view->visibleSupplementaryViewsOfKind(UICollectionElementKindSectionFooter);
    ASSERT_EQ(footers.size(), 2u);
    EXPECT_EQ(footers[0]->frame(), CGRectMake(0, 90 + 10, 320, 20));
}

TEST_F(CollectionViewTest,
       ReloadAndScrollingReuseCellsAskOnlyForVisibleItemsAndUnregisteredIdentifiersThrow) {
    source->counts = {40}; // 20 lines of 55 points
    view->reloadData();
    EXPECT_EQ(view->contentSize().height, 10 + 20 * 50 + 19 * 5 + 10);
    EXPECT_EQ(source->cellRequests, 0);
    view->layoutIfNeeded();
    size_t firstScreen = view->visibleCells().size();
    EXPECT_EQ(firstScreen, 16u); // lines starting at 10 ... 395 touch the 400-point view
    for (auto& cell : view->visibleCells())
        EXPECT_EQ(cell->frame(), itemFrame(std::dynamic_pointer_cast<TitleCell>(cell)->item));

    view->setContentOffset(CGPointMake(0, 600));
    EXPECT_LE(source->made.size(), 2 * firstScreen);
    auto paths = view->indexPathsForVisibleItems();
    ASSERT_FALSE(paths.empty());
    EXPECT_GE(paths.front()->item(), 20);

    size_t madeBefore = source->made.size();
    view->reloadData();
    view->layoutIfNeeded();
    EXPECT_EQ(source->made.size(), madeBefore);
    int reused = 0;
    for (auto& cell : view->visibleCells())
        reused += std::dynamic_pointer_cast<TitleCell>(cell)->reuses > 0;
    EXPECT_GT(reused, 0);
    EXPECT_THROW(view->dequeueReusableCellWithReuseIdentifier("Nope", NSIndexPath::indexPathForItem(0, 0)),
                 Exception);
    EXPECT_THROW(view->dequeueReusableSupplementaryViewOfKind(UICollectionElementKindSectionHeader, "Nope",
                                                              NSIndexPath::indexPathForItem(0, 0)),
                 Exception);
}

TEST_F(CollectionViewTest, TapSelectsWhenTheDelegateAgrees) {
    view->reloadData();
    view->layoutIfNeeded();
    tap(CGPointMake(50, 30));  // item 0
    tap(CGPointMake(250, 30)); // item 1 is refused
    tap(CGPointMake(250, 90)); // item 3
    EXPECT_EQ(source->selected, (std::vector<int64_t>{0, 3}));
    EXPECT_TRUE(view->indexPathsForSelectedItems().empty()); // the delegate deselects at once

    view->selectItemAtIndexPath(NSIndexPath::indexPathForItem(2, 0), false,
                                UICollectionViewScrollPositionNone);
    EXPECT_TRUE(view->cellForItemAtIndexPath(NSIndexPath::indexPathForItem(2, 0))->isSelected());
    EXPECT_EQ(view->indexPathsForSelectedItems().size(), 1u);
}

TEST_F(CollectionViewTest, ScrollingTheLastPointIntoViewShowsTheEndOfTheList) {
    source->answersLayout = true;
    source->counts = {30};
    source->heights.assign(30, 30);
    view->reloadData();
    double height = view->contentSize().height;
    view->scrollRectToVisible(CGRectMake(0, height - 1, 1, 1), true);
    EXPECT_EQ(view->contentOffset().y, height - 400);
    view->layoutIfNeeded();
    EXPECT_TRUE(view->cellForItemAtIndexPath(NSIndexPath::indexPathForItem(29, 0)));
    EXPECT_FALSE(view->cellForItemAtIndexPath(NSIndexPath::indexPathForItem(0, 0)));
}

TEST_F(CollectionViewTest, HorizontalFlowFillsColumnsAndGrowsToTheRight) {
    layout->setScrollDirection(UICollectionViewScrollDirectionHorizontal);
    layout->setSectionInset(UIEdgeInsetsZero);
    layout->setItemSize(CGSizeMake(100, 150));
    view->reloadData();
    EXPECT_EQ(itemFrame(0), CGRectMake(0, 0, 100, 150));
    EXPECT_EQ(itemFrame(1), CGRectMake(0, 250, 100, 150)); // two per 400-point column, spread
    EXPECT_EQ(itemFrame(2), CGRectMake(105, 0, 100, 150));
    EXPECT_EQ(view->contentSize(), CGSizeMake(100 * 3 + 5 * 2, 400));
}

} // namespace
