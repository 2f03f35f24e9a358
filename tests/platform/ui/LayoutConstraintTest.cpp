#include "platform/foundation/Exception.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/ui/LayoutSolver.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UITabBarController.h"
#include "platform/ui/UIView.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using RGBA = Bitmap::RGBA;

namespace {

using C = NSLayoutConstraint;

UIViewPtr addAutoLayoutView(const UIViewPtr& parent) {
    auto view = UIView::create();
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    parent->addSubview(view);
    return view;
}

// Active constraints: `a.attr relation b.attr2 + constant`, and `a.attr relation constant`.
NSLayoutConstraintPtr pin(const UIViewPtr& a, NSLayoutAttribute attr, const UIViewPtr& b,
                          NSLayoutAttribute attr2, double constant = 0,
                          NSLayoutRelation relation = NSLayoutRelationEqual) {
    auto c = C::constraintWithItem(a, attr, relation, b, attr2, 1, constant);
    c->setActive(true);
    return c;
}
struct Pin {
    NSLayoutAttribute attr, attr2;
    double constant{0};
};
void pins(const UIViewPtr& a, const UIViewPtr& b, std::initializer_list<Pin> list) {
    for (const auto& p : list)
        pin(a, p.attr, b, p.attr2, p.constant);
}
NSLayoutConstraintPtr size(const UIViewPtr& a, NSLayoutAttribute attr, double constant,
                           NSLayoutRelation relation = NSLayoutRelationEqual,
                           UILayoutPriority priority = UILayoutPriorityRequired) {
    auto c = C::constraintWithItem(a, attr, relation, nullptr, NSLayoutAttributeNotAnAttribute, 0, constant);
    c->setPriority(priority);
    c->setActive(true);
    return c;
}

class LayoutConstraintTest : public testing::Test {
protected:
    void SetUp() override { root = UIView::create(CGRectMake(0, 0, 400, 300)); }

    UIViewPtr root;
};

class SizedView : public UIView {
public:
    CGSize intrinsicContentSize() override { return intrinsic; }
    void updateConstraints() override {
        ++updates;
        UIView::updateConstraints();
    }
    CGSize intrinsic{-1, -1};
    int updates{0};
};

} // namespace

TEST_F(LayoutConstraintTest, ActivationInstallsOnTheNearestCommonAncestor) {
    auto container = addAutoLayoutView(root);
    auto a = addAutoLayoutView(container);
    auto b = addAutoLayoutView(root);
    auto across = pin(a, NSLayoutAttributeLeft, b, NSLayoutAttributeLeft);
    EXPECT_EQ(across->installedView(), root);
    auto inside = pin(a, NSLayoutAttributeTop, container, NSLayoutAttributeTop);
    EXPECT_EQ(inside->installedView(), container);
    auto alone = size(a, NSLayoutAttributeWidth, 10);
    EXPECT_EQ(alone->installedView(), a);
    EXPECT_EQ(a->constraints().size(), 1u);
    EXPECT_EQ(root->constraints().size(), 1u);

    NSLayoutConstraint::deactivateConstraints({across, inside});
    EXPECT_FALSE(across->isActive());
    EXPECT_TRUE(root->constraints().empty());
    EXPECT_TRUE(container->constraints().empty());
    NSLayoutConstraint::activateConstraints({across});
    EXPECT_EQ(root->constraints().size(), 1u);

    root->removeConstraint(across);
    EXPECT_FALSE(across->isActive());

    auto stranger = UIView::create();
    auto orphan = C::constraintWithItem(a, NSLayoutAttributeLeft, NSLayoutRelationEqual, stranger,
                                        NSLayoutAttributeLeft, 1, 0);
    EXPECT_THROW(orphan->setActive(true), Exception);
}

TEST_F(LayoutConstraintTest, PinnedEdgesWithInsetsGiveTheFrame) {
    auto v = addAutoLayoutView(root);
    pins(v, root,
         {{NSLayoutAttributeTop, NSLayoutAttributeTop, 10},
          {NSLayoutAttributeLeading, NSLayoutAttributeLeading, 20},
          {NSLayoutAttributeBottom, NSLayoutAttributeBottom, -30},
          {NSLayoutAttributeTrailing, NSLayoutAttributeTrailing, -40}});
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(v->frame(), CGRectMake(20, 10, 340, 260)));

    root->setFrame(CGRectMake(0, 0, 500, 400));
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(v->frame(), CGRectMake(20, 10, 440, 360)));
}

