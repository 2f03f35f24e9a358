#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UIPinchGestureRecognizer.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UIView.h"
#include "tests/support/UIFixture.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace platform;
using namespace liveapp::test;

namespace {

class TouchLog : public UIView {
public:
    TouchLog(CGRect frame, std::vector<std::string>* log, std::string name)
        : UIView(frame)
        , m_log(log)
        , m_name(std::move(name)) {}
    void touchesBegan(const UITouchSet& touches, const UIEventPtr& event) override {
        record("began", touches);
        lastLocation = touches.front()->locationInView(sharedAs<UIView>());
        if (passOn)
            UIView::touchesBegan(touches, event);
    }
    void touchesMoved(const UITouchSet& touches, const UIEventPtr&) override { record("moved", touches); }
    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override {
        record("ended", touches);
        if (passOn)
            UIView::touchesEnded(touches, event);
    }
    void touchesCancelled(const UITouchSet& touches, const UIEventPtr&) override {
        record("cancelled", touches);
    }

    bool passOn{false};
    CGPoint lastLocation;

private:
    void record(const char* what, const UITouchSet& touches) {
        m_log->push_back(m_name + "." + what + std::to_string(touches.size()));
    }
    std::vector<std::string>* m_log;
    std::string m_name;
};

// Recognizes when the touches lift (or as soon as they move, when continuous), logging every step.
class LoggingRecognizer : public UIGestureRecognizer {
public:
    LoggingRecognizer(std::vector<std::string>* log, std::string name)
        : m_log(log)
        , m_name(std::move(name)) {}
    void touchesBegan(const UITouchSet& touches, const UIEventPtr& event) override {
        UIGestureRecognizer::touchesBegan(touches, event);
        m_log->push_back(m_name + ".began" + std::to_string(touches.size()));
    }
    void touchesMoved(const UITouchSet& touches, const UIEventPtr& event) override {
        UIGestureRecognizer::touchesMoved(touches, event);
        m_log->push_back(m_name + ".moved");
        if (beginOnMove && state() == UIGestureRecognizerStatePossible)
            setState(UIGestureRecognizerStateBegan);
    }
    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override {
        UIGestureRecognizer::touchesEnded(touches, event);
        m_log->push_back(m_name + ".ended");
        if (recognizeOnEnd && state() == UIGestureRecognizerStatePossible)
            setState(UIGestureRecognizerStateRecognized);
        else if (state() == UIGestureRecognizerStateBegan || state() == UIGestureRecognizerStateChanged)
            setState(UIGestureRecognizerStateEnded);
        else if (state() == UIGestureRecognizerStatePossible)
            setState(UIGestureRecognizerStateFailed);
    }
    void touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) override {
        UIGestureRecognizer::touchesCancelled(touches, event);
        m_log->push_back(m_name + ".cancelled");
    }
    void reset() override {
        UIGestureRecognizer::reset();
        ++resets;
    }
    bool isContinuous() const override { return beginOnMove; }

    bool recognizeOnEnd{false};
    bool beginOnMove{false};
    int resets{0};

private:
    std::vector<std::string>* m_log;
    std::string m_name;
};

class TouchDeliveryTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        parent = std::make_shared<TouchLog>(CGRectMake(0, 0, 300, 300), &log, "parent");
        child = std::make_shared<TouchLog>(CGRectMake(100, 100, 100, 100), &log, "child");
        window->addSubview(parent);
        parent->addSubview(child);
    }
    std::vector<std::string> log;
    std::shared_ptr<TouchLog> parent, child;
};

TEST_F(TouchDeliveryTest, ATapReachesTheHitViewWithItsLocationAndUnhandledTouchesClimb) {
    tap(CGPointMake(110, 120));
    EXPECT_EQ(log, (std::vector<std::string>{"child.began1", "child.ended1"}));
    EXPECT_EQ(child->lastLocation, CGPointMake(10, 20));
    log.clear();
    child->passOn = true;
    tap(CGPointMake(150, 150));
    EXPECT_EQ(log,
              (std::vector<std::string>{"child.began1", "parent.began1", "child.ended1", "parent.ended1"}));
}

