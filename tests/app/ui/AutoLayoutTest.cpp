#include "app/ui/NSArray+AutoLayout.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UINavigationController.h"
#include "tests/support/UIFixture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <ostream>
#include <stdexcept>

using namespace platform;
using Ints = std::vector<int64_t>;

namespace {

// A constraint's items, attributes by the platform's numbers, relation, multiplier and constant.
struct Shape {
    const UIView* first{nullptr};
    int64_t firstAttribute{0}, relation{0};
    const UIView* second{nullptr};
    int64_t secondAttribute{0};
    double multiplier{1}, constant{0};
    friend bool operator==(const Shape&, const Shape&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Shape& s) {
        return out << "[" << s.first << "." << s.firstAttribute << " " << s.relation << " " << s.second << "."
                   << s.secondAttribute << " x " << s.multiplier << " + " << s.constant << "]";
    }
};
using Shapes = std::vector<Shape>;

Shape shapeOf(const NSLayoutConstraintPtr& c) {
    return {c->firstItem().get(), c->firstAttribute(), c->relation(), c->secondItem().get(),
            c->secondAttribute(), c->multiplier(),     c->constant()};
}

Shapes shapes(const NSLayoutConstraintArray& constraints) {
    Shapes result;
    for (auto& c : constraints)
        result.push_back(shapeOf(c));
    return result;
}

Ints attributes(const NSLayoutConstraintArray& constraints, bool second = false) {
    Ints result;
    for (auto& c : constraints)
        result.push_back(second ? c->secondAttribute() : c->firstAttribute());
    return result;
}

// Stands for a platform whose constraints cannot be activated one by one.
class LegacyConstraint : public NSLayoutConstraint {
public:
    using NSLayoutConstraint::NSLayoutConstraint;
    bool respondsTo(std::string_view selector) const override {
        return selector != "setActive:" && NSLayoutConstraint::respondsTo(selector);
    }
};

// Three views in a 300 x 190 root.
class AutoLayoutTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        window->addSubview(root);
        for (auto& v : views)
            root->addSubview(v = UIView::create());
    }
    const UIView* at(size_t i) const { return views[i].get(); }
    UIViewPtr addView() {
        auto view = UIView::create();
        root->addSubview(view);
        return view;
    }
    NSLayoutConstraintPtr build() { return autoPinEdgeToSuperviewEdge(views[0], EdgeTop, 4); }
    static bool stacksEmpty() {
        return layout_arraysOfCreatedConstraints().empty() && layout_globalConstraintPriorities().empty() &&
               layout_globalConstraintIdentifiers().empty();
    }

    UIViewPtr root = UIView::create(CGRectMake(0, 0, 300, 190));
    std::vector<UIViewPtr> views{3};
};

TEST_F(AutoLayoutTest, SuperviewEdgePinsNegateInsetAndInvertRelationOnFarEdges) {
    auto v = views[0];
    const std::tuple<int64_t, NSLayoutRelation, int64_t, double> cases[] = {
        {EdgeBottom, NSLayoutRelationEqual, 0, -8},
        {EdgeTrailing, NSLayoutRelationGreaterThanOrEqual, -1, -8},
        {EdgeRight, NSLayoutRelationLessThanOrEqual, 1, -8},
        {EdgeLeading, NSLayoutRelationGreaterThanOrEqual, 1, 8},
    };
    for (auto [edge, relation, expectedRelation, constant] : cases) {
        auto c = autoPinEdgeToSuperviewEdge(v, edge, 8, relation);
        EXPECT_EQ(shapeOf(c), (Shape{v.get(), edge, expectedRelation, root.get(), edge, 1, constant}));
        EXPECT_TRUE(c->isActive());
    }
    EXPECT_FALSE(v->translatesAutoresizingMaskIntoConstraints());
    EXPECT_TRUE(root->translatesAutoresizingMaskIntoConstraints()) << "the other view is left as it was";
}

TEST_F(AutoLayoutTest, PositiveInsetsKeepTheViewInsideAndExclusionsLeaveOnePinOut) {
    auto v = addView();
    EXPECT_EQ(attributes(autoPinEdgesToSuperviewEdgesWithInsets(v, UIEdgeInsets{10, 20, 30, 40})),
              (Ints{3, 5, 4, 6}));
    root->layoutIfNeeded();
    EXPECT_EQ(v->frame(), CGRectMake(20, 10, 240, 150));
    EXPECT_EQ(attributes(autoPinEdgesToSuperviewEdgesWithInsets(addView(), {}, EdgeRight)), (Ints{3, 5, 4}));
    EXPECT_EQ(attributes(autoPinEdgesToSuperviewMarginsExcludingEdge(addView(), EdgeLeft), true),
              (Ints{15, 16, 18}));
    EXPECT_EQ(autoPinEdgesToSuperviewEdgesWithInsets(addView(), {}, DimensionWidth).size(), 4u);
}

