#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UIPinchGestureRecognizer.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

class GestureTest : public UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        surface = UIView::create(CGRectMake(0, 0, 375, 667));
        window->addSubview(surface);
    }
    UIViewPtr surface;
};

class Recorder : public Object {
public:
    void tapped(UITapGestureRecognizer* recognizer) {
        states.push_back(recognizer->state());
        location = recognizer->locationInView(recognizer->view());
    }
    void pinched(UIPinchGestureRecognizer* recognizer) {
        states.push_back(recognizer->state());
        scales.push_back(recognizer->scale());
        touches.push_back(recognizer->numberOfTouches());
    }
    void panned(UIPanGestureRecognizer* recognizer) {
        states.push_back(recognizer->state());
        translation = recognizer->translationInView(recognizer->view());
    }
    std::vector<UIGestureRecognizerState> states;
    std::vector<double> scales;
    std::vector<uint64_t> touches;
    CGPoint location;
    CGPoint translation;
};

TEST_F(GestureTest, SingleTapIsRecognizedAtItsLocation) {
    auto recorder = std::make_shared<Recorder>();
    auto tap = UITapGestureRecognizer::create(recorder, selector("tapped:", &Recorder::tapped));
    surface->addGestureRecognizer(tap);
    EXPECT_EQ(tap->view(), surface);
    this->tap(CGPointMake(100, 200));
    ASSERT_EQ(recorder->states, (std::vector{UIGestureRecognizerStateEnded}));
    EXPECT_TRUE(CGPointEqualToPoint(recorder->location, CGPointMake(100, 200)));
}

TEST_F(GestureTest, SingleTapWaitsForTheDoubleTapToFail) {
    useManualClock();
    auto singles = std::make_shared<Recorder>();
    auto doubles = std::make_shared<Recorder>();
    auto doubleTap = UITapGestureRecognizer::create(doubles, selector("tapped:", &Recorder::tapped));
    doubleTap->setNumberOfTapsRequired(2);
    auto singleTap = UITapGestureRecognizer::create(singles, selector("tapped:", &Recorder::tapped));
    singleTap->requireGestureRecognizerToFail(doubleTap);
    surface->addGestureRecognizer(doubleTap);
    surface->addGestureRecognizer(singleTap);

    tap(CGPointMake(50, 60));
    pump();
    EXPECT_TRUE(singles->states.empty()); // still waiting for a second tap
    advance(0.5);
    EXPECT_EQ(singles->states, (std::vector{UIGestureRecognizerStateEnded}));
    EXPECT_TRUE(CGPointEqualToPoint(singles->location, CGPointMake(50, 60)));
    EXPECT_TRUE(doubles->states.empty());

    singles->states.clear();
    UIFixture::doubleTap(CGPointMake(50, 60));
    advance(1);
    EXPECT_EQ(doubles->states, (std::vector{UIGestureRecognizerStateEnded}));
    EXPECT_TRUE(singles->states.empty());
}

TEST_F(GestureTest, TapThatMovesTooFarFails) {
    auto recorder = std::make_shared<Recorder>();
    surface->addGestureRecognizer(
        UITapGestureRecognizer::create(recorder, selector("tapped:", &Recorder::tapped)));
    drag(CGPointMake(100, 100), CGPointMake(160, 100));
    EXPECT_TRUE(recorder->states.empty());
}

class Refusing : public UIGestureRecognizerDelegate {
public:
    bool gestureRecognizerShouldBegin(UIGestureRecognizer*) override {
        ++asked;
        return false;
    }
    int asked{0};
};

TEST_F(GestureTest, DelegateCanStopTheGestureFromBeginning) {
    auto recorder = std::make_shared<Recorder>();
    auto tap = UITapGestureRecognizer::create(recorder, selector("tapped:", &Recorder::tapped));
    auto delegate = std::make_shared<Refusing>();
    tap->setDelegate(delegate);
    surface->addGestureRecognizer(tap);
    this->tap(CGPointMake(100, 100));
    EXPECT_EQ(delegate->asked, 1);
    EXPECT_TRUE(recorder->states.empty());
}

TEST_F(GestureTest, PinchReportsScaleAndTheContinuousStates) {
    auto recorder = std::make_shared<Recorder>();
    surface->addGestureRecognizer(
        UIPinchGestureRecognizer::create(recorder, selector("pinched:", &Recorder::pinched)));
    pinch(CGPointMake(180, 300), 100, 3);
    ASSERT_GE(recorder->states.size(), 3u);
    EXPECT_EQ(recorder->states.front(), UIGestureRecognizerStateBegan);
    for (size_t i = 1; i + 1 < recorder->states.size(); ++i)
        EXPECT_EQ(recorder->states[i], UIGestureRecognizerStateChanged);
    EXPECT_EQ(recorder->states.back(), UIGestureRecognizerStateEnded);
    EXPECT_NEAR(recorder->scales[recorder->scales.size() - 2], 3.0, 1e-9);
    EXPECT_EQ(recorder->touches.front(), 2u);
    for (size_t i = 1; i < recorder->scales.size() - 1; ++i)
        EXPECT_GT(recorder->scales[i], recorder->scales[i - 1]);
}

