#include "platform/foundation/Value.h"
#include "platform/ui/CALayer.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace platform;

namespace {

class ViewTreeTest : public liveapp::test::UIFixture {
protected:
    // Outlives the window's teardown, which still calls the views' hooks.
    std::vector<std::string> log;
};

class RecordingView : public UIView {
public:
    explicit RecordingView(std::vector<std::string>* log, std::string name)
        : m_log(log)
        , m_name(std::move(name)) {}
    void willMoveToSuperview(const UIViewPtr& superview) override {
        m_log->push_back(m_name + (superview ? ".willMoveToSuperview" : ".willMoveToSuperview(nil)"));
    }
    void didMoveToSuperview() override { m_log->push_back(m_name + ".didMoveToSuperview"); }
    void willMoveToWindow(const std::shared_ptr<UIWindow>& window) override {
        m_log->push_back(m_name + (window ? ".willMoveToWindow" : ".willMoveToWindow(nil)"));
    }
    void didMoveToWindow() override { m_log->push_back(m_name + ".didMoveToWindow"); }
    void layoutSubviews() override {
        ++layouts;
        m_log->push_back(m_name + ".layoutSubviews");
    }

    int layouts{0};

private:
    std::vector<std::string>* m_log;
    std::string m_name;
};

TEST_F(ViewTreeTest, ReorderingKeepsLayersInSubviewOrder) {
    auto parent = UIView::create();
    auto a = UIView::create(), b = UIView::create(), c = UIView::create(), d = UIView::create();
    parent->addSubview(a);
    parent->addSubview(b);
    parent->addSubview(a);
    EXPECT_EQ(parent->subviews(), (std::vector<UIViewPtr>{b, a})) << "adding again brings to the front";
    parent->insertSubviewBelowSubview(c, a);
    parent->insertSubviewAboveSubview(d, c);
    EXPECT_EQ(parent->subviews(), (std::vector<UIViewPtr>{b, c, d, a}));
    parent->insertSubviewAboveSubview(c, a);
    EXPECT_EQ(parent->subviews(), (std::vector<UIViewPtr>{b, d, a, c}));
    parent->sendSubviewToBack(a);
    parent->exchangeSubviewAtIndex(1, 3);
    EXPECT_EQ(parent->subviews(), (std::vector<UIViewPtr>{a, c, d, b}));
    EXPECT_EQ(parent->layer()->sublayers(),
              (std::vector<CALayerPtr>{a->layer(), c->layer(), d->layer(), b->layer()}));
}

TEST_F(ViewTreeTest, MovingAViewTakesItFromItsOldSuperviewWhichItHoldsWeakly) {
    auto second = UIView::create(), child = UIView::create();
    std::weak_ptr<UIView> weakFirst;
    {
        auto first = UIView::create();
        weakFirst = first;
        first->addSubview(child);
        second->addSubview(child);
        EXPECT_TRUE(first->subviews().empty());
        EXPECT_TRUE(first->layer()->sublayers().empty());
        EXPECT_EQ(child->superview(), second);
        first->addSubview(child);
    }
    EXPECT_TRUE(weakFirst.expired());
    EXPECT_EQ(child->superview(), nullptr);
    EXPECT_EQ(child->layer()->superlayer(), nullptr);
}

TEST_F(ViewTreeTest, ViewWithTagSearchesDepthFirstIncludingItself) {
    auto root = UIView::create(), a = UIView::create(), b = UIView::create(), deep = UIView::create();
    root->addSubview(a);
    root->addSubview(b);
    a->addSubview(deep);
    deep->setTag(7);
    b->setTag(7);
    root->setTag(1);
    EXPECT_EQ(root->viewWithTag(7), deep);
    EXPECT_EQ(root->viewWithTag(1), root);
    EXPECT_EQ(root->viewWithTag(99), nullptr);
    EXPECT_TRUE(deep->isDescendantOfView(root));
    EXPECT_TRUE(root->isDescendantOfView(root));
    EXPECT_FALSE(root->isDescendantOfView(deep));
}

TEST_F(ViewTreeTest, MoveHooksRunInThePlatformsOrderAndReachTheWholeSubtree) {
    auto parent = UIView::create();
    auto view = std::make_shared<RecordingView>(&log, "v");
    window->addSubview(view);
    EXPECT_EQ(log, (std::vector<std::string>{"v.willMoveToSuperview", "v.willMoveToWindow",
                                             "v.didMoveToWindow", "v.didMoveToSuperview"}));
    log.clear();
    view->removeFromSuperview();
    EXPECT_EQ(log, (std::vector<std::string>{"v.willMoveToSuperview(nil)", "v.willMoveToWindow(nil)",
                                             "v.didMoveToWindow", "v.didMoveToSuperview"}));
    EXPECT_EQ(view->window(), nullptr);
    parent->addSubview(view);
    log.clear();
    window->addSubview(parent);
    EXPECT_EQ(log, (std::vector<std::string>{"v.willMoveToWindow", "v.didMoveToWindow"}));
    EXPECT_EQ(view->window(), window);
}

TEST_F(ViewTreeTest, LayoutRunsOnceOnTheNextPassAndAgainOnlyWhenTheSizeChanges) {
    auto view = std::make_shared<RecordingView>(&log, "v");
    window->addSubview(view);
    pump();
    int before = view->layouts;
    view->setNeedsLayout();
    view->setNeedsLayout();
    EXPECT_EQ(view->layouts, before);
    pump();
    EXPECT_EQ(view->layouts, before + 1);
    view->layoutIfNeeded();
    view->setFrame(CGRectMake(5, 5, 0, 0));
    view->layoutIfNeeded();
    EXPECT_EQ(view->layouts, before + 1) << "moved, not resized";
    view->setFrame(CGRectMake(5, 5, 20, 10));
    view->layoutIfNeeded();
    EXPECT_EQ(view->layouts, before + 2);
}

TEST_F(ViewTreeTest, FlexibleWidthAndMarginsFollowTheSuperview) {
    auto parent = UIView::create(CGRectMake(0, 0, 100, 100));
    auto stretch = UIView::create(CGRectMake(10, 10, 80, 20));
    stretch->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    auto pinnedRight = UIView::create(CGRectMake(70, 10, 20, 20));
    pinnedRight->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    auto centered = UIView::create(CGRectMake(40, 40, 20, 20));
    centered->setAutoresizingMask(
        UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
        UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin);
    auto fixed = UIView::create(CGRectMake(10, 10, 20, 20));
    for (auto& v : {stretch, pinnedRight, centered, fixed})
        parent->addSubview(v);

    parent->setFrame(CGRectMake(0, 0, 200, 300));
    EXPECT_EQ(stretch->frame(), CGRectMake(10, 10, 180, 20));
    EXPECT_EQ(pinnedRight->frame(), CGRectMake(170, 10, 20, 20));
    EXPECT_EQ(centered->frame(), CGRectMake(90, 140, 20, 20));
    EXPECT_EQ(fixed->frame(), CGRectMake(10, 10, 20, 20));

    parent->setAutoresizesSubviews(false);
    parent->setFrame(CGRectMake(0, 0, 100, 100));
    EXPECT_EQ(stretch->frame(), CGRectMake(10, 10, 180, 20));
}

TEST_F(ViewTreeTest, FrameBoundsAndCenterAgreeThroughTheTransform) {
    auto view = UIView::create(CGRectMake(10, 20, 100, 50));
    EXPECT_EQ(view->center(), CGPointMake(60, 45));
    EXPECT_EQ(view->bounds(), CGRectMake(0, 0, 100, 50));
    view->setTransform(CGAffineTransformMakeScale(2, 2));
    EXPECT_EQ(view->frame(), CGRectMake(-40, -5, 200, 100));
    EXPECT_EQ(view->bounds(), CGRectMake(0, 0, 100, 50));
    view->setTransform(CGAffineTransformIdentity);
    view->setCenter(CGPointMake(0, 0));
    EXPECT_EQ(view->frame(), CGRectMake(-50, -25, 100, 50));
}

TEST_F(ViewTreeTest, ConvertsPointsAcrossTranslatedAndScaledViews) {
    auto parent = UIView::create(CGRectMake(100, 100, 200, 200));
    auto child = UIView::create(CGRectMake(10, 10, 50, 50));
    window->addSubview(parent);
    parent->addSubview(child);
    EXPECT_EQ(child->convertPointToView(CGPointMake(1, 2), window), CGPointMake(111, 112));
    EXPECT_EQ(child->convertPointFromView(CGPointMake(111, 112), nullptr), CGPointMake(1, 2));
    parent->setBounds(CGRectMake(5, 5, 200, 200)); // scrolled by 5
    EXPECT_EQ(child->convertPointToView(CGPointMake(0, 0), window), CGPointMake(105, 105));
    child->setTransform(CGAffineTransformMakeScale(2, 2));
    // Scaled about its centre (35, 35) in the parent.
    EXPECT_EQ(child->convertPointToView(CGPointMake(0, 0), parent), CGPointMake(-15, -15));
    EXPECT_EQ(child->convertRectToView(CGRectMake(0, 0, 50, 50), parent), CGRectMake(-15, -15, 100, 100));
}

TEST_F(ViewTreeTest, AlphaIsClampedAndSharedWithTheLayerAndTintIsInheritedUntilSet) {
    auto parent = UIView::create(), view = UIView::create();
    parent->addSubview(view);
    view->setAlpha(0.3);
    EXPECT_FLOAT_EQ(view->layer()->opacity(), 0.3f);
    view->layer()->setOpacity(0.5f);
    EXPECT_DOUBLE_EQ(view->alpha(), 0.5);
    view->setAlpha(3);
    EXPECT_DOUBLE_EQ(view->alpha(), 1);

    parent->setTintColor(UIColor::redColor());
    EXPECT_TRUE(UIColor::isEqual(view->tintColor(), UIColor::redColor()));
    view->setTintColor(UIColor::greenColor());
    parent->setTintColor(UIColor::blueColor());
    EXPECT_TRUE(UIColor::isEqual(view->tintColor(), UIColor::greenColor())) << "its own colour wins";
}

class HitTestTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        back = UIView::create(CGRectMake(0, 0, 200, 200));
        front = UIView::create(CGRectMake(50, 50, 100, 100));
        window->addSubview(back);
        back->addSubview(front);
    }
    UIViewPtr back, front;
};

