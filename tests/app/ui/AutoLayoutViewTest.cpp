#include "app/ui/UIView+AutoLayout.h"
#include "platform/ui/UINavigationController.h"
#include "tests/app/ui/ConstraintShape.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using liveapp::test::ConstraintShape;
using liveapp::test::shapeOf;

namespace {

class AutoLayoutViewTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        root = UIView::create(CGRectMake(0, 0, 300, 200));
        window->addSubview(root);
    }
    UIViewPtr addView(const UIViewPtr& parent) {
        auto view = UIView::create();
        parent->addSubview(view);
        return view;
    }
    static std::vector<int64_t> attributes(const NSLayoutConstraintArray& constraints, bool second = false) {
        std::vector<int64_t> result;
        for (auto& c : constraints)
            result.push_back(second ? c->secondAttribute() : c->firstAttribute());
        return result;
    }

    UIViewPtr root;
};

TEST_F(AutoLayoutViewTest, SuperviewEdgePinsNegateInsetAndInvertRelationOnFarEdges) {
    auto v = addView(root);
    struct Case {
        int64_t edge;
        NSLayoutRelation relation;
        int64_t expectedRelation;
        double expectedConstant;
    };
    const Case cases[] = {
        {EdgeBottom, NSLayoutRelationEqual, 0, -8},
        {EdgeTrailing, NSLayoutRelationGreaterThanOrEqual, -1, -8},
        {EdgeRight, NSLayoutRelationLessThanOrEqual, 1, -8},
        {EdgeLeading, NSLayoutRelationGreaterThanOrEqual, 1, 8},
        {EdgeTop, NSLayoutRelationLessThanOrEqual, -1, 8},
    };
    for (const Case& c : cases) {
        auto constraint = autoPinEdgeToSuperviewEdge(v, c.edge, 8, c.relation);
        EXPECT_EQ(shapeOf(constraint), (ConstraintShape{v.get(), c.edge, c.expectedRelation, root.get(),
                                                        c.edge, 1, c.expectedConstant}));
        EXPECT_TRUE(constraint->isActive());
        EXPECT_FLOAT_EQ(constraint->priority(), 1000);
    }
    EXPECT_FALSE(v->translatesAutoresizingMaskIntoConstraints());
    EXPECT_TRUE(root->translatesAutoresizingMaskIntoConstraints()) << "the other view is left as it was";
}

TEST_F(AutoLayoutViewTest, PositiveInsetsKeepTheViewInsideTheSuperview) {
    auto v = addView(root);
    auto pins = autoPinEdgesToSuperviewEdgesWithInsets(v, UIEdgeInsets{10, 20, 30, 40});
    EXPECT_EQ(attributes(pins), (std::vector<int64_t>{3, 5, 4, 6}));
    root->layoutIfNeeded();
    EXPECT_EQ(v->frame(), CGRectMake(20, 10, 240, 160));

    auto w = addView(root);
    EXPECT_EQ(attributes(autoPinEdgesToSuperviewEdgesWithInsets(w, UIEdgeInsets{}, EdgeRight)),
              (std::vector<int64_t>{3, 5, 4}));
    EXPECT_EQ(attributes(autoPinEdgesToSuperviewEdgesWithInsets(addView(root), UIEdgeInsets{}, EdgeLeft)),
              (std::vector<int64_t>{3, 4, 6}));
    EXPECT_EQ(autoPinEdgesToSuperviewEdgesWithInsets(addView(root), UIEdgeInsets{}, DimensionWidth).size(),
              4u);
}

TEST_F(AutoLayoutViewTest, DimensionsAreFixedOrMatched) {
    auto v = addView(root);
    EXPECT_EQ(shapeOf(autoSetDimension(v, DimensionHeight, 44)),
              (ConstraintShape{v.get(), 8, 0, nullptr, 0, 0, 44}));
    auto w = addView(root);
    auto both = autoSetDimensionsToSize(w, CGSizeMake(30, 20));
    EXPECT_EQ(attributes(both), (std::vector<int64_t>{7, 8}));
    autoMatchDimensionWithMultiplier(v, DimensionWidth, DimensionWidth, root, 0.5);
    autoPinEdge(v, EdgeLeft, EdgeRight, w, 5);
    autoPinEdgeToSuperviewEdge(w, EdgeLeft, 10);
    autoAlignAxis(v, AxisHorizontal, w);
    autoPinEdgeToSuperviewEdge(w, EdgeTop, 12);
    root->layoutIfNeeded();
    EXPECT_EQ(w->frame(), CGRectMake(10, 12, 30, 20));
    EXPECT_EQ(v->frame(), CGRectMake(45, 0, 150, 44));
}

TEST_F(AutoLayoutViewTest, CentringReturnsTheHorizontalAxisFirst) {
    auto v = addView(root);
    autoSetDimensionsToSize(v, CGSizeMake(100, 50));
    auto centre = autoCenterInSuperview(v);
    EXPECT_EQ(attributes(centre), (std::vector<int64_t>{10, 9}));
    root->layoutIfNeeded();
    EXPECT_EQ(v->frame(), CGRectMake(100, 75, 100, 50));
    EXPECT_EQ(attributes(autoCenterInSuperviewMargins(addView(root)), true), (std::vector<int64_t>{20, 19}));
}

