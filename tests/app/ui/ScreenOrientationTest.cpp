#include "app/ui/BaseNavigationController.h"
#include "app/ui/BaseViewController.h"
#include "app/ui/KelProgressHUD.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

// Stands for the broadcast screen: landscape only, rotating as it is told.
class LandscapeScreen : public BaseViewController {
public:
    bool shouldAutorotate() const override { return rotates; }
    uint64_t supportedInterfaceOrientations() const override { return UIInterfaceOrientationMaskLandscape; }
    bool rotates{false};
};

class ScreenOrientationTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        home = std::make_shared<BaseViewController>();
        navigation = BaseNavigationController::create(home);
        window->setRootViewController(navigation);
        app = UIApplication::sharedApplication();
    }
    std::shared_ptr<BaseViewController> home;
    BaseNavigationControllerPtr navigation;
    UIApplicationPtr app;
};

TEST_F(ScreenOrientationTest, BaseStackFollowsItsPortraitOnlyTopScreen) {
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), uint64_t(UIInterfaceOrientationMaskPortrait));
    EXPECT_TRUE(navigation->shouldAutorotate());
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);

    auto landscape = std::make_shared<LandscapeScreen>();
    navigation->pushViewController(landscape, false);
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), uint64_t(UIInterfaceOrientationMaskLandscape));
}

TEST_F(ScreenOrientationTest, PresentedLandscapeScreenTurnsTheInterfaceAndItsOverlaysFollow) {
    auto live = std::make_shared<LandscapeScreen>();
    navigation->presentViewController(live, false);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeRight);
    EXPECT_EQ(live->view()->bounds(), CGRectMake(0, 0, 667, 375));

    auto hud = KelProgressHUD::showHUDAddedTo(live->view(), false);
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft); // it does not rotate by itself
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeRight);
    live->rotates = true;
    app->simulateDeviceOrientation(UIInterfaceOrientationPortrait); // nor to what it does not support
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeRight);
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(hud->bounds(), live->view()->bounds());

    navigation->dismissViewControllerAnimated(false);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 375, 667));
    EXPECT_EQ(home->view()->bounds().size, CGSizeMake(375, 667));
}

} // namespace
