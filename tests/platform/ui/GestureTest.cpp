#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UIPinchGestureRecognizer.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

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

class GestureTest : public UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        surface = UIView::create(CGRectMake(0, 0, 375, 667));
        window->addSubview(surface);
    }
    template <class Recognizer>
    std::shared_ptr<Recognizer> add(const std::shared_ptr<Recorder>& to, const char* name,
                                    void (Recorder::*method)(Recognizer*)) {
        auto recognizer = Recognizer::create(to, selector(name, method));
        surface->addGestureRecognizer(recognizer);
        return recognizer;
    }
    std::shared_ptr<UITapGestureRecognizer> addTap(const std::shared_ptr<Recorder>& to) {
        return add(to, "tapped:", &Recorder::tapped);
    }
    UIViewPtr surface;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

class Refusing : public UIGestureRecognizerDelegate {
public:
    bool gestureRecognizerShouldBegin(UIGestureRecognizer*) override {
        ++asked;
        return false;
    }
    int asked{0};
};

TEST_F(GestureTest, TapIsRecognizedAtItsLocationUnlessItMovesIsRefusedOrDisabled) {
    auto tap = addTap(recorder);
    EXPECT_EQ(tap->view(), surface);
    this->tap(CGPointMake(100, 200));
    ASSERT_EQ(recorder->states, (std::vector{UIGestureRecognizerStateEnded}));
    EXPECT_TRUE(CGPointEqualToPoint(recorder->location, CGPointMake(100, 200)));

    recorder->states.clear();
    drag(CGPointMake(100, 100), CGPointMake(160, 100));
    tap->setEnabled(false);
    this->tap(CGPointMake(10, 10));
    tap->setEnabled(true);
    auto delegate = std::make_shared<Refusing>();
    tap->setDelegate(delegate);
    this->tap(CGPointMake(100, 100));
    EXPECT_EQ(delegate->asked, 1);
    tap->setDelegate(nullptr);
    tap->removeTarget(recorder.get(), "tapped:");
    this->tap(CGPointMake(10, 10));
    EXPECT_TRUE(recorder->states.empty());
}

TEST_F(GestureTest, SingleTapWaitsForTheDoubleTapToFail) {
    useManualClock();
    auto doubles = std::make_shared<Recorder>();
    auto doubleTap = addTap(doubles);
    doubleTap->setNumberOfTapsRequired(2);
    addTap(recorder)->requireGestureRecognizerToFail(doubleTap);

    tap(CGPointMake(50, 60));
    pump();
    EXPECT_TRUE(recorder->states.empty()) << "still waiting for a second tap";
    advance(0.5);
    EXPECT_EQ(recorder->states, (std::vector{UIGestureRecognizerStateEnded}));
    EXPECT_TRUE(CGPointEqualToPoint(recorder->location, CGPointMake(50, 60)));
    EXPECT_TRUE(doubles->states.empty());

    recorder->states.clear();
    UIFixture::doubleTap(CGPointMake(50, 60));
    advance(1);
    EXPECT_EQ(doubles->states, (std::vector{UIGestureRecognizerStateEnded}));
    EXPECT_TRUE(recorder->states.empty());
}

TEST_F(GestureTest, PinchReportsScaleInContinuousStatesAndExcludesATap) {
    auto taps = std::make_shared<Recorder>();
    add(recorder, "pinched:", &Recorder::pinched);
    addTap(taps);
    tap(CGPointMake(100, 100));
    EXPECT_TRUE(recorder->states.empty()) << "one finger is no pinch";
    EXPECT_EQ(taps->states.size(), 1u);
    taps->states.clear();

    pinch(CGPointMake(180, 300), 100, 3);
    EXPECT_TRUE(taps->states.empty());
    ASSERT_GE(recorder->states.size(), 3u);
    EXPECT_EQ(recorder->states.front(), UIGestureRecognizerStateBegan);
    for (size_t i = 1; i + 1 < recorder->states.size(); ++i) {
        EXPECT_EQ(recorder->states[i], UIGestureRecognizerStateChanged);
        EXPECT_GT(recorder->scales[i], recorder->scales[i - 1]);
    }
    EXPECT_EQ(recorder->states.back(), UIGestureRecognizerStateEnded);
    EXPECT_NEAR(recorder->scales[recorder->scales.size() - 2], 3.0, 1e-9);
    EXPECT_EQ(recorder->touches.front(), 2u);

    pinch(CGPointMake(180, 300), 200, 0.25);
    EXPECT_NEAR(recorder->scales.back(), 0.25, 1e-9);
}

TEST_F(GestureTest, SetScaleRestartsTheMeasure) {
    auto pinch = add(recorder, "pinched:", &Recorder::pinched);
    TouchSimulator sim(window);
    sim.begin({CGPointMake(100, 300), CGPointMake(200, 300)});
    sim.move({CGPointMake(50, 300), CGPointMake(250, 300)});
    EXPECT_NEAR(pinch->scale(), 2, 1e-9);
    pinch->setScale(1);
    sim.move({CGPointMake(0, 300), CGPointMake(300, 300)});
    EXPECT_NEAR(pinch->scale(), 1.5, 1e-9);
    sim.end();
}

TEST_F(GestureTest, PanReportsTranslationAndAnEdgePanBeginsOnlyAtItsEdge) {
    auto pans = std::make_shared<Recorder>();
    auto pan = add(pans, "panned:", &Recorder::panned);
    drag(CGPointMake(100, 100), CGPointMake(180, 130));
    ASSERT_GE(pans->states.size(), 2u);
    EXPECT_EQ(pans->states.front(), UIGestureRecognizerStateBegan);
    EXPECT_EQ(pans->states.back(), UIGestureRecognizerStateEnded);
    EXPECT_TRUE(CGPointEqualToPoint(pans->translation, CGPointMake(80, 30)));

    surface->removeGestureRecognizer(pan);
    auto edge = UIScreenEdgePanGestureRecognizer::create(recorder, selector("panned:", &Recorder::panned));
    edge->setEdges(UIRectEdgeLeft);
    surface->addGestureRecognizer(edge);
    drag(CGPointMake(100, 100), CGPointMake(200, 100));
    EXPECT_TRUE(recorder->states.empty());
    drag(CGPointMake(3, 100), CGPointMake(200, 100));
    EXPECT_FALSE(recorder->states.empty());
}

} // namespace