TEST_F(TouchDeliveryTest, TwoFingersReachTheViewTogetherAndADragKeepsItsView) {
    child->setMultipleTouchEnabled(true);
    TouchSimulator touches(window);
    auto began = touches.begin({CGPointMake(120, 120), CGPointMake(180, 180)});
    EXPECT_EQ(began.size(), 2u);
    touches.move({CGPointMake(110, 110), CGPointMake(190, 190)});
    touches.end();
    EXPECT_EQ(log, (std::vector<std::string>{"child.began2", "child.moved2", "child.ended2"}));
    log.clear();
    drag(CGPointMake(150, 150), CGPointMake(10, 10));
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "child.moved1") << "a touch keeps its view when it leaves it";
    EXPECT_EQ(log.back(), "child.ended1");
}

TEST_F(TouchDeliveryTest, RecognizersOfTheViewAndAncestorsSeeTouchesFirst) {
    auto inner = std::make_shared<LoggingRecognizer>(&log, "innerGR");
    auto outer = std::make_shared<LoggingRecognizer>(&log, "outerGR");
    child->addGestureRecognizer(inner);
    parent->addGestureRecognizer(outer);
    EXPECT_EQ(inner->view(), child);
    tap(CGPointMake(150, 150));
    EXPECT_EQ(log, (std::vector<std::string>{"innerGR.began1", "outerGR.began1", "child.began1",
                                             "innerGR.ended", "outerGR.ended", "child.ended1"}));
}

TEST_F(TouchDeliveryTest, RecognitionCancelsTheViewsTouches) {
    auto recognizer = std::make_shared<LoggingRecognizer>(&log, "pan");
    recognizer->beginOnMove = true;
    parent->addGestureRecognizer(recognizer);
    drag(CGPointMake(150, 150), CGPointMake(200, 150));
    EXPECT_EQ(std::count(log.begin(), log.end(), "child.cancelled1"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "child.ended1"), 0);
    EXPECT_EQ(std::count(log.begin(), log.end(), "child.moved1"), 0);
    // Over and reset, ready for the next gesture.
    EXPECT_EQ(recognizer->state(), UIGestureRecognizerStatePossible);
    EXPECT_GE(recognizer->resets, 1);
}

TEST_F(TouchDeliveryTest, ARecognizerThatDoesNotCancelLeavesTheViewsAlone) {
    auto recognizer = std::make_shared<LoggingRecognizer>(&log, "tap");
    recognizer->recognizeOnEnd = true;
    recognizer->setCancelsTouchesInView(false);
    child->addGestureRecognizer(recognizer);
    tap(CGPointMake(150, 150));
    EXPECT_EQ(log.back(), "child.ended1");
}

TEST_F(TouchDeliveryTest, DisabledOrRemovedRecognizersGetNothing) {
    auto recognizer = std::make_shared<LoggingRecognizer>(&log, "gr");
    child->addGestureRecognizer(recognizer);
    recognizer->setEnabled(false);
    tap(CGPointMake(150, 150));
    recognizer->setEnabled(true);
    child->removeGestureRecognizer(recognizer);
    EXPECT_EQ(recognizer->view(), nullptr);
    tap(CGPointMake(150, 150));
    for (auto& line : log)
        EXPECT_EQ(line.rfind("gr.", 0), std::string::npos) << line;
}

TEST_F(TouchDeliveryTest, TapCountAndTimestampsComeWithTheTouches) {
    useManualClock();
    class Counter : public UIView {
    public:
        using UIView::UIView;
        void touchesEnded(const UITouchSet& touches, const UIEventPtr&) override {
            counts.push_back(touches.front()->tapCount());
        }
        std::vector<uint64_t> counts;
    };
    auto view = std::make_shared<Counter>(CGRectMake(0, 400, 100, 100));
    window->addSubview(view);
    doubleTap(CGPointMake(50, 450));
    EXPECT_EQ(view->counts, (std::vector<uint64_t>{1, 2}));
}

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
