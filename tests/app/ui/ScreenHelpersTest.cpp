#include "app/ui/BaseNavigationController.h"
#include "app/ui/BaseViewController.h"
#include "app/ui/KelProgressHUD.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+Push_Present.h"
#include "app/ui/UIViewController+Tools.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITabBarController.h"
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

class ScreenHelpersTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
    }
    // A base stack over `root` as the window's root.
    BaseNavigationControllerPtr show(const UIViewControllerPtr& root) {
        auto navigation = BaseNavigationController::create(root);
        window->setRootViewController(navigation);
        return navigation;
    }
    UIApplicationPtr app = UIApplication::sharedApplication();
};

TEST_F(ScreenHelpersTest, ALoneControllerKeepsTheTitleToItselfAndATabBarParentTakesTitleAndItems) {
    auto controller = UIViewController::create();
    EXPECT_EQ(navigationBarTitle(*controller), std::nullopt);
    setNavigationBarTitle(*controller, "Room");
    EXPECT_EQ(controller->title(), std::optional<std::string>("Room"));
    setNavigationBarTitleView(*controller, UIView::create());
    EXPECT_FALSE(navigationBarTitleView(*controller) || controller->navigationItem()->titleView());
    auto item =
        UIBarButtonItem::create(std::optional<std::string>("x"), UIBarButtonItemStylePlain, nullptr, {});
    setNavigationBarLeftButtonItems(*controller, {item});
    EXPECT_TRUE(controller->navigationItem()->leftBarButtonItems().empty());
    EXPECT_EQ(navigationBarTitleAttributes(*controller), std::nullopt);
    EXPECT_FALSE(navigationBarTitleColor(*controller));

    auto tabs = UITabBarController::create();
    tabs->setViewControllers({controller});
    setNavigationBarTitle(*controller, "Tab");
    EXPECT_EQ(tabs->navigationItem()->title(), std::optional<std::string>("Tab"));
    auto titleView = UIView::create();
    setNavigationBarTitleView(*controller, titleView);
    EXPECT_EQ(tabs->navigationItem()->titleView(), titleView);
    setNavigationBarTitleAttributes(
        *controller, NSAttributes{{NSForegroundColorAttributeName, Value(UIColor::redColor())}});
    EXPECT_EQ(navigationBarTitleAttributes(*controller), std::nullopt) << "no title attributes for tabs";
}

TEST_F(ScreenHelpersTest, ContentRectLeavesTheBarsOut) {
    auto screen = std::make_shared<BaseViewController>();
    EXPECT_EQ(nonScrollViewSubviewRect(*screen), CGRectMake(0, 0, 375, 667));
    auto navigation = show(screen);
    EXPECT_EQ(nonScrollViewSubviewRect(*screen), CGRectMake(0, 64, 375, 603));
    EXPECT_EQ(scrollViewSubviewRect(*screen), screen->view()->bounds());
    // An opaque bar that the screen does not extend under keeps the origin but still takes the height.
    navigation->setTranslucentNavigationBar(false);
    screen->setExtendedLayoutIncludesOpaqueBars(false);
    EXPECT_EQ(nonScrollViewSubviewRect(*screen), CGRectMake(0, 0, 375, 603));

    auto tabs = UITabBarController::create();
    auto inTab = UIViewController::create();
    tabs->setViewControllers({inTab});
    EXPECT_EQ(nonScrollViewSubviewRect(*inTab), CGRectMake(0, 0, 375, 618));
}

TEST_F(ScreenHelpersTest, DelayedRestylingWaitsOnlyForADifferentColour) {
    auto screen = std::make_shared<BaseViewController>();
    setNavigationBarColor(*screen, UIColor::whiteColor());
    app->setStatusBarStyle(UIStatusBarStyleLightContent);
    adjustStatusBarStyleToColor(*screen, UIColor::whiteColor(), false);
    pump();
    EXPECT_EQ(app->statusBarStyle(), UIStatusBarStyleLightContent);

    app->setStatusBarStyle(UIStatusBarStyleDefault);
    adjustStatusBarStyleToColor(*screen, UIColor::blackColor(), true);
    advance(0.54);
    EXPECT_EQ(app->statusBarStyle(), UIStatusBarStyleDefault);
    advance(0.02);
    EXPECT_TRUE(pumpUntil([&] { return app->statusBarStyle() == UIStatusBarStyleLightContent; }));

    // Nil is the same only as nil.
    EXPECT_TRUE(isColor(*screen, nullptr, nullptr));
    EXPECT_FALSE(isColor(*screen, nullptr, UIColor::clearColor()));
    EXPECT_TRUE(isColor(*screen, UIColor::whiteColor(), UIColor::colorWithRed(1, 1, 1, 1)));
    EXPECT_FALSE(shouldAdjustStatusBarStyleToColor(*UIViewController::create(), nullptr));
    EXPECT_TRUE(shouldAdjustStatusBarStyleToColor(*UIViewController::create(), UIColor::clearColor()));
}

