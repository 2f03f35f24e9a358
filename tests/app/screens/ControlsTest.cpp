// The broadcast screen's controls driven by touches, without publishing: orientation, torch and camera,
// the beauty toggle and sliders, tap to focus, zoom by double tap and pinch, the viewer badge, leaving
// the screen, the capture button without a push address, and the application's activity.

#include "app/core/CommonData.h"
#include "platform/ui/UIApplication.h"
#include "tests/app/screens/LiveScreenFixture.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>

using namespace liveapp::test;
using namespace platform;

namespace {

class ControlsTest : public LiveScreenFixture {
protected:
    void SetUp() override {
        LiveScreenFixture::SetUp();
        presentAndJoin();
        session = screen->simpleSession();
    }
    // A single tap counts once the double tap it could start has failed.
    void tapAndSettle(CGPoint point) {
        tap(point);
        advance(0.4);
    }
    std::shared_ptr<LiveSimpleSession> session;
};

TEST_F(ControlsTest, TheTorchIsOnlyForTheBackCamera) {
    // The screen is landscape only and turns the interface.
    EXPECT_EQ(screen->supportedInterfaceOrientations(), 24u);
    EXPECT_FALSE(screen->shouldAutorotate());
    EXPECT_TRUE(UIApplication::sharedApplication()->isStatusBarHidden());
    EXPECT_TRUE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    EXPECT_EQ(session->previewView()->frame(), CGRectMake(0, 0, 667, 375));

    const auto& flash = panel()->flashButton();
    tap(centreOf(flash));
    EXPECT_TRUE(session->torch());
    EXPECT_TRUE(flash->isSelected());

    tap(centreOf(panel()->cameraButton()));
    EXPECT_EQ(session->cameraState(), LiveCameraStateFront);
    EXPECT_FALSE(flash->isEnabled());
    EXPECT_FALSE(flash->isSelected());

    tap(centreOf(panel()->cameraButton()));
    EXPECT_EQ(session->cameraState(), LiveCameraStateBack);
    EXPECT_TRUE(flash->isEnabled());
    EXPECT_FALSE(flash->isSelected());
}

TEST_F(ControlsTest, TheBeautyToggleSendsFixedLevelsAndTheSlidersTheirOwn) {
    using Levels = std::array<float, 3>;
    tap(centreOf(panel()->facialButton()));
    EXPECT_EQ(session->beatyEffect(), (Levels{0.7f, 0.6f, 0.5f}));
    tap(centreOf(panel()->facialButton()));
    EXPECT_EQ(session->beatyEffect(), (Levels{0, 0, 0}));

    const auto& sliders = panel()->facialSettingView();
    EXPECT_TRUE(sliders->isHidden()) << "no control shows it";
    sliders->setBright(0.5, 0.25, 1);
    EXPECT_EQ(session->beatyEffect(), (Levels{0.5f, 0.25f, 1}));
    EXPECT_EQ(sliders->brightLabel()->text(), "美白0.50");
    EXPECT_EQ(sliders->smoothLabel()->text(), "磨皮0.25");
    EXPECT_EQ(sliders->pinkLabel()->text(), "粉嫩1.00");
    tap(centreOf(panel()->facialButton()));
    EXPECT_EQ(session->beatyEffect(), (Levels{0.7f, 0.6f, 0.5f})) << "whatever the sliders hold";

    auto alone = FacialSettingView::create(CGRectMake(0, 0, 200, 100));
    alone->setBright(0.5, 0.5, 0.5);
    EXPECT_EQ(alone->brightLabel()->text(), "美白") << "without a delegate nothing is reported or shown";

    // Without a push address the capture button asks for the key and stays usable.
    const auto& capture = panel()->captureButton();
    EXPECT_EQ(capture->currentTitle(), "开始直播");
    tap(centreOf(capture));
    EXPECT_TRUE(waitForPrompt("正在请求流服务器，请稍后重试"));
    EXPECT_TRUE(pumpUntil([&] { return !stub.requestsTo("room.viewSecretKey").empty(); }));
    EXPECT_EQ(capture->captureState(), 4);
    EXPECT_TRUE(capture->isUserInteractionEnabled());
    EXPECT_FALSE(screen->isCapturing());
}

TEST_F(ControlsTest, ATapFocusesWhereItLandsAndShowsTheMarkerForASecond) {
    const CGPoint centre = CGPointMake(667 / 2.0, 375 / 2.0);
    tapAndSettle(centre);
    EXPECT_EQ(session->focusPointOfInterest(), CGPointMake(0.5, 0.5));
    const auto& marker = panel()->focusImageView();
    EXPECT_EQ(marker->center(), centre);
    EXPECT_EQ(marker->alpha(), 1);
    advance(1.0);
    EXPECT_EQ(marker->alpha(), 0);

    screen->liveControlPanelTapPoint(LiveControlPanel::create().get(), CGPointMake(10, 10)); // no size
    EXPECT_EQ(session->focusPointOfInterest(), CGPointMake(0.5, 0.5));
}

TEST_F(ControlsTest, DoubleTapsStepTheZoomAndAPinchSetsIt) {
    // The default back camera zooms up to 4: the factor is 1 + log2(z) x 0.75.
    const CGPoint point = CGPointMake(500, 300);
    const std::pair<double, double> steps[] = {{2, 1.75}, {4, 2.5}, {8, 3.25}, {1, 1.0}};
    for (const auto& [zoom, factor] : steps) {
        doubleTap(point);
        advance(0.4);
        EXPECT_FLOAT_EQ(session->videoZoomFactor(), float(factor)) << "zoom " << zoom;
    }
    EXPECT_NE(session->focusPointOfInterest(), CGPointMake(0.75, 0.8)) << "a double tap never focuses";

    doubleTap(point); // 2
    advance(0.4);
    pinch(point, 100, 3); // 2 x 3 = 6
    EXPECT_FLOAT_EQ(session->videoZoomFactor(), float(1 + std::log2(6.0) * 0.75));
    EXPECT_EQ(panel()->touchesView()->baseZoomScale(), 6);
}

TEST_F(ControlsTest, PinchesStayWithinOneToEightAndReportNothingPastTheEnds) {
    auto view = ZoomTouchesView::create(CGRectMake(0, 0, 300, 300));
    window->addSubview(view);
    std::vector<double> reported;
    view->setZoomTouchesHandler([&](ZoomTouchesView*, double zoom, CGPoint) { reported.push_back(zoom); });
    // Base, pinch scale, the last zoom reported (0: the pinch reports nothing).
    const std::array<double, 3> cases[] = {{2, 3, 6}, {2, 5, 8}, {2, 0.25, 1}, {8, 1.5, 0}, {1, 0.5, 0}};
    for (auto [base, scale, last] : cases) {
        SCOPED_TRACE(testing::Message() << base << " x " << scale);
        view->setBaseZoomScale(base);
        reported.clear();
        pinch(CGPointMake(150, 150), 100, scale);
        EXPECT_DOUBLE_EQ(reported.empty() ? 0 : reported.back(), last);
        EXPECT_DOUBLE_EQ(view->baseZoomScale(), last ? last : base);
    }
}

TEST_F(ControlsTest, LeavingKeepsTheBeautyLevelsAndHandsOverTheLiveSeconds) {
    std::optional<double> handed;
    screen->setComplectionHandler([&](double seconds) { handed = seconds; });
    panel()->facialSettingView()->setBright(0.5, 0.25, 0.75);
    tap(centreOf(panel()->backButton()));
    advance(1); // the dismissal's animation
    ASSERT_TRUE(pumpUntil([&] { return handed.has_value(); }));
    EXPECT_EQ(*handed, 0);
    EXPECT_TRUE(screen->hasPressedBackButton());
    EXPECT_FALSE(screen->presentingViewController());
    auto data = CommonData::sharedInstance();
    EXPECT_EQ((std::array{data->bright(), data->smooth(), data->pink()}), (std::array{0.5, 0.25, 0.75}));
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
}

TEST_F(ControlsTest, LeavingTheForegroundDropsTheChatSilentlyAndComingBackJoinsAgain) {
    auto app = UIApplication::sharedApplication();
    app->simulateResignActive();
    ASSERT_TRUE(pumpUntil([&] { return chat->openConnectionCount() == 0; }));
    app->simulateBecomeActive();
    ASSERT_TRUE(waitForEnterRooms(*chat, 2));
    EXPECT_EQ(countOf(kDisconnected), 0u);
    EXPECT_EQ(countOf(kConnecting), 2u);
    EXPECT_EQ(promptShown(), "") << "nothing was published, so nothing resumes";
}

} // namespace
