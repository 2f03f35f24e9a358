#include "app/ui/KelBarProgressView.h"
#include "app/ui/KelRoundProgressView.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>
#include <memory>

using namespace platform;
using namespace liveapp::test;
using RGBA = Bitmap::RGBA;

namespace {

class ProgressViewsTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        auto host = UIView::create(CGRectMake(0, 0, 200, 100));
        host->setBackgroundColor(UIColor::whiteColor());
        window->addSubview(host);
        round = std::make_shared<KelRoundProgressView>();
        round->setFrame(CGRectMake(10, 10, 37, 37));
        round->setProgressTintColor(UIColor::redColor());
        round->setBackgroundTintColor(UIColor::blueColor());
        host->addSubview(round);
        bar = std::make_shared<KelBarProgressView>();
        bar->setFrame(CGRectMake(60, 10, 120, 20));
        bar->setProgressColor(UIColor::redColor());
        bar->setLineColor(UIColor::blueColor());
        bar->setProgressRemainingColor(UIColor::greenColor());
        host->addSubview(bar);
    }
    // A pixel of the circular view / the bar, in its own points.
    RGBA roundAt(double x, double y) { return pixelAt(window->renderImage(1), 10 + x, 10 + y); }
    RGBA barAt(double x, double y) { return pixelAt(window->renderImage(1), 60 + x, 10 + y); }

    std::shared_ptr<KelRoundProgressView> round;
    std::shared_ptr<KelBarProgressView> bar;
};

TEST_F(ProgressViewsTest, PieGrowsClockwiseFromTwelve) {
    EXPECT_TRUE(colorNear(roundAt(12, 18), kBlue)); // disc, left of the centre
    EXPECT_TRUE(colorNear(roundAt(25, 18), kBlue)); // and right of it: nothing filled at 0
    EXPECT_TRUE(colorNear(roundAt(18, 1.5), kRed)); // the outline
    round->setProgress(0.5f);
    EXPECT_TRUE(colorNear(roundAt(25, 18), kRed)); // the right half is the sector
    EXPECT_TRUE(colorNear(roundAt(12, 18), kBlue));
    round->setProgress(1);
    EXPECT_TRUE(colorNear(roundAt(12, 18), kRed));
    EXPECT_TRUE(colorNear(roundAt(18.5, 30), kRed));
}

TEST_F(ProgressViewsTest, RingShowsOnlyTheTrackAtZeroAndClosesAtOne) {
    round->setAnnular(true);
    EXPECT_TRUE(colorNear(roundAt(18.5, 18.5), kWhite)); // hollow
    EXPECT_TRUE(colorNear(roundAt(18.5, 1.5), kBlue));   // the track at 12 o'clock
    EXPECT_TRUE(colorNear(roundAt(35.5, 18.5), kBlue));
    round->setProgress(0.25f);
    EXPECT_TRUE(colorNear(roundAt(35.5, 18.5), kRed)); // 3 o'clock is reached at a quarter
    EXPECT_TRUE(colorNear(roundAt(1.5, 18.5), kBlue));
    round->setProgress(1);
    EXPECT_TRUE(colorNear(roundAt(1.5, 18.5), kRed));
    EXPECT_TRUE(colorNear(roundAt(18.5, 35.5), kRed));
}

TEST_F(ProgressViewsTest, BarFillsFromTheLeftOnKnownPixels) {
    EXPECT_TRUE(colorNear(barAt(60.5, 10.5), kGreen)); // at 0 only the capsule and what remains
    EXPECT_TRUE(colorNear(barAt(60.5, 2.5), kBlue));
    EXPECT_TRUE(colorNear(barAt(6.5, 10.5), kGreen));

    bar->setProgress(0.02f); // 2.4 points: the whole left cap, up to x = 10
    EXPECT_TRUE(colorNear(barAt(6.5, 10.5), kRed));
    EXPECT_TRUE(colorNear(barAt(9.5, 5.5), kRed));
    EXPECT_TRUE(colorNear(barAt(11.5, 10.5), kGreen));

    bar->setProgress(0.5f); // from x = 4 to x = 60, y 4 to 16
    EXPECT_TRUE(colorNear(barAt(59.5, 10.5), kRed));
    EXPECT_TRUE(colorNear(barAt(30.5, 4.5), kRed));
    EXPECT_TRUE(colorNear(barAt(30.5, 15.5), kRed));
    EXPECT_TRUE(colorNear(barAt(60.5, 10.5), kGreen));

    bar->setProgress(1); // the right cap closes at the right end
    EXPECT_TRUE(colorNear(barAt(110.5, 10.5), kRed));
    EXPECT_TRUE(colorNear(barAt(113.5, 8.5), kRed));
    EXPECT_TRUE(colorNear(barAt(113.5, 12.5), kRed));
    EXPECT_TRUE(colorNear(barAt(114.5, 10.5), kRed));
    EXPECT_TRUE(colorNear(barAt(118.5, 10.5), kBlue, 60)); // the outline, softened where it curves
}

} // namespace
