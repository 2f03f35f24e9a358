#include "app/ui/NSArray+AutoLayout.h"
#include "platform/ui/UIApplication.h"
#include "tests/app/ui/ConstraintShape.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using liveapp::test::ConstraintShape;
using liveapp::test::shapeOf;

namespace {

class AutoLayoutArrayTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        root = UIView::create(CGRectMake(0, 0, 300, 190));
        window->addSubview(root);
        for (auto& v : views) {
            v = UIView::create();
            root->addSubview(v);
        }
    }
    const UIView* at(size_t i) const { return views[i].get(); }
    std::vector<ConstraintShape> shapes(const NSLayoutConstraintArray& constraints) const {
        std::vector<ConstraintShape> result;
        for (auto& c : constraints)
            result.push_back(shapeOf(c));
        return result;
    }

    UIViewPtr root;
    std::vector<UIViewPtr> views{3};
};

TEST_F(AutoLayoutArrayTest, RowsChainEachViewToThePreviousAndSkipOtherMembers) {
    ValueArray mixed{Value(views[0]), Value(views[1]), Value("not a view"), Value(views[2])};
    EXPECT_EQ(shapes(autoAlignViewsToEdge(mixed, EdgeTop)),
              (std::vector<ConstraintShape>{{at(1), 3, 0, at(0), 3, 1, 0}, {at(2), 3, 0, at(1), 3, 1, 0}}));
    EXPECT_EQ(autoMatchViewsDimension(mixed, DimensionWidth).size(), 2u);
    EXPECT_EQ(layout_copyViewsOnly(mixed).size(), 3u);
    EXPECT_EQ(layout_commonSuperviewOfViews(mixed), root);
    EXPECT_EQ(layout_commonSuperviewOfViews(ValueArray{Value("x")}), nullptr);
    EXPECT_TRUE(layout_containsMinimumNumberOfViews(mixed, 3));
    EXPECT_FALSE(layout_containsMinimumNumberOfViews(mixed, 4));
    EXPECT_TRUE(layout_containsMinimumNumberOfViews(ValueArray{}, 0));
    EXPECT_FALSE(layout_containsMinimumNumberOfViews(ValueArray{}, 1));
}

TEST_F(AutoLayoutArrayTest, ViewsDimensionsAreAllWidthsThenAllHeights) {
    auto made = autoSetViewsDimensionsToSize(ValueArray{Value(views[0]), Value(views[1])}, CGSizeMake(4, 6));
    EXPECT_EQ(shapes(made), (std::vector<ConstraintShape>{{at(0), 7, 0, nullptr, 0, 0, 4},
                                                          {at(1), 7, 0, nullptr, 0, 0, 4},
                                                          {at(0), 8, 0, nullptr, 0, 0, 6},
                                                          {at(1), 8, 0, nullptr, 0, 0, 6}}));
}

TEST_F(AutoLayoutArrayTest, ConstraintArraysAreIdentifiedAndRemovedTogether) {
    auto made = autoSetViewsDimension(ValueArray{Value(views[0]), Value(views[1])}, DimensionHeight, 5);
    ValueArray withStranger{Value(made[0]), Value(views[2]), Value(made[1])};
    autoIdentifyConstraints(withStranger, "rows");
    EXPECT_EQ(made[0]->identifier(), "rows");
    EXPECT_EQ(made[1]->identifier(), "rows");
    autoRemoveConstraints(withStranger);
    EXPECT_FALSE(made[0]->isActive());
    EXPECT_FALSE(made[1]->isActive());
}

TEST_F(AutoLayoutArrayTest, FixedSpacingPinsEndsAndChainsMatchedAlignedViews) {
    auto made = autoDistributeViewsAlongAxisWithFixedSpacing(views, AxisVertical, AxisVertical, 10);
    ASSERT_TRUE(made);
    const UIView* r = root.get();
    EXPECT_EQ(shapes(*made), (std::vector<ConstraintShape>{
                                 {at(0), 3, 0, r, 3, 1, 10},
                                 {at(1), 3, 0, at(0), 4, 1, 10},
                                 {at(1), 8, 0, at(0), 8, 1, 0},
                                 {at(1), 9, 0, at(0), 9, 1, 0},
                                 {at(2), 3, 0, at(1), 4, 1, 10},
                                 {at(2), 8, 0, at(1), 8, 1, 0},
                                 {at(2), 9, 0, at(1), 9, 1, 0},
                                 {at(2), 4, 0, r, 4, 1, -10},
                             }));
    root->layoutIfNeeded();
    EXPECT_EQ(views[1]->frame().origin.y, 70);
    EXPECT_EQ(views[2]->frame().size.height, 50);

    auto flush =
        autoDistributeViewsAlongAxisWithFixedSpacing(views, AxisHorizontal, DimensionHeight, 4, false);
    EXPECT_EQ(flush->size(), 6u) << "a dimension aligns nothing";
    EXPECT_DOUBLE_EQ(flush->front()->constant(), 0);
    EXPECT_DOUBLE_EQ(flush->back()->constant(), 0);
}

