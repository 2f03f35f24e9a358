#include "app/ui/UIView+AutoLayout.h"
#include "platform/ui/UINavigationController.h"
#include "tests/app/ui/ConstraintShape.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using liveapp::test::ConstraintShape;
using liveapp::test::shapeOf;
using Ints = std::vector<int64_t>;

namespace {

class AutoLayoutViewTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        root = UIView::create(CGRectMake(0, 0, 300, 200));
        window->addSubview(root);
    }
    UIViewPtr addView() {
        auto view = UIView::create();
        root->addSubview(view);
        return view;
    }
    static Ints attributes(const NSLayoutConstraintArray& constraints, bool second = false) {
        Ints result;
        for (auto& c : constraints)
            result.push_back(second ? c->secondAttribute() : c->firstAttribute());
        return result;
    }

    UIViewPtr root;
};

TEST_F(AutoLayoutViewTest, SuperviewEdgePinsNegateInsetAndInvertRelationOnFarEdges) {
    auto v = addView();
    const std::tuple<int64_t, NSLayoutRelation, int64_t, double> cases[] = {
        {EdgeBottom, NSLayoutRelationEqual, 0, -8},
        {EdgeTrailing, NSLayoutRelationGreaterThanOrEqual, -1, -8},
        {EdgeRight, NSLayoutRelationLessThanOrEqual, 1, -8},
        {EdgeLeading, NSLayoutRelationGreaterThanOrEqual, 1, 8},
    };
    for (auto [edge, relation, expectedRelation, constant] : cases) {
        auto c = autoPinEdgeToSuperviewEdge(v, edge, 8, relation);
        EXPECT_EQ(shapeOf(c),
                  (ConstraintShape{v.get(), edge, expectedRelation, root.get(), edge, 1, constant}));
        EXPECT_TRUE(c->isActive());
    }
    EXPECT_FALSE(v->translatesAutoresizingMaskIntoConstraints());
    EXPECT_TRUE(root->translatesAutoresizingMaskIntoConstraints()) << "the other view is left as it was";
}

TEST_F(AutoLayoutViewTest, PositiveInsetsKeepTheViewInsideAndExclusionsLeaveOnePinOut) {
    auto v = addView();
    EXPECT_EQ(attributes(autoPinEdgesToSuperviewEdgesWithInsets(v, UIEdgeInsets{10, 20, 30, 40})),
              (Ints{3, 5, 4, 6}));
    root->layoutIfNeeded();
    EXPECT_EQ(v->frame(), CGRectMake(20, 10, 240, 160));
    EXPECT_EQ(attributes(autoPinEdgesToSuperviewEdgesWithInsets(addView(), {}, EdgeRight)), (Ints{3, 5, 4}));
    EXPECT_EQ(attributes(autoPinEdgesToSuperviewMarginsExcludingEdge(addView(), EdgeLeft), true),
              (Ints{15, 16, 18}));
    EXPECT_EQ(autoPinEdgesToSuperviewEdgesWithInsets(addView(), {}, DimensionWidth).size(), 4u);
}

TEST_F(AutoLayoutViewTest, DimensionsCentringAndMarginsSolveToTheirFrames) {
    auto v = addView();
    EXPECT_EQ(shapeOf(autoSetDimension(v, DimensionHeight, 44)),
              (ConstraintShape{v.get(), 8, 0, nullptr, 0, 0, 44}));
    autoMatchDimensionWithMultiplier(v, DimensionWidth, DimensionWidth, root, 0.5);
    EXPECT_EQ(attributes(autoCenterInSuperview(v)), (Ints{10, 9}));
    auto w = addView();
    EXPECT_EQ(attributes(autoSetDimensionsToSize(w, CGSizeMake(30, 20))), (Ints{7, 8}));
    autoPinEdge(w, EdgeRight, EdgeLeft, v, -5);
    autoAlignAxis(w, AxisHorizontal, v);
    EXPECT_EQ(shapeOf(autoPinEdgeToSuperviewMargin(w, EdgeBottom, NSLayoutRelationGreaterThanOrEqual)),
              (ConstraintShape{w.get(), 4, -1, root.get(), 16, 1, 0}));
    EXPECT_EQ(attributes(autoCenterInSuperviewMargins(addView()), true), (Ints{20, 19}));
    root->layoutIfNeeded();
    EXPECT_EQ(v->frame(), CGRectMake(75, 78, 150, 44));
    EXPECT_EQ(w->frame(), CGRectMake(40, 90, 30, 20));
}