TEST_F(LayoutConstraintTest, CentringAndMatchedDimensionsWithMultipliers) {
    auto v = addAutoLayoutView(root);
    C::activateConstraints({
        C::constraintWithItem(v, NSLayoutAttributeWidth, NSLayoutRelationEqual, root, NSLayoutAttributeWidth,
                              0.5, 0),
        C::constraintWithItem(v, NSLayoutAttributeHeight, NSLayoutRelationEqual, v, NSLayoutAttributeWidth,
                              0.25, 10),
        C::constraintWithItem(v, NSLayoutAttributeCenterX, NSLayoutRelationEqual, root,
                              NSLayoutAttributeCenterX, 1, 0),
        C::constraintWithItem(v, NSLayoutAttributeCenterY, NSLayoutRelationEqual, root,
                              NSLayoutAttributeCenterY, 1, 0),
    });
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(v->frame(), CGRectMake(100, 120, 200, 60)));
}

TEST_F(LayoutConstraintTest, PositionMultipliersScaleWithinTheInstallingView) {
    auto container = UIView::create(CGRectMake(100, 50, 200, 200));
    root->addSubview(container);
    auto v = addAutoLayoutView(container);
    size(v, NSLayoutAttributeWidth, 20);
    size(v, NSLayoutAttributeHeight, 20);
    C::activateConstraints({
        C::constraintWithItem(v, NSLayoutAttributeCenterX, NSLayoutRelationEqual, container,
                              NSLayoutAttributeCenterX, 0.5, 0),
        C::constraintWithItem(v, NSLayoutAttributeTop, NSLayoutRelationEqual, container,
                              NSLayoutAttributeBottom, 0.25, 0),
    });
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(v->frame(), CGRectMake(40, 50, 20, 20)));
}

TEST_F(LayoutConstraintTest, ChainedSiblingsAndNestedConstraintViews) {
    auto left = addAutoLayoutView(root);
    auto right = addAutoLayoutView(root);
    auto inner = addAutoLayoutView(right);
    for (auto& v : {left, right}) {
        pin(v, NSLayoutAttributeTop, root, NSLayoutAttributeTop, 0);
        pin(v, NSLayoutAttributeBottom, root, NSLayoutAttributeBottom, 0);
    }
    pin(left, NSLayoutAttributeLeft, root, NSLayoutAttributeLeft);
    pin(right, NSLayoutAttributeLeft, left, NSLayoutAttributeRight, 10);
    pin(right, NSLayoutAttributeRight, root, NSLayoutAttributeRight);
    pin(left, NSLayoutAttributeWidth, right, NSLayoutAttributeWidth);
    right->setLayoutMargins(UIEdgeInsetsMake(5, 6, 7, 8));
    pins(inner, right,
         {{NSLayoutAttributeTop, NSLayoutAttributeTopMargin},
          {NSLayoutAttributeLeft, NSLayoutAttributeLeftMargin},
          {NSLayoutAttributeBottom, NSLayoutAttributeBottomMargin},
          {NSLayoutAttributeRight, NSLayoutAttributeRightMargin}});
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(left->frame(), CGRectMake(0, 0, 195, 300)));
    EXPECT_TRUE(CGRectEqualToRect(right->frame(), CGRectMake(205, 0, 195, 300)));
    EXPECT_TRUE(CGRectEqualToRect(inner->frame(), CGRectMake(6, 5, 181, 288)));
}

TEST_F(LayoutConstraintTest, MarginsAreEightPointsUnlessASubclassAnswersOthers) {
    class Marginless : public UIView {
    public:
        using UIView::UIView;
        UIEdgeInsets layoutMargins() const override { return UIEdgeInsets{}; }
    };
    auto container = std::make_shared<Marginless>(CGRectMake(0, 0, 100, 50));
    root->addSubview(container);
    container->setLayoutMargins(UIEdgeInsetsMake(5, 5, 5, 5));
    for (const UIViewPtr& parent : {root, UIViewPtr(container)}) {
        auto v = addAutoLayoutView(parent);
        pins(v, parent,
             {{NSLayoutAttributeLeading, NSLayoutAttributeLeadingMargin},
              {NSLayoutAttributeTrailing, NSLayoutAttributeTrailingMargin},
              {NSLayoutAttributeCenterY, NSLayoutAttributeCenterYWithinMargins}});
        size(v, NSLayoutAttributeHeight, 10);
        root->layoutIfNeeded();
        EXPECT_EQ(v->frame(), parent == root ? CGRectMake(8, 145, 384, 10) : CGRectMake(0, 20, 100, 10));
    }
}

