#include "platform/ui/UIView.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class AnimationTest : public liveapp::test::UIFixture {};

TEST_F(AnimationTest, FinalValuesApplyAtOnceAndCompletionWaitsForDelayAndDuration) {
    useManualClock();
    auto view = UIView::create(CGRectMake(0, 0, 10, 10));
    int completions = 0;
    bool finished = false;
    UIView::animateWithDuration(
        0.3, 0.2, UIViewAnimationOptionCurveEaseOut, [&] { view->setAlpha(0); },
        [&](bool f) {
            ++completions;
            finished = f;
        });
    EXPECT_EQ(view->alpha(), 0);
    EXPECT_EQ(completions, 0);
    pump();
    advance(0.4);
    EXPECT_EQ(completions, 0);
    advance(0.1);
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(finished);
    ASSERT_EQ(UIViewAnimations::recorded().size(), 1u);
    auto record = UIViewAnimations::recorded()[0];
    EXPECT_EQ(record.duration, 0.3);
    EXPECT_EQ(record.delay, 0.2);
    EXPECT_EQ(record.options, uint64_t(UIViewAnimationOptionCurveEaseOut));
}

TEST_F(AnimationTest, ZeroDurationInstantModeOrDisabledAnimationsCompleteOnTheNextPass) {
    useManualClock();
    struct Row {
        const char* name;
        double duration;
        bool instant, enabled;
    };
    for (const Row& row :
         {Row{"zero", 0, false, true}, Row{"instant", 5, true, true}, Row{"disabled", 3, false, false}}) {
        SCOPED_TRACE(row.name);
        UIViewAnimations::setInstant(row.instant);
        UIView::setAnimationsEnabled(row.enabled);
        int completions = 0;
        UIView::animateWithDuration(
            row.duration, [] {}, [&](bool) { ++completions; });
        UIView::setAnimationsEnabled(true);
        UIViewAnimations::setInstant(false);
        EXPECT_EQ(completions, 0) << "not inside the call";
        pump();
        EXPECT_EQ(completions, 1);
    }
}

TEST_F(AnimationTest, SpringAndTransitionVariantsApplyAtOnceAndCompleteAfterTheirDurations) {
    useManualClock();
    auto view = UIView::create();
    int completions = 0;
    UIView::animateWithDuration(
        0.5, 0, 0.7, 0.3, 0, [&] { view->setCenter(CGPointMake(5, 5)); }, [&](bool) { ++completions; });
    UIView::transitionWithView(
        view, 0.25, UIViewAnimationOptionTransitionCrossDissolve, [&] { view->setHidden(true); },
        [&](bool) { ++completions; });
    EXPECT_EQ(view->center(), CGPointMake(5, 5));
    EXPECT_TRUE(view->isHidden());
    advance(0.25);
    EXPECT_EQ(completions, 1);
    advance(0.25);
    EXPECT_EQ(completions, 2);
}

TEST_F(AnimationTest, TransitionFromViewSwapsTheViews) {
    auto parent = UIView::create(), from = UIView::create(), to = UIView::create(), other = UIView::create();
    parent->addSubview(from);
    parent->addSubview(other);
    bool done = false;
    UIView::transitionFromView(from, to, 0, 0, [&](bool) { done = true; });
    EXPECT_EQ(parent->subviews(), (std::vector<UIViewPtr>{to, other}));
    EXPECT_EQ(from->superview(), nullptr);
    pump();
    EXPECT_TRUE(done);
}

} // namespace
