#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIView.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

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

TEST_F(HitTestTest, SkipsHiddenTransparentAndNonInteractiveViews) {
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

TEST_F(HitTestTest, PointInsideCanBeOverridden) {
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
}

} // namespace