TEST_F(LayoutConstraintTest, SubviewsOfASnappedViewKeepTheirOffsetsWhole) {
    auto card = addAutoLayoutView(root);
    pins(card, root,
         {{NSLayoutAttributeTop, NSLayoutAttributeTop, 10.3},
          {NSLayoutAttributeLeft, NSLayoutAttributeLeft, 20.3}});
    size(card, NSLayoutAttributeWidth, 100);
    size(card, NSLayoutAttributeHeight, 100);
    auto inner = addAutoLayoutView(card);
    pins(inner, card,
         {{NSLayoutAttributeTop, NSLayoutAttributeTop, 40},
          {NSLayoutAttributeLeft, NSLayoutAttributeLeft, 20}});
    size(inner, NSLayoutAttributeWidth, 10);
    size(inner, NSLayoutAttributeHeight, 2);
    root->layoutIfNeeded();
    EXPECT_EQ(card->frame(), CGRectMake(20.5, 10.5, 100, 100)) << "edges on the screen's half-point pixels";
    EXPECT_EQ(inner->frame(), CGRectMake(20, 40, 10, 2));
}

TEST_F(LayoutConstraintTest, InequalitiesAndPrioritiesDecideBetweenWishes) {
    auto v = addAutoLayoutView(root);
    pin(v, NSLayoutAttributeLeft, root, NSLayoutAttributeLeft);
    pin(v, NSLayoutAttributeTop, root, NSLayoutAttributeTop);
    size(v, NSLayoutAttributeHeight, 10);
    size(v, NSLayoutAttributeWidth, 150, NSLayoutRelationLessThanOrEqual);
    auto wish = size(v, NSLayoutAttributeWidth, 300, NSLayoutRelationEqual, UILayoutPriorityDefaultHigh);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(v->frame().size.width, 150);

    // Two optional wishes in conflict: the higher priority wins, and changing priorities flips it.
    auto other = size(v, NSLayoutAttributeWidth, 40, NSLayoutRelationEqual, UILayoutPriorityDefaultLow);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(v->frame().size.width, 150);
    wish->setPriority(100);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(v->frame().size.width, 40);
    other->setConstant(60);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(v->frame().size.width, 60);
}

TEST_F(LayoutConstraintTest, ConflictingRequiredConstraintIsBrokenAndTheRestHolds) {
    auto v = addAutoLayoutView(root);
    pins(
        v, root,
        {{NSLayoutAttributeLeft, NSLayoutAttributeLeft, 5}, {NSLayoutAttributeTop, NSLayoutAttributeTop, 5}});
    size(v, NSLayoutAttributeWidth, 50);
    size(v, NSLayoutAttributeHeight, 20);
    size(v, NSLayoutAttributeWidth, 80);
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(v->frame(), CGRectMake(5, 5, 50, 20)));
}

TEST_F(LayoutConstraintTest, IntrinsicSizeHugsAndResistsAtTheViewPriorities) {
    auto v = std::make_shared<SizedView>();
    v->intrinsic = CGSizeMake(80, 30);
    v->setTranslatesAutoresizingMaskIntoConstraints(false);
    root->addSubview(v);
    EXPECT_FLOAT_EQ(v->contentHuggingPriorityForAxis(UILayoutConstraintAxisHorizontal), 250);
    EXPECT_FLOAT_EQ(v->contentCompressionResistancePriorityForAxis(UILayoutConstraintAxisVertical), 750);
    pin(v, NSLayoutAttributeLeft, root, NSLayoutAttributeLeft);
    pin(v, NSLayoutAttributeTop, root, NSLayoutAttributeTop);
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(v->frame(), CGRectMake(0, 0, 80, 30)));

    // A wish for a larger width beats hugging at 250 but not at 1000.
    size(v, NSLayoutAttributeWidth, 120, NSLayoutRelationEqual, 500);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(v->frame().size.width, 120);
    v->setContentHuggingPriority(UILayoutPriorityRequired, UILayoutConstraintAxisHorizontal);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(v->frame().size.width, 80);

    // A wish for a smaller height loses to compression resistance until resistance drops below it.
    size(v, NSLayoutAttributeHeight, 10, NSLayoutRelationEqual, 500);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(v->frame().size.height, 30);
    v->setContentCompressionResistancePriority(200, UILayoutConstraintAxisVertical);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(v->frame().size.height, 10);

    v->intrinsic = CGSizeMake(90, 30);
    v->invalidateIntrinsicContentSize();
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(v->frame().size.width, 90);
}