TEST_F(ScreenHelpersTest, PresentingWrapsPlainScreensInANewNavigationController) {
    auto presenter = std::make_shared<BaseViewController>();
    auto navigation = show(presenter);
    const auto styleBefore = app->statusBarStyle();

    auto plain = UIViewController::create();
    bool presented = false;
    presentRootViewController(*presenter, plain, false, navigationBarColor(*presenter), UIColor::redColor(),
                              [&] { presented = true; });
    auto wrapper = std::dynamic_pointer_cast<UINavigationController>(navigation->presentedViewController());
    ASSERT_TRUE(wrapper);
    EXPECT_FALSE(std::dynamic_pointer_cast<BaseNavigationController>(wrapper));
    EXPECT_EQ(wrapper->topViewController(), plain);
    EXPECT_TRUE(UIColor::isEqual(wrapper->navigationBar()->barTintColor(), navigationBarColor(*presenter)));
    EXPECT_TRUE(UIColor::isEqual(wrapper->navigationBar()->tintColor(), UIColor::redColor()));
    EXPECT_TRUE(pumpUntil([&] { return presented; }));
    EXPECT_EQ(app->statusBarStyle(), styleBefore);

    bool dismissed = false;
    dismissWithAnimation(*plain, false, [&] { dismissed = true; });
    EXPECT_TRUE(pumpUntil([&] { return dismissed; }));
    EXPECT_FALSE(navigation->presentedViewController());

    auto stack = UINavigationController::create(UIViewController::create());
    presentRootViewController(*presenter, stack, false, UIModalTransitionStyleCrossDissolve, nullptr);
    EXPECT_EQ(navigation->presentedViewController(), stack);
    EXPECT_EQ(stack->modalTransitionStyle(), UIModalTransitionStyleCrossDissolve);

    // Dismissing a screen presented without navigation dismisses itself.
    auto bareHost = UIViewController::create();
    window->setRootViewController(bareHost);
    auto bare = UIViewController::create();
    bareHost->presentViewController(bare, false);
    bool done = false;
    dismissWithAnimation(*bare, false, [&] { done = true; });
    EXPECT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_FALSE(bareHost->presentedViewController());

    bareHost->presentViewController(bare, false);
    dismiss(*bare);
    EXPECT_TRUE(bare->isBeingDismissed());
    advance(0.5);
    EXPECT_FALSE(bareHost->presentedViewController());
}

TEST_F(ScreenHelpersTest, PushHidesTheBottomBarAndPopReturns) {
    auto root = std::make_shared<BaseViewController>();
    auto navigation = show(root);
    auto next = UIViewController::create();
    pushViewController(*root, next);
    EXPECT_TRUE(next->hidesBottomBarWhenPushed());
    EXPECT_EQ(navigation->topViewController(), next);
    advance(0.5);
    pop(*next);
    advance(0.5);
    EXPECT_EQ(navigation->topViewController(), root);
}

TEST_F(ScreenHelpersTest, SearchBarScreenMakesItsSearchBarOnce) {
    class SearchScreen : public BaseViewController {
        bool preferredNavigationBarSearchBar() override { return true; }
    };
    auto screen = std::make_shared<SearchScreen>();
    auto navigation = show(screen);
    auto searchBar = navigationBarSearchBar(*screen);
    ASSERT_TRUE(searchBar);
    EXPECT_EQ(screen->navigationItem()->titleView(), searchBar);
    EXPECT_EQ(searchBar->placeholder(), "搜索商品");
    EXPECT_TRUE(UIColor::isEqual(searchBar->searchField()->backgroundColor(), UIColor::whiteColor()));
    EXPECT_TRUE(UIColor::isEqual(searchBar->barTintColor(), navigationBarColor(*screen)));
    navigation->pushViewController(UIViewController::create(), false);
    navigation->popViewControllerAnimated(false);
    EXPECT_EQ(navigationBarSearchBar(*screen), searchBar);
}

TEST_F(ScreenHelpersTest, PresentedLandscapeScreenTurnsTheInterfaceAndItsOverlaysFollow) {
    auto home = std::make_shared<BaseViewController>();
    auto navigation = show(home);
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), uint64_t(UIInterfaceOrientationMaskPortrait));
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
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
    navigation->pushViewController(std::make_shared<LandscapeScreen>(), false);
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), uint64_t(UIInterfaceOrientationMaskLandscape));
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 375, 667));
    EXPECT_EQ(home->view()->bounds().size, CGSizeMake(375, 667));
}

} // namespace