TEST_F(AutoLayoutTest, DimensionsCentringAndMarginsSolveToTheirFrames) {
    auto v = addView();
    EXPECT_EQ(shapeOf(autoSetDimension(v, DimensionHeight, 44)), (Shape{v.get(), 8, 0, nullptr, 0, 0, 44}));
    autoMatchDimensionWithMultiplier(v, DimensionWidth, DimensionWidth, root, 0.5);
    EXPECT_EQ(attributes(autoCenterInSuperview(v)), (Ints{10, 9}));
    auto w = addView();
    EXPECT_EQ(attributes(autoSetDimensionsToSize(w, CGSizeMake(30, 20))), (Ints{7, 8}));
    autoPinEdge(w, EdgeRight, EdgeLeft, v, -5);
    autoAlignAxis(w, AxisHorizontal, v);
    EXPECT_EQ(shapeOf(autoPinEdgeToSuperviewMargin(w, EdgeBottom, NSLayoutRelationGreaterThanOrEqual)),
              (Shape{w.get(), 4, -1, root.get(), 16, 1, 0}));
    EXPECT_EQ(attributes(autoCenterInSuperviewMargins(addView()), true), (Ints{20, 19}));
    root->layoutIfNeeded();
    EXPECT_EQ(v->frame(), CGRectMake(75, 73, 150, 44));
    EXPECT_EQ(w->frame(), CGRectMake(40, 85, 30, 20));
}

TEST_F(AutoLayoutTest, AttributeConversionsAndAlignmentKinds) {
    auto a = views[0], b = views[1];
    EXPECT_EQ(autoConstrainAttribute(a, 42, EdgeTop, root)->firstAttribute(), 0)
        << "out of range is no attribute";
    EXPECT_EQ(shapeOf(layout_alignAttribute(a, AxisBaseline, b, AxisVertical)),
              (Shape{a.get(), 11, 0, b.get(), 11, 1, 0}));
    EXPECT_EQ(layout_alignAttribute(a, EdgeTop, b, AxisVertical)->firstAttribute(), 3);
    EXPECT_EQ(layout_alignAttribute(a, DimensionWidth, b, AxisVertical), nullptr);
    EXPECT_EQ(layout_alignAttribute(a, 21, b, AxisVertical), nullptr);
    auto inner = UIView::create();
    a->addSubview(inner);
    EXPECT_EQ(layout_commonSuperviewWithView(a, inner), a);
    EXPECT_EQ(layout_commonSuperviewWithView(inner, b), root);
    EXPECT_EQ(layout_commonSuperviewWithView(a, UIView::create()), nullptr);

    auto orphan = UIView::create(); // without a superview nothing is made
    EXPECT_EQ(autoPinEdgeToSuperviewEdge(orphan, EdgeTop), nullptr);
    EXPECT_TRUE(autoCenterInSuperview(orphan).empty());
    EXPECT_EQ(autoSetDimension(nullptr, DimensionWidth, 10), nullptr);
    EXPECT_TRUE(orphan->constraints().empty());
}

TEST_F(AutoLayoutTest, ContentPrioritiesChangeOnlyInsideAPriorityBlock) {
    auto v = views[0];
    autoSetContentHuggingPriorityForAxis(v, AxisVertical);
    EXPECT_FLOAT_EQ(v->contentHuggingPriorityForAxis(UILayoutConstraintAxisVertical), 250);
    autoSetPriority(600, [&] {
        autoSetContentHuggingPriorityForAxis(v, AxisVertical);
        autoSetContentCompressionResistancePriorityForAxis(v, AxisHorizontal);
    });
    EXPECT_EQ((std::vector<float>{
                  v->contentHuggingPriorityForAxis(UILayoutConstraintAxisVertical),
                  v->contentHuggingPriorityForAxis(UILayoutConstraintAxisHorizontal),
                  v->contentCompressionResistancePriorityForAxis(UILayoutConstraintAxisHorizontal)}),
              (std::vector<float>{600, 250, 600}));
}

TEST_F(AutoLayoutTest, LayoutGuidePinsGoToTheControllersView) {
    auto content = UIViewController::create();
    window->setRootViewController(UINavigationController::create(content));
    auto v = UIView::create();
    content->view()->addSubview(v);
    auto top = autoPinToTopLayoutGuideOfViewController(v, content, 10);
    EXPECT_EQ(top->installedView(), content->view());
    EXPECT_EQ(top->secondLayoutGuide(), content->topLayoutGuide());
    EXPECT_EQ(shapeOf(top), (Shape{v.get(), 3, 0, nullptr, 4, 1, 10}));
    auto bottom =
        autoPinToBottomLayoutGuideOfViewController(v, content, 5, NSLayoutRelationGreaterThanOrEqual);
    EXPECT_EQ(shapeOf(bottom), (Shape{v.get(), 4, -1, nullptr, 3, 1, -5}));
    EXPECT_EQ(bottom->secondLayoutGuide(), content->bottomLayoutGuide());
}