TEST_F(LayoutConstraintTest, ImageViewTakesItsImageSizeAndFollowsImageChanges) {
    auto makeImage = [](CGSize size) {
        UIGraphicsBeginImageContextWithOptions(size, true, 1);
        auto image = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        return image;
    };
    auto imageView = UIImageView::create(makeImage(CGSizeMake(24, 16)));
    imageView->setTranslatesAutoresizingMaskIntoConstraints(false);
    root->addSubview(imageView);
    pin(imageView, NSLayoutAttributeCenterX, root, NSLayoutAttributeCenterX);
    pin(imageView, NSLayoutAttributeBottom, root, NSLayoutAttributeBottom, -4);
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(imageView->frame(), CGRectMake(188, 280, 24, 16)));
    imageView->setImage(makeImage(CGSizeMake(40, 40)));
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(imageView->frame(), CGRectMake(180, 256, 40, 40)));
}

TEST_F(LayoutConstraintTest, UpdateConstraintsRunsOnceBeforeTheSolveWhenAsked) {
    auto v = std::make_shared<SizedView>();
    v->setTranslatesAutoresizingMaskIntoConstraints(false);
    root->addSubview(v);
    EXPECT_TRUE(v->needsUpdateConstraints());
    root->layoutIfNeeded();
    EXPECT_EQ(v->updates, 1);
    EXPECT_FALSE(v->needsUpdateConstraints());
    root->layoutIfNeeded();
    EXPECT_EQ(v->updates, 1);
    v->setNeedsUpdateConstraints();
    root->layoutIfNeeded();
    EXPECT_EQ(v->updates, 2);
}

TEST_F(LayoutConstraintTest, TranslatingViewsKeepTheirFramesAndAnchorOthers) {
    auto anchor = UIView::create(CGRectMake(30, 40, 50, 60));
    root->addSubview(anchor);
    auto v = addAutoLayoutView(root);
    pins(v, anchor,
         {{NSLayoutAttributeLeft, NSLayoutAttributeRight, 5},
          {NSLayoutAttributeTop, NSLayoutAttributeBottom},
          {NSLayoutAttributeWidth, NSLayoutAttributeWidth},
          {NSLayoutAttributeHeight, NSLayoutAttributeHeight}});
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(anchor->frame(), CGRectMake(30, 40, 50, 60)));
    EXPECT_TRUE(CGRectEqualToRect(v->frame(), CGRectMake(85, 100, 50, 60)));

    // A view that leaves the tree takes its constraints out of the solve.
    anchor->removeFromSuperview();
    size(v, NSLayoutAttributeWidth, 7, NSLayoutRelationEqual, 1);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(v->frame().size.width, 7);
}