TEST_F(HitTestTest, FindsTheFrontMostDeepestViewWithinBoundsThroughTransforms) {
    auto outside = UIView::create(CGRectMake(190, 0, 50, 50));
    back->addSubview(outside);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(60, 60)), front);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(10, 10)), back);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(300, 300)), window);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(195, 10)), outside);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(220, 10)), window) << "outside its superview";
    front->setTransform(CGAffineTransformMakeScale(0.5, 0.5)); // now 75...125
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(60, 60)), back);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(80, 80)), front);
}

TEST_F(HitTestTest, PointInsideCanBeOverriddenAndHiddenTransparentOrNonInteractiveViewsAreSkipped) {
    class Round : public UIView {
    public:
        using UIView::UIView;
        bool pointInside(CGPoint p, const UIEventPtr&) override {
            double dx = p.x - 50, dy = p.y - 50;
            return dx * dx + dy * dy <= 50 * 50;
        }
    };
    auto round = std::make_shared<Round>(CGRectMake(0, 0, 100, 100));
    front->addSubview(round);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(100, 100)), round);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(52, 52)), front);
    front->setHidden(true);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(60, 60)), back);
    front->setHidden(false);
    front->setAlpha(0.005);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(60, 60)), back);
    front->setAlpha(0.02);
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(60, 60)), front);
    back->setUserInteractionEnabled(false);
    // Interaction off hides the whole subtree from touches.
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(60, 60)), window);
}

