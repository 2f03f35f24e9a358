#include "app/ui/KelBarProgressView.h"
#include "app/ui/KelProgressHUD.h"
#include "app/ui/KelRoundProgressView.h"
#include "platform/runloop/RunLoop.h"
#include "tests/support/UIFixture.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace platform;
using namespace liveapp::test;

namespace {

struct RecordingDelegate : KelProgressHUDDelegate {
    bool respondsTo(std::string_view selector) const override { return selector == "hudWasHidden:"; }
    void hudWasHidden(KelProgressHUD*) override { ++hidden; }
    int hidden{0};
};

class ProgressHUDTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
        window->addSubview(host);
        host->addSubview(hud);
    }
    bool visible() const { return hud->alpha() > 0.5; }

    UIViewPtr host = UIView::create(CGRectMake(0, 0, 320, 480));
    KelProgressHUDPtr hud = KelProgressHUD::create(host);
};

TEST_F(ProgressHUDTest, GraceTimeKeepsShortWorkInvisibleButStillCompletes) {
    auto delegate = std::make_shared<RecordingDelegate>();
    hud->setDelegate(delegate);
    hud->setGraceTime(0.5f);
    std::atomic<bool> release{false};
    bool completed = false;
    hud->showAnimated(
        true, [&] { release.wait(false); }, [&] { completed = true; });
    EXPECT_TRUE(hud->taskInProgress());
    advance(0.2);
    EXPECT_FALSE(visible());
    release = true;
    release.notify_all();
    ASSERT_TRUE(pumpUntil([&] { return completed; }));
    EXPECT_EQ(delegate->hidden, 1);
    advance(0.4); // the grace timer fires and finds no work
    EXPECT_FALSE(visible());
    hud->show(true); // a grace time without tracked work never shows
    advance(1);
    EXPECT_FALSE(visible());
}

TEST_F(ProgressHUDTest, MinimumShowTimeHoldsAnEarlyHide) {
    hud->setMinShowTime(1.0f);
    bool completed = false;
    hud->setCompletionBlock([&] { completed = true; });
    hud->show(false);
    advance(0.3);
    hud->hide(true);
    advance(0.69);
    EXPECT_TRUE(visible());
    advance(0.02);
    EXPECT_FALSE(visible());
    EXPECT_FALSE(completed); // the fade is under way
    advance(0.3);
    EXPECT_TRUE(completed);

    hud->setMinShowTime(0); // a show cancels a pending delayed hide
    hud->show(false);
    hud->hide(false, 1.0);
    advance(0.5);
    hud->show(false);
    advance(1.0);
    EXPECT_TRUE(visible());
    hud->hide(false, 1.0);
    advance(1.01);
    EXPECT_FALSE(visible());
}

TEST_F(ProgressHUDTest, AnimatedHideOfANeverShownHudCompletesAtOnceAndZoomsEndAtIdentity) {
    int completions = 0;
    hud->setCompletionBlock([&] { ++completions; });
    hud->setRemoveFromSuperViewOnHide(true);
    hud->hide(true);
    EXPECT_FALSE(hud->superview());
    hud->hide(false);
    EXPECT_EQ(completions, 1); // run once, then cleared

    host->addSubview(hud);
    hud->setAnimationType(HUDAnimationShrink);
    hud->show(true);
    EXPECT_EQ(hud->transform(), CGAffineTransformIdentity);
    ASSERT_FALSE(UIViewAnimations::recorded().empty());
    EXPECT_DOUBLE_EQ(UIViewAnimations::recorded().back().duration, 0.3);
    hud->hide(true);
    EXPECT_EQ(hud->transform(), CGAffineTransformMakeScale(0.5, 0.5));
    EXPECT_NEAR(hud->alpha(), 0.02, 1e-9);
}

TEST_F(ProgressHUDTest, ClassOperationsFindAndHideTheHostsHuds) {
    auto empty = UIView::create(CGRectMake(0, 0, 100, 100));
    EXPECT_FALSE(KelProgressHUD::hideHUDForView(empty, false));
    auto first = KelProgressHUD::showHUDAddedTo(empty, false);
    auto second = KelProgressHUD::showHUDAddedTo(empty, false);
    EXPECT_EQ(KelProgressHUD::HUDForView(empty), second);
    EXPECT_TRUE(KelProgressHUD::hideHUDForView(empty, false));
    EXPECT_FALSE(second->superview());
    EXPECT_EQ(first->superview(), empty);

    empty->addSubview(KelProgressHUD::create(empty));
    EXPECT_EQ(KelProgressHUD::hideAllHUDsForView(empty, false), 2u);
    EXPECT_TRUE(empty->subviews().empty());
}