namespace {

class LayoutGuideTest : public UIFixture {
protected:
    // A view in the controller's view, 100 wide at the left edge; the test places it vertically.
    UIViewPtr addPlacedView(const UIViewControllerPtr& controller) {
        auto v = addAutoLayoutView(controller->view());
        pin(v, NSLayoutAttributeLeft, controller->view(), NSLayoutAttributeLeft);
        size(v, NSLayoutAttributeWidth, 100);
        return v;
    }
};

TEST_F(LayoutGuideTest, TopGuideIsMeasuredAgainOnEachLayoutPass) {
    auto content = UIViewController::create();
    auto navigation = UINavigationController::create(content);
    window->setRootViewController(navigation);
    auto v = addPlacedView(content);
    auto guide = content->topLayoutGuide();
    auto top = C::constraintWithItem(v, NSLayoutAttributeTop, NSLayoutRelationEqual, guide,
                                     NSLayoutAttributeBottom, 1, 10);
    top->setActive(true);
    C::constraintWithItem(v, NSLayoutAttributeHeight, NSLayoutRelationEqual, guide, NSLayoutAttributeHeight,
                          1, 0)
        ->setActive(true);
    EXPECT_EQ(top->installedView(), content->view());
    EXPECT_EQ(top->secondLayoutGuide(), guide);
    EXPECT_EQ(top->secondItem(), nullptr);
    window->layoutIfNeeded();
    EXPECT_EQ(v->frame(), CGRectMake(0, 74, 100, 64)) << "status bar 20 and navigation bar 44, then 10";

    navigation->setNavigationBarHidden(true, false);
    content->view()->setNeedsLayout();
    window->layoutIfNeeded();
    EXPECT_EQ(v->frame(), CGRectMake(0, 30, 100, 20));
}

TEST_F(LayoutGuideTest, BottomGuideTopSitsOnTheTabBar) {
    auto content = UIViewController::create();
    auto tabs = UITabBarController::create();
    tabs->setViewControllers({content});
    window->setRootViewController(tabs);
    auto v = addPlacedView(content);
    auto host = content->view();
    C::constraintWithItem(v, NSLayoutAttributeBottom, NSLayoutRelationEqual, content->bottomLayoutGuide(),
                          NSLayoutAttributeTop, 1, -5)
        ->setActive(true);
    size(v, NSLayoutAttributeHeight, 30);
    window->layoutIfNeeded();
    double hostBottom = CGRectGetMaxY(host->bounds());
    EXPECT_DOUBLE_EQ(CGRectGetMaxY(v->frame()), hostBottom - 49 - 5);
}

TEST_F(LayoutGuideTest, GuideOfAControllerWithoutItsViewCannotBeActivated) {
    auto shown = UIViewController::create();
    window->setRootViewController(shown);
    auto v = addPlacedView(shown);
    auto unloaded = UIViewController::create();
    auto constraint = C::constraintWithItem(v, NSLayoutAttributeTop, NSLayoutRelationEqual,
                                            unloaded->topLayoutGuide(), NSLayoutAttributeBottom, 1, 0);
    EXPECT_THROW(constraint->setActive(true), Exception);
    EXPECT_FALSE(constraint->isActive());
}

using R = LayoutRelation;

LayoutConstraint eq(const LayoutExpression& a, const LayoutExpression& b,
                    double s = LayoutStrength::required) {
    return LayoutConstraint(a, R::Equal, b, s);
}
LayoutConstraint le(const LayoutExpression& a, const LayoutExpression& b,
                    double s = LayoutStrength::required) {
    return LayoutConstraint(a, R::LessOrEqual, b, s);
}
LayoutConstraint ge(const LayoutExpression& a, const LayoutExpression& b,
                    double s = LayoutStrength::required) {
    return LayoutConstraint(a, R::GreaterOrEqual, b, s);
}

} // namespace

TEST(LayoutSolverTest, RemovingTheStrongerConstraintHandsTheConflictToTheWeakerOne) {
    LayoutVariable x("x");
    LayoutSolver solver;
    auto strongOne = eq(x, 90, 750);
    solver.addConstraint(eq(x, 10, 250));
    solver.addConstraint(strongOne);
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(x.value(), 90);
    solver.removeConstraint(strongOne);
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(x.value(), 10);
    EXPECT_FALSE(solver.hasConstraint(strongOne));
}

TEST(LayoutSolverTest, UnsatisfiableRequiredConstraintIsRefusedAndLeavesTheSolutionAlone) {
    LayoutVariable x("x"), y("y");
    LayoutSolver solver;
    solver.addConstraint(ge(x, 10));
    solver.addConstraint(eq(y, LayoutExpression(x) + 5));
    EXPECT_THROW(solver.addConstraint(le(x, 5)), LayoutSolverError);
    EXPECT_THROW(solver.addConstraint(eq(LayoutExpression(y) - x, 7)), LayoutSolverError);
    solver.addConstraint(eq(x, 12, LayoutStrength::weak));
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(x.value(), 12);
    EXPECT_DOUBLE_EQ(y.value(), 17);
}