TEST_F(AutoLayoutArrayTest, FixedSizeSpreadsCentresEvenly) {
    auto made = autoDistributeViewsAlongAxisWithFixedSize(views, AxisHorizontal, EdgeTop, 40);
    ASSERT_EQ(made->size(), 8u);
    const UIView* r = root.get();
    EXPECT_EQ(shapeOf((*made)[1]), (ConstraintShape{at(0), 9, 0, r, 9, 0.5, -10}));
    EXPECT_EQ(shapeOf((*made)[3]), (ConstraintShape{at(1), 9, 0, r, 9, 1.0, 0}));
    EXPECT_EQ(shapeOf((*made)[4]), (ConstraintShape{at(1), 3, 0, at(0), 3, 1, 0}));
    EXPECT_EQ(shapeOf((*made)[6]), (ConstraintShape{at(2), 9, 0, r, 9, 1.5, 10}));
    autoSetDimension(views[0], DimensionHeight, 10);
    autoPinEdgeToSuperviewEdge(views[0], EdgeTop);
    root->layoutIfNeeded();
    EXPECT_EQ(views[0]->frame(), CGRectMake(45, 0, 40, 10));
    EXPECT_EQ(views[2]->frame().origin.x, 215);
}

TEST_F(AutoLayoutArrayTest, FixedSizeWithoutInsetSpacingPutsTheEndsFlush) {
    auto made = autoDistributeViewsAlongAxisWithFixedSize(views, AxisHorizontal, EdgeTop, 40, false);
    const UIView* r = root.get();
    EXPECT_EQ(shapeOf((*made)[1]), (ConstraintShape{at(0), 9, 0, r, 9, 0.00001, 20}));
    EXPECT_EQ(shapeOf((*made)[3]), (ConstraintShape{at(1), 9, 0, r, 9, 1.0, 0}));
    EXPECT_EQ(shapeOf((*made)[6]), (ConstraintShape{at(2), 9, 0, r, 9, 2.0, -20}));

    auto single = autoDistributeViewsAlongAxisWithFixedSize(ValueArray{Value(views[0])}, AxisVertical,
                                                            EdgeLeft, 40, false);
    ASSERT_EQ(single->size(), 2u);
    EXPECT_EQ(shapeOf(single->back()), (ConstraintShape{at(0), 10, 0, r, 10, 1, 0})) << "one view is centred";
}

TEST_F(AutoLayoutArrayTest, RightToLeftRowsStartFromTheLastView) {
    UIApplication::sharedApplication()->setUserInterfaceLayoutDirection(
        UIUserInterfaceLayoutDirectionRightToLeft);
    auto made = autoDistributeViewsAlongAxisWithFixedSize(views, AxisHorizontal, EdgeTop, 40);
    EXPECT_EQ((*made)[1]->firstItem(), views[2]);
    EXPECT_DOUBLE_EQ((*made)[1]->multiplier(), 0.5);
    EXPECT_EQ((*made)[6]->firstItem(), views[0]);
    auto column = autoDistributeViewsAlongAxisWithFixedSize(views, AxisVertical, EdgeLeft, 40);
    EXPECT_EQ((*column)[1]->firstItem(), views[0]) << "columns are not turned";
}

TEST_F(AutoLayoutArrayTest, DistributingAlongADimensionMakesNothing) {
    EXPECT_FALSE(autoDistributeViewsAlongAxisWithFixedSize(views, DimensionWidth, EdgeTop, 40).has_value());
    EXPECT_FALSE(autoDistributeViewsAlongAxisWithFixedSpacing(views, DimensionWidth, EdgeTop, 4).has_value());
    EXPECT_TRUE(root->constraints().empty());
    EXPECT_TRUE(views[0]->translatesAutoresizingMaskIntoConstraints());
}

} // namespace