TEST_F(ProgressHUDTest, WorkOnItsOwnThreadHidesTheHudWhenItReturns) {
    hud->show(false);
    std::atomic<bool> ranOffMain{false};
    auto target = std::make_shared<Object>();
    auto argument = std::make_shared<Object>();
    std::atomic<Object*> seen{nullptr};
    hud->showWhileExecuting(selector("work:",
                                     [&](Object* t, Object* sender, UIEvent*) {
                                         ranOffMain = !RunLoop::isMainThread() && t == target.get();
                                         seen = sender;
                                     }),
                            target, argument, false);
    ASSERT_TRUE(pumpUntil([&] { return !hud->taskInProgress(); }));
    EXPECT_TRUE(ranOffMain);
    EXPECT_EQ(seen.load(), argument.get());
    EXPECT_FALSE(visible());

    hud->setMode(HUDModeBar); // properties set from the work reach the views on the main thread
    bool done = false;
    hud->showAnimated(
        false,
        [&] {
            hud->setLabelText("half");
            hud->setProgress(0.5f);
        },
        [&] { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_EQ(std::dynamic_pointer_cast<KelBarProgressView>(hud->indicator())->progress(), 0.5f);
    EXPECT_EQ(std::dynamic_pointer_cast<UILabel>(hud->subviews()[0])->text(), "half");
}

TEST_F(ProgressHUDTest, IndicatorFollowsTheMode) {
    hud->setMode(HUDModeRing);
    auto ring = std::dynamic_pointer_cast<KelRoundProgressView>(hud->indicator());
    hud->setMode(HUDModePie); // the ring stays, annular flag and all
    ASSERT_TRUE(ring && hud->indicator() == ring);
    EXPECT_TRUE(ring->isAnnular());

    hud->setMode(HUDModeBar);
    hud->setProgress(0.7f);
    auto bar = hud->indicator();
    EXPECT_EQ(std::dynamic_pointer_cast<KelBarProgressView>(bar)->progress(), 0.7f);
    hud->setActivityIndicatorColor(UIColor::redColor()); // a bar is always made anew
    EXPECT_TRUE(std::dynamic_pointer_cast<KelBarProgressView>(hud->indicator()));
    EXPECT_FALSE(bar->superview());

    auto custom = UIView::create(CGRectMake(0, 0, 30, 30));
    hud->setCustomView(custom);
    hud->setMode(HUDModeCustomView);
    EXPECT_EQ(hud->indicator(), custom);
    hud->setMode(HUDModeText);
    hud->setProgress(0.3f); // nothing to hand it to
    EXPECT_FALSE(hud->indicator() || custom->superview());
}

TEST_F(ProgressHUDTest, LayoutStacksIndicatorLabelAndDetails) {
    hud->setLabelText("Loading");
    hud->layoutIfNeeded();
    auto indicator = hud->indicator();
    const CGRect spinner = indicator->frame();
    EXPECT_EQ(spinner.size, CGSizeMake(20, 20));
    auto label = std::dynamic_pointer_cast<UILabel>(hud->subviews()[0]);
    EXPECT_EQ(label->frame().origin.y, CGRectGetMaxY(spinner) + 4);
    const double boxHeight = 20 + 4 + label->frame().size.height + 40;
    EXPECT_DOUBLE_EQ(hud->size().height, boxHeight);
    EXPECT_DOUBLE_EQ(spinner.origin.y, std::round((480 - boxHeight) / 2) + 20);
}

TEST_F(ProgressHUDTest, TextOnlyBoxHoldsJustTheDetailsAndSquareAndMinimumSizeEnlargeTheBox) {
    hud->setMode(HUDModeText);
    hud->setDetailsLabelText("Details that are long enough to wrap onto a second line of the box");
    hud->layoutIfNeeded();
    const CGRect frame = hud->subviews()[1]->frame();
    EXPECT_GT(frame.size.height, 20);
    EXPECT_DOUBLE_EQ(hud->size().height, 40 + frame.size.height);
    EXPECT_DOUBLE_EQ(frame.origin.y, std::round((480 - hud->size().height) / 2) + 20);

    hud->setDetailsLabelText("");
    hud->setCustomView(UIView::create(CGRectMake(0, 0, 80, 40)));
    hud->setMode(HUDModeCustomView);
    hud->layoutIfNeeded();
    EXPECT_EQ(hud->size(), CGSizeMake(120, 80));
    for (auto [square, minimum, size] : {std::tuple{true, CGSizeZero, CGSizeMake(120, 120)},
                                         std::tuple{false, CGSizeMake(150, 150), CGSizeMake(150, 150)}}) {
        hud->setSquare(square);
        hud->setMinSize(minimum);
        hud->setNeedsLayout();
        hud->layoutIfNeeded();
        EXPECT_EQ(hud->size(), size);
    }
}

TEST_F(ProgressHUDTest, BoxIsDrawnAtTheOpacityOverTheHost) {
    host->setBackgroundColor(UIColor::whiteColor());
    hud->setMode(HUDModeText);
    hud->setMinSize(CGSizeMake(100, 100));
    hud->show(false);
    auto image = window->renderImage(1);
    // Black at 0.8 over white, inside the box away from the rounded corners; white outside it.
    EXPECT_TRUE(colorNear(pixelAt(image, 160, 240), {51, 51, 51, 255}, 2));
    EXPECT_TRUE(colorNear(pixelAt(image, 160, 191), {51, 51, 51, 255}, 2));
    EXPECT_TRUE(colorNear(pixelAt(image, 160, 188), {255, 255, 255, 255}, 2));
    EXPECT_TRUE(colorNear(pixelAt(image, 111, 191), {255, 255, 255, 255}, 2)); // cut by the corner
    hud->setDimBackground(true);
    hud->setNeedsDisplay();
    image = window->renderImage(1);
    EXPECT_LT(pixelAt(image, 2, 2).r, 100); // the far corner is dimmed towards black
}

// The indicators on their own, drawn over white.
class ProgressViewsTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        window->setBackgroundColor(UIColor::whiteColor());
        round->setFrame(CGRectMake(10, 10, 37, 37));
        round->setProgressTintColor(UIColor::redColor());
        round->setBackgroundTintColor(UIColor::blueColor());
        bar->setFrame(CGRectMake(60, 10, 120, 20));
        bar->setProgressColor(UIColor::redColor());
        bar->setLineColor(UIColor::blueColor());
        bar->setProgressRemainingColor(UIColor::greenColor());
        window->addSubview(round);
        window->addSubview(bar);
    }
    // Pixels of the circular view or the bar, at points of its own, near their colours.
    void expectPixels(const UIViewPtr& view,
                      std::initializer_list<std::tuple<double, double, Bitmap::RGBA>> checks,
                      int tolerance = 3) {
        auto image = window->renderImage(1);
        for (auto [x, y, colour] : checks) {
            SCOPED_TRACE(testing::Message() << "at " << x << "," << y);
            EXPECT_TRUE(colorNear(pixelAt(image, view->frame().origin.x + x, view->frame().origin.y + y),
                                  colour, tolerance));
        }
    }

    std::shared_ptr<KelRoundProgressView> round = std::make_shared<KelRoundProgressView>();
    std::shared_ptr<KelBarProgressView> bar = std::make_shared<KelBarProgressView>();
};

