#include "app/ui/NSArray+AutoLayout.h"
#include "platform/ui/UIApplication.h"
#include "tests/app/ui/ConstraintShape.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using liveapp::test::ConstraintShape;
using liveapp::test::shapeOf;
using Shapes = std::vector<ConstraintShape>;

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
    static Shapes shapes(const NSLayoutConstraintArray& constraints) {
        Shapes result;
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
              (Shapes{{at(1), 3, 0, at(0), 3, 1, 0}, {at(2), 3, 0, at(1), 3, 1, 0}}));
    EXPECT_EQ(
        shapes(autoSetViewsDimensionsToSize(ValueArray{Value(views[0]), Value(views[1])}, CGSizeMake(4, 6))),
        (Shapes{{at(0), 7, 0, nullptr, 0, 0, 4},
                {at(1), 7, 0, nullptr, 0, 0, 4},
                {at(0), 8, 0, nullptr, 0, 0, 6},
                {at(1), 8, 0, nullptr, 0, 0, 6}}));
    EXPECT_EQ(layout_commonSuperviewOfViews(mixed), root);
    EXPECT_TRUE(layout_containsMinimumNumberOfViews(mixed, 3));
    EXPECT_FALSE(layout_containsMinimumNumberOfViews(mixed, 4));
    EXPECT_TRUE(layout_containsMinimumNumberOfViews(ValueArray{}, 0));
}

TEST_F(AutoLayoutArrayTest, FixedSpacingPinsEndsAndChainsMatchedAlignedViews) {
    auto made = autoDistributeViewsAlongAxisWithFixedSpacing(views, AxisVertical, AxisVertical, 10);
    const UIView* r = root.get();
    EXPECT_EQ(shapes(*made), (Shapes{{at(0), 3, 0, r, 3, 1, 10},
                                     {at(1), 3, 0, at(0), 4, 1, 10},
                                     {at(1), 8, 0, at(0), 8, 1, 0},
                                     {at(1), 9, 0, at(0), 9, 1, 0},
                                     {at(2), 3, 0, at(1), 4, 1, 10},
                                     {at(2), 8, 0, at(1), 8, 1, 0},
                                     {at(2), 9, 0, at(1), 9, 1, 0},
                                     {at(2), 4, 0, r, 4, 1, -10}}));
    root->layoutIfNeeded();
    EXPECT_EQ(views[1]->frame().origin.y, 70);
    EXPECT_EQ(views[2]->frame().size.height, 50);

    auto flush =
        autoDistributeViewsAlongAxisWithFixedSpacing(views, AxisHorizontal, DimensionHeight, 4, false);
    EXPECT_EQ(flush->size(), 6u) << "a dimension aligns nothing";
    EXPECT_DOUBLE_EQ(flush->front()->constant(), 0);
    EXPECT_DOUBLE_EQ(flush->back()->constant(), 0);
}

TEST_F(AutoLayoutArrayTest, FixedSizeSpreadsCentresEvenlyWithOrWithoutInsetSpacing) {
    const UIView* r = root.get();
    auto inset = autoDistributeViewsAlongAxisWithFixedSize(views, AxisHorizontal, EdgeTop, 40);
    ASSERT_EQ(inset->size(), 8u) << "per view: size, position, then alignment to the view before";
    EXPECT_EQ(shapes({(*inset)[1], (*inset)[3], (*inset)[4], (*inset)[6]}),
              (Shapes{{at(0), 9, 0, r, 9, 0.5, -10},
                      {at(1), 9, 0, r, 9, 1.0, 0},
                      {at(1), 3, 0, at(0), 3, 1, 0},
                      {at(2), 9, 0, r, 9, 1.5, 10}}));
    autoSetDimension(views[0], DimensionHeight, 10);
    autoPinEdgeToSuperviewEdge(views[0], EdgeTop);
    root->layoutIfNeeded();
    EXPECT_EQ(views[0]->frame(), CGRectMake(45, 0, 40, 10));

    auto flush = autoDistributeViewsAlongAxisWithFixedSize(views, AxisHorizontal, EdgeTop, 40, false);
    EXPECT_EQ(shapes({(*flush)[1], (*flush)[3], (*flush)[6]}), (Shapes{{at(0), 9, 0, r, 9, 0.00001, 20},
                                                                       {at(1), 9, 0, r, 9, 1.0, 0},
                                                                       {at(2), 9, 0, r, 9, 2.0, -20}}));
    auto single = autoDistributeViewsAlongAxisWithFixedSize(ValueArray{Value(views[0])}, AxisVertical,
                                                            EdgeLeft, 40, false);
    EXPECT_EQ(shapeOf(single->back()), (ConstraintShape{at(0), 10, 0, r, 10, 1, 0})) << "one view is centred";
}

TEST_F(AutoLayoutArrayTest, RightToLeftRowsStartFromTheLastView) {
    UIApplication::sharedApplication()->setUserInterfaceLayoutDirection(
        UIUserInterfaceLayoutDirectionRightToLeft);
    auto row = autoDistributeViewsAlongAxisWithFixedSize(views, AxisHorizontal, EdgeTop, 40);
    EXPECT_EQ((*row)[1]->firstItem(), views[2]);
    EXPECT_DOUBLE_EQ((*row)[1]->multiplier(), 0.5);
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