TEST(LayerTreeTest, InsertingPlacesBetweenSubviewLayersPastTheEndAppendsAndRemovalDetaches) {
    auto bar = UIView::create();
    auto background = UIView::create(), title = UIView::create();
    bar->addSubview(background);
    bar->addSubview(title);
    auto colour = CALayer::layer();
    bar->layer()->insertSublayer(colour, 1);
    EXPECT_EQ(bar->layer()->sublayers(),
              (std::vector<CALayerPtr>{background->layer(), colour, title->layer()}));
    // Inserting again at 1 moves it, not duplicates it.
    bar->layer()->insertSublayer(colour, 1);
    EXPECT_EQ(bar->layer()->sublayers().size(), 3u);
    // A later subview goes on top of the extra layer.
    auto badge = UIView::create();
    bar->addSubview(badge);
    EXPECT_EQ(bar->layer()->sublayers().back(), badge->layer());
    auto root = CALayer::layer(), a = CALayer::layer(), b = CALayer::layer();
    root->insertSublayer(a, 10);
    root->insertSublayer(b, 0);
    EXPECT_EQ(root->sublayers(), (std::vector<CALayerPtr>{b, a}));
    EXPECT_EQ(a->superlayer(), root);
    a->removeFromSuperlayer();
    EXPECT_EQ(root->sublayers(), (std::vector<CALayerPtr>{b}));
    EXPECT_EQ(a->superlayer(), nullptr);
    auto c = CALayer::layer();
    root->replaceSublayer(b, c);
    EXPECT_EQ(root->sublayers(), (std::vector<CALayerPtr>{c}));
    EXPECT_EQ(b->superlayer(), nullptr);
    root->addSublayer(a);
    root->insertSublayerBelow(b, a);
    EXPECT_EQ(root->sublayers(), (std::vector<CALayerPtr>{c, b, a}));
    root->insertSublayerAbove(c, a);
    EXPECT_EQ(root->sublayers(), (std::vector<CALayerPtr>{b, a, c}));
}

TEST(LayerGeometryTest, FrameFollowsAnchorPointPositionAndTransformAndPointsConvert) {
    auto layer = CALayer::layer();
    layer->setFrame(CGRectMake(0, -20, 320, 64));
    EXPECT_EQ(layer->position(), CGPointMake(160, 12));
    EXPECT_EQ(layer->bounds(), CGRectMake(0, 0, 320, 64));
    layer->setAnchorPoint(CGPointMake(0, 0));
    EXPECT_EQ(layer->frame(), CGRectMake(160, 12, 320, 64));
    layer->setAffineTransform(CGAffineTransformMakeScale(0.5, 2));
    EXPECT_EQ(layer->frame(), CGRectMake(160, 12, 160, 128));
    auto root = CALayer::layer(), child = CALayer::layer();
    root->setFrame(CGRectMake(0, 0, 100, 100));
    child->setFrame(CGRectMake(10, 20, 30, 30));
    root->addSublayer(child);
    EXPECT_EQ(child->convertPointToLayer(CGPointMake(1, 1), root), CGPointMake(11, 21));
    EXPECT_EQ(child->convertPointFromLayer(CGPointMake(11, 21), root), CGPointMake(1, 1));
}

} // namespace