TEST_F(ProgressViewsTest, PieGrowsClockwiseFromTwelve) {
    expectPixels(round, {{12, 18, kBlue}, {25, 18, kBlue}, {18, 1.5, kRed}}); // disc both sides, outline
    round->setProgress(0.5f);
    expectPixels(round, {{25, 18, kRed}, {12, 18, kBlue}}); // the right half is the sector
    round->setProgress(1);
    expectPixels(round, {{12, 18, kRed}});
}

TEST_F(ProgressViewsTest, RingShowsOnlyTheTrackAtZeroAndClosesAtOne) {
    round->setAnnular(true);
    expectPixels(round, {{18.5, 18.5, kWhite}, {18.5, 1.5, kBlue}}); // hollow, the track at 12 o'clock
    round->setProgress(0.25f);
    expectPixels(round, {{35.5, 18.5, kRed}, {1.5, 18.5, kBlue}}); // 3 o'clock is reached at a quarter
    round->setProgress(1);
    expectPixels(round, {{1.5, 18.5, kRed}});
}

TEST_F(ProgressViewsTest, BarFillsFromTheLeftOnKnownPixels) {
    expectPixels(bar, {{60.5, 10.5, kGreen}, {6.5, 10.5, kGreen}}); // at 0 only the capsule and what remains
    bar->setProgress(0.02f); // 2.4 points: the whole left cap, up to x = 10
    expectPixels(bar, {{6.5, 10.5, kRed}, {11.5, 10.5, kGreen}});
    bar->setProgress(0.5f); // from x = 4 to x = 60, y 4 to 16
    expectPixels(bar, {{59.5, 10.5, kRed}, {60.5, 10.5, kGreen}});
    bar->setProgress(1); // the right cap closes at the right end
    expectPixels(bar, {{110.5, 10.5, kRed}, {114.5, 10.5, kRed}});
    expectPixels(bar, {{118.5, 10.5, kBlue}}, 60); // the outline, softened where it curves
}

} // namespace