TEST_F(AutoLayoutViewTest, AttributeConversionsAndAlignmentKinds) {
    EXPECT_EQ(
        (Ints{layout_marginForEdge(2), layout_marginForEdge(0), layout_marginAxisForAxis(10),
              layout_marginAxisForAxis(11), layout_constraintAxisForAxis(9), layout_constraintAxisForAxis(10),
              layout_layoutAttributeForAttribute(20), layout_layoutAttributeForAttribute(21)}),
        (Ints{14, 13, 20, 19, 1, 0, 20, 0}));
    auto a = addView(), b = addView();
    EXPECT_EQ(autoConstrainAttribute(a, 42, EdgeTop, root)->firstAttribute(), 0)
        << "out of range is no attribute";
    EXPECT_EQ(shapeOf(layout_alignAttribute(a, AxisBaseline, b, AxisVertical)),
              (ConstraintShape{a.get(), 11, 0, b.get(), 11, 1, 0}));
    EXPECT_EQ(layout_alignAttribute(a, EdgeTop, b, AxisVertical)->firstAttribute(), 3);
    EXPECT_EQ(layout_alignAttribute(a, DimensionWidth, b, AxisVertical), nullptr);
    EXPECT_EQ(layout_alignAttribute(a, 21, b, AxisVertical), nullptr);
    auto inner = UIView::create();
    a->addSubview(inner);
    EXPECT_EQ(layout_commonSuperviewWithView(a, inner), a);
    EXPECT_EQ(layout_commonSuperviewWithView(inner, b), root);
    EXPECT_EQ(layout_commonSuperviewWithView(a, UIView::create()), nullptr);
}

TEST_F(AutoLayoutViewTest, WithoutASuperviewNothingIsMade) {
    auto orphan = UIView::create();
    EXPECT_EQ(autoPinEdgeToSuperviewEdge(orphan, EdgeTop), nullptr);
    EXPECT_TRUE(autoCenterInSuperview(orphan).empty());
    EXPECT_EQ(autoSetDimension(nullptr, DimensionWidth, 10), nullptr);
    EXPECT_TRUE(orphan->constraints().empty());
}

TEST_F(AutoLayoutViewTest, ContentPrioritiesChangeOnlyInsideAPriorityBlock) {
    auto v = addView();
    autoSetContentHuggingPriorityForAxis(v, AxisVertical);
    EXPECT_FLOAT_EQ(v->contentHuggingPriorityForAxis(UILayoutConstraintAxisVertical), 250);
    autoSetPriority(600, [&] {
        autoSetContentHuggingPriorityForAxis(v, AxisVertical);
        autoSetContentCompressionResistancePriorityForAxis(v, AxisHorizontal);
    });
    EXPECT_FLOAT_EQ(v->contentHuggingPriorityForAxis(UILayoutConstraintAxisVertical), 600);
    EXPECT_FLOAT_EQ(v->contentHuggingPriorityForAxis(UILayoutConstraintAxisHorizontal), 250);
    EXPECT_FLOAT_EQ(v->contentCompressionResistancePriorityForAxis(UILayoutConstraintAxisHorizontal), 600);
}

TEST_F(AutoLayoutViewTest, LayoutGuidePinsGoToTheControllersView) {
    auto content = UIViewController::create();
    window->setRootViewController(UINavigationController::create(content));
    auto v = UIView::create();
    content->view()->addSubview(v);
    auto top = autoPinToTopLayoutGuideOfViewController(v, content, 10);
    EXPECT_EQ(top->installedView(), content->view());
    EXPECT_EQ(top->secondLayoutGuide(), content->topLayoutGuide());
    EXPECT_EQ(shapeOf(top), (ConstraintShape{v.get(), 3, 0, nullptr, 4, 1, 10}));
    auto bottom =
        autoPinToBottomLayoutGuideOfViewController(v, content, 5, NSLayoutRelationGreaterThanOrEqual);
    EXPECT_EQ(shapeOf(bottom), (ConstraintShape{v.get(), 4, -1, nullptr, 3, 1, -5}));
    EXPECT_EQ(bottom->secondLayoutGuide(), content->bottomLayoutGuide());
}

} // namespace