TEST_F(AutoLayoutViewTest, MarginPinsUseTheEdgesMarginsAndInvertFarEdges) {
    auto v = addView(root);
    EXPECT_EQ(shapeOf(autoPinEdgeToSuperviewMargin(v, EdgeRight, NSLayoutRelationGreaterThanOrEqual)),
              (ConstraintShape{v.get(), 2, -1, root.get(), 14, 1, 0}));
    auto w = addView(root);
    EXPECT_EQ(attributes(autoPinEdgesToSuperviewMargins(w), true), (std::vector<int64_t>{15, 17, 16, 18}));
    root->layoutIfNeeded();
    EXPECT_EQ(w->frame(), CGRectMake(8, 8, 284, 184));
    EXPECT_EQ(attributes(autoPinEdgesToSuperviewMarginsExcludingEdge(addView(root), EdgeLeft), true),
              (std::vector<int64_t>{15, 16, 18}));
}

TEST_F(AutoLayoutViewTest, AttributeConversionsFollowTheirTables) {
    EXPECT_EQ(layout_marginForEdge(2), 14);
    EXPECT_EQ(layout_marginForEdge(0), 13);
    EXPECT_EQ(layout_marginForEdge(7), 13);
    EXPECT_EQ(layout_marginAxisForAxis(10), 20);
    EXPECT_EQ(layout_marginAxisForAxis(11), 19);
    EXPECT_EQ(layout_constraintAxisForAxis(9), 1);
    EXPECT_EQ(layout_constraintAxisForAxis(10), 0);
    EXPECT_EQ(layout_layoutAttributeForAttribute(20), 20);
    EXPECT_EQ(layout_layoutAttributeForAttribute(21), 0);
    EXPECT_EQ(layout_layoutAttributeForAttribute(-3), 0);
    auto v = addView(root);
    EXPECT_EQ(autoConstrainAttribute(v, 42, EdgeTop, root)->firstAttribute(), 0)
        << "out of range is no attribute";
}

TEST_F(AutoLayoutViewTest, CommonSuperviewAndAlignment) {
    auto a = addView(root);
    auto inner = addView(a);
    auto b = addView(root);
    EXPECT_EQ(layout_commonSuperviewWithView(a, inner), a);
    EXPECT_EQ(layout_commonSuperviewWithView(inner, b), root);
    EXPECT_EQ(layout_commonSuperviewWithView(a, UIView::create()), nullptr);

    EXPECT_EQ(shapeOf(layout_alignAttribute(a, EdgeTop, b, AxisVertical)),
              (ConstraintShape{a.get(), 3, 0, b.get(), 3, 1, 0}));
    EXPECT_EQ(shapeOf(layout_alignAttribute(a, AxisBaseline, b, AxisVertical)),
              (ConstraintShape{a.get(), 11, 0, b.get(), 11, 1, 0}));
    EXPECT_EQ(layout_alignAttribute(a, DimensionWidth, b, AxisVertical), nullptr);
    EXPECT_EQ(layout_alignAttribute(a, 21, b, AxisVertical), nullptr);
}

TEST_F(AutoLayoutViewTest, WithoutASuperviewNothingIsMade) {
    auto orphan = UIView::create();
    EXPECT_EQ(autoPinEdgeToSuperviewEdge(orphan, EdgeTop), nullptr);
    EXPECT_TRUE(autoCenterInSuperview(orphan).empty());
    EXPECT_TRUE(autoPinEdgesToSuperviewEdges(orphan).empty());
    EXPECT_EQ(autoSetDimension(nullptr, DimensionWidth, 10), nullptr);
    EXPECT_TRUE(orphan->constraints().empty());
}

TEST_F(AutoLayoutViewTest, ContentPrioritiesChangeOnlyInsideAPriorityBlock) {
    auto v = addView(root);
    autoSetContentHuggingPriorityForAxis(v, AxisVertical);
    EXPECT_FLOAT_EQ(v->contentHuggingPriorityForAxis(UILayoutConstraintAxisVertical), 250);
    EXPECT_TRUE(v->translatesAutoresizingMaskIntoConstraints());
    autoSetPriority(600, [&] {
        autoSetContentHuggingPriorityForAxis(v, AxisVertical);
        autoSetContentCompressionResistancePriorityForAxis(v, AxisHorizontal);
    });
    EXPECT_FLOAT_EQ(v->contentHuggingPriorityForAxis(UILayoutConstraintAxisVertical), 600);
    EXPECT_FLOAT_EQ(v->contentHuggingPriorityForAxis(UILayoutConstraintAxisHorizontal), 250);
    EXPECT_FLOAT_EQ(v->contentCompressionResistancePriorityForAxis(UILayoutConstraintAxisHorizontal), 600);
    EXPECT_FALSE(v->translatesAutoresizingMaskIntoConstraints());
}

TEST_F(AutoLayoutViewTest, LayoutGuidePinsFollowTheBars) {
    auto content = UIViewController::create();
    window->setRootViewController(UINavigationController::create(content));
    auto v = addView(content->view());
    autoSetDimensionsToSize(v, CGSizeMake(10, 10));
    autoPinEdgeToSuperviewEdge(v, EdgeLeft);
    auto top = autoPinToTopLayoutGuideOfViewController(v, content, 10);
    EXPECT_EQ(top->installedView(), content->view());
    EXPECT_EQ(top->secondLayoutGuide(), content->topLayoutGuide());
    EXPECT_EQ(shapeOf(top), (ConstraintShape{v.get(), 3, 0, nullptr, 4, 1, 10}));
    window->layoutIfNeeded();
    EXPECT_EQ(v->frame().origin.y, 74);

    auto w = addView(content->view());
    auto bottom =
        autoPinToBottomLayoutGuideOfViewController(w, content, 5, NSLayoutRelationGreaterThanOrEqual);
    EXPECT_EQ(shapeOf(bottom), (ConstraintShape{w.get(), 4, -1, nullptr, 3, 1, -5}));
    EXPECT_EQ(bottom->secondLayoutGuide(), content->bottomLayoutGuide());
}

} // namespace