TEST_F(GestureTest, PinchInwardsReportsAScaleBelowOne) {
    auto recorder = std::make_shared<Recorder>();
    surface->addGestureRecognizer(
        UIPinchGestureRecognizer::create(recorder, selector("pinched:", &Recorder::pinched)));
    pinch(CGPointMake(180, 300), 200, 0.25);
    ASSERT_FALSE(recorder->scales.empty());
    EXPECT_NEAR(recorder->scales.back(), 0.25, 1e-9);
}

TEST_F(GestureTest, SetScaleRestartsTheMeasure) {
    auto recorder = std::make_shared<Recorder>();
    auto pinch = UIPinchGestureRecognizer::create(recorder, selector("pinched:", &Recorder::pinched));
    surface->addGestureRecognizer(pinch);
    TouchSimulator sim(window);
    sim.begin({CGPointMake(100, 300), CGPointMake(200, 300)});
    sim.move({CGPointMake(50, 300), CGPointMake(250, 300)});
    EXPECT_NEAR(pinch->scale(), 2, 1e-9);
    pinch->setScale(1);
    sim.move({CGPointMake(0, 300), CGPointMake(300, 300)});
    EXPECT_NEAR(pinch->scale(), 1.5, 1e-9);
    sim.end();
}

TEST_F(GestureTest, OneFingerPinchFailsAndAPinchExcludesATap) {
    auto pinches = std::make_shared<Recorder>();
    auto taps = std::make_shared<Recorder>();
    surface->addGestureRecognizer(
        UIPinchGestureRecognizer::create(pinches, selector("pinched:", &Recorder::pinched)));
    surface->addGestureRecognizer(
        UITapGestureRecognizer::create(taps, selector("tapped:", &Recorder::tapped)));
    tap(CGPointMake(100, 100));
    EXPECT_TRUE(pinches->states.empty());
    EXPECT_EQ(taps->states.size(), 1u);
    taps->states.clear();
    pinch(CGPointMake(180, 300), 100, 2);
    EXPECT_FALSE(pinches->states.empty());
    EXPECT_TRUE(taps->states.empty());
}

TEST_F(GestureTest, PanReportsTranslationAndEnds) {
    auto recorder = std::make_shared<Recorder>();
    surface->addGestureRecognizer(
        UIPanGestureRecognizer::create(recorder, selector("panned:", &Recorder::panned)));
    drag(CGPointMake(100, 100), CGPointMake(180, 130));
    ASSERT_GE(recorder->states.size(), 2u);
    EXPECT_EQ(recorder->states.front(), UIGestureRecognizerStateBegan);
    EXPECT_EQ(recorder->states.back(), UIGestureRecognizerStateEnded);
    EXPECT_TRUE(CGPointEqualToPoint(recorder->translation, CGPointMake(80, 30)));
}

TEST_F(GestureTest, ScreenEdgePanOnlyBeginsAtItsEdge) {
    auto recorder = std::make_shared<Recorder>();
    auto edge = UIScreenEdgePanGestureRecognizer::create(recorder, selector("panned:", &Recorder::panned));
    edge->setEdges(UIRectEdgeLeft);
    surface->addGestureRecognizer(edge);
    drag(CGPointMake(100, 100), CGPointMake(200, 100));
    EXPECT_TRUE(recorder->states.empty());
    drag(CGPointMake(3, 100), CGPointMake(200, 100));
    EXPECT_FALSE(recorder->states.empty());
}

TEST_F(GestureTest, DisabledRecognizerSeesNothingAndTargetsCanBeRemoved) {
    auto recorder = std::make_shared<Recorder>();
    auto tap = UITapGestureRecognizer::create(recorder, selector("tapped:", &Recorder::tapped));
    surface->addGestureRecognizer(tap);
    tap->setEnabled(false);
    this->tap(CGPointMake(10, 10));
    EXPECT_TRUE(recorder->states.empty());
    tap->setEnabled(true);
    tap->removeTarget(recorder.get(), "tapped:");
    this->tap(CGPointMake(10, 10));
    EXPECT_TRUE(recorder->states.empty());
}

} // namespace