TEST_F(AutoLayoutTest, RowsChainEachViewToThePreviousAndSkipOtherMembers) {
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

TEST_F(AutoLayoutTest, FixedSpacingPinsEndsAndChainsMatchedAlignedViews) {
    EXPECT_FALSE(autoDistributeViewsAlongAxisWithFixedSize(views, DimensionWidth, EdgeTop, 40).has_value());
    EXPECT_FALSE(autoDistributeViewsAlongAxisWithFixedSpacing(views, DimensionWidth, EdgeTop, 4).has_value());
    EXPECT_TRUE(root->constraints().empty() && views[0]->translatesAutoresizingMaskIntoConstraints());
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

TEST_F(AutoLayoutTest, FixedSizeSpreadsCentresEvenlyWithOrWithoutInsetSpacing) {
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
    EXPECT_EQ(shapeOf(single->back()), (Shape{at(0), 10, 0, r, 10, 1, 0})) << "one view is centred";

    UIApplication::sharedApplication()->setUserInterfaceLayoutDirection(
        UIUserInterfaceLayoutDirectionRightToLeft);
    auto row = autoDistributeViewsAlongAxisWithFixedSize(views, AxisHorizontal, EdgeTop, 40);
    EXPECT_EQ(shapeOf((*row)[1]), (Shape{at(2), 9, 0, r, 9, 0.5, -10})) << "right to left from the last";
    auto column = autoDistributeViewsAlongAxisWithFixedSize(views, AxisVertical, EdgeLeft, 40);
    EXPECT_EQ((*column)[1]->firstItem(), views[0]) << "columns are not turned";
}

TEST_F(AutoLayoutTest, PrioritiesAndIdentifiersNestInnermostFirst) {
    NSLayoutConstraintPtr inner, after, unnamed;
    autoSetPriority(250, [&] {
        autoSetIdentifier("outer", [&] {
            autoSetPriority(750, [&] { autoSetIdentifier("inner", [&] { inner = build(); }); });
            after = build();
        });
        autoSetIdentifier(std::nullopt, [&] { unnamed = build(); });
    });
    EXPECT_EQ(std::pair(inner->priority(), inner->identifier()),
              std::pair(750.0f, std::optional<std::string>("inner")));
    EXPECT_EQ(std::pair(after->priority(), after->identifier()),
              std::pair(250.0f, std::optional<std::string>("outer")));
    ASSERT_TRUE(unnamed) << "a nil identifier still runs the block";
    EXPECT_FALSE(unnamed->identifier().has_value());
    auto boom = [] { throw std::runtime_error("boom"); };
    EXPECT_THROW(autoSetPriority(500, [&] { autoSetIdentifier("x", boom); }), std::runtime_error);
    EXPECT_THROW(autoCreateAndInstallConstraints(boom), std::runtime_error);
    EXPECT_TRUE(stacksEmpty());
    EXPECT_TRUE(build()->isActive());
}

TEST_F(AutoLayoutTest, CreatingWithoutInstallingCollectsUntilInstalledInOneBatch) {
    auto created = autoCreateConstraintsWithoutInstalling([&] {
        autoSetPriority(300, [&] { build(); });
        autoSetDimensionsToSize(views[0], CGSizeMake(10, 10));
    });
    ASSERT_EQ(created->size(), 3u);
    EXPECT_FALSE(created->front()->isActive());
    EXPECT_FLOAT_EQ(created->front()->priority(), 300)
        << "the priority still applies to collected constraints";
    autoInstallConstraints(*created);
    EXPECT_TRUE(std::ranges::all_of(*created, [](auto& c) { return c->isActive(); }));
    EXPECT_FALSE(autoCreateConstraintsWithoutInstalling(nullptr).has_value());

    NSLayoutConstraintArray nested, installed;
    auto outer = autoCreateConstraintsWithoutInstalling([&] {
        build();
        nested = *autoCreateConstraintsWithoutInstalling([&] { build(); });
        installed = *autoCreateAndInstallConstraints([&] { build(); });
    });
    ASSERT_EQ(outer->size() + nested.size() + installed.size(), 3u) << "nested collections keep their own";
    EXPECT_EQ((std::vector<bool>{outer->front()->isActive(), nested.front()->isActive(),
                                 installed.front()->isActive()}),
              (std::vector<bool>{false, false, true}));
    EXPECT_TRUE(stacksEmpty());
}

TEST_F(AutoLayoutTest, ConstraintsThatCannotBeActivatedGoToTheNearestCommonSuperview) {
    auto legacy = std::make_shared<LegacyConstraint>(views[0], NSLayoutAttributeLeft, NSLayoutRelationEqual,
                                                     views[1], NSLayoutAttributeRight, 1, 3);
    autoSetIdentifier("legacy", [&] { autoInstall(legacy); });
    EXPECT_EQ(root->constraints(), NSLayoutConstraintArray{legacy});
    EXPECT_EQ(legacy->identifier(), "legacy");
    autoRemove(legacy);
    EXPECT_TRUE(root->constraints().empty());

    autoPinEdgeToSuperviewEdge(views[1], EdgeLeft);
    autoRemove(legacy);
    EXPECT_EQ(root->constraints().size(), 1u) << "removing what no view holds changes nothing";
}

} // namespace