TEST(LayoutSolverTest, DuplicateAndUnknownConstraintsAreErrors) {
    LayoutVariable x("x");
    LayoutSolver solver;
    auto c = eq(x, 1);
    solver.addConstraint(c);
    EXPECT_THROW(solver.addConstraint(c), LayoutSolverError);
    EXPECT_THROW(solver.removeConstraint(eq(x, 1)), LayoutSolverError);
    EXPECT_THROW(solver.addEditVariable(x, LayoutStrength::required), LayoutSolverError);
    EXPECT_THROW(solver.suggestValue(x, 3), LayoutSolverError);
}

TEST(LayoutSolverTest, EditVariablesFollowSuggestionsWithinRequiredBounds) {
    LayoutVariable intrinsic("intrinsic"), width("width");
    LayoutSolver solver;
    solver.addConstraint(le(width, 200));
    solver.addConstraint(eq(width, LayoutExpression(intrinsic) + 16, LayoutStrength::strong));
    solver.addEditVariable(intrinsic, LayoutStrength::strong * 2);
    solver.suggestValue(intrinsic, 50);
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(width.value(), 66);
    solver.suggestValue(intrinsic, 120);
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(width.value(), 136);
    solver.suggestValue(intrinsic, 400);
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(width.value(), 200);
    EXPECT_DOUBLE_EQ(intrinsic.value(), 400);

    solver.removeEditVariable(intrinsic);
    EXPECT_FALSE(solver.hasEditVariable(intrinsic));
    EXPECT_THROW(solver.suggestValue(intrinsic, 1), LayoutSolverError);
}

namespace {

class AutoLayoutRenderTest : public UIFixture {
protected:
    UIViewPtr addBox(UIColorPtr colour, const UIViewPtr& parent) {
        auto view = addAutoLayoutView(parent);
        view->setBackgroundColor(std::move(colour));
        return view;
    }
};

} // namespace

// The display pass that activating or changing constraints schedules lays the tree out.
TEST_F(AutoLayoutRenderTest, LabelDrawnAtItsIntrinsicSizeBelowAHeaderFollowsNewTextAndConstants) {
    window->setBackgroundColor(UIColor::whiteColor());
    auto header = addBox(UIColor::blueColor(), window);
    auto label = UILabel::create();
    label->setText("Live now");
    label->setFont(UIFont::systemFontOfSize(30));
    label->setBackgroundColor(UIColor::redColor());
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    window->addSubview(label);
    auto belowHeader = pin(label, NSLayoutAttributeTop, header, NSLayoutAttributeBottom, 12);
    pins(header, window,
         {{NSLayoutAttributeTop, NSLayoutAttributeTop},
          {NSLayoutAttributeLeft, NSLayoutAttributeLeft},
          {NSLayoutAttributeRight, NSLayoutAttributeRight}});
    size(header, NSLayoutAttributeHeight, 80);
    pin(label, NSLayoutAttributeCenterX, window, NSLayoutAttributeCenterX);
    pump();
    CGSize intrinsic = label->intrinsicContentSize();
    CGRect frame = label->frame();
    EXPECT_NEAR(frame.size.width, intrinsic.width, 0.5);
    EXPECT_DOUBLE_EQ(frame.origin.y, 92);
    EXPECT_NEAR(CGRectGetMidX(frame), 187.5, 0.5);
    auto image = render();
    EXPECT_TRUE(colorNear(pixelAt(image, frame.origin.x + 1, frame.origin.y + 1), kRed));
    EXPECT_TRUE(colorNear(pixelAt(image, frame.origin.x - 1, frame.origin.y + 1), kWhite));
    EXPECT_TRUE(colorNear(pixelAt(image, 187, 79), kBlue));

    label->setText("A much longer title");
    pump();
    EXPECT_NEAR(label->frame().size.width, label->intrinsicContentSize().width, 0.5);
    EXPECT_GT(label->frame().size.width, intrinsic.width * 2) << "new text resizes on the next pass";
    belowHeader->setConstant(20);
    pump();
    EXPECT_DOUBLE_EQ(label->frame().origin.y, 100) << "a new constant moves the label on the next pass";
}
