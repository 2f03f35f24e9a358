#include "app/ui/BaseNavigationController.h"
#include "app/ui/BaseViewController.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+Push_Present.h"
#include "app/ui/UIViewController+Tools.h"
#include "platform/ui/UITabBarController.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class ScreenHelpersTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
    }
};

TEST_F(ScreenHelpersTest, ControllerOutsideContainersKeepsTheTitleToItself) {
    auto controller = UIViewController::create();
    EXPECT_EQ(navigationBarTitle(*controller), std::nullopt);
    setNavigationBarTitle(*controller, "Room");
    EXPECT_EQ(controller->title(), std::optional<std::string>("Room"));
    setNavigationBarTitleView(*controller, UIView::create());
    EXPECT_FALSE(navigationBarTitleView(*controller));
    EXPECT_FALSE(controller->navigationItem()->titleView());
    auto item =
        UIBarButtonItem::create(std::optional<std::string>("x"), UIBarButtonItemStylePlain, nullptr, {});
    setNavigationBarLeftButtonItems(*controller, {item});
    EXPECT_TRUE(controller->navigationItem()->leftBarButtonItems().empty());
    EXPECT_EQ(navigationBarTitleAttributes(*controller), std::nullopt);
    EXPECT_FALSE(navigationBarTitleColor(*controller));
}

TEST_F(ScreenHelpersTest, TabBarParentTakesTitleAndItemsButNoTitleAttributes) {
    auto tabs = UITabBarController::create();
    auto child = UIViewController::create();
    tabs->setViewControllers({child});
    setNavigationBarTitle(*child, "Tab");
    EXPECT_EQ(tabs->navigationItem()->title(), std::optional<std::string>("Tab"));
    auto titleView = UIView::create();
    setNavigationBarTitleView(*child, titleView);
    EXPECT_EQ(tabs->navigationItem()->titleView(), titleView);
    setNavigationBarTitleAttributes(
        *child, NSAttributes{{NSForegroundColorAttributeName, Value(UIColor::redColor())}});
    EXPECT_EQ(navigationBarTitleAttributes(*child), std::nullopt);
}

TEST_F(ScreenHelpersTest, ContentRectLeavesTheBarsOut) {
    auto screen = std::make_shared<BaseViewController>();
    EXPECT_EQ(nonScrollViewSubviewRect(*screen), CGRectMake(0, 0, 375, 667));
    auto navigation = BaseNavigationController::create(screen);
    window->setRootViewController(navigation);
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
    auto app = UIApplication::sharedApplication();
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
    auto navigation = BaseNavigationController::create(presenter);
    window->setRootViewController(navigation);
    auto app = UIApplication::sharedApplication();
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
}

TEST_F(ScreenHelpersTest, DismissingAScreenPresentedWithoutNavigationDismissesItself) {
    auto presenter = UIViewController::create();
    window->setRootViewController(presenter);
    auto bare = UIViewController::create();
    presenter->presentViewController(bare, false);
    bool done = false;
    dismissWithAnimation(*bare, false, [&] { done = true; });
    EXPECT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_FALSE(presenter->presentedViewController());

    presenter->presentViewController(bare, false);
    dismiss(*bare);
    EXPECT_TRUE(bare->isBeingDismissed());
    advance(0.5);
    EXPECT_FALSE(presenter->presentedViewController());
}

TEST_F(ScreenHelpersTest, PushHidesTheBottomBarAndPopReturns) {
    auto root = std::make_shared<BaseViewController>();
    auto navigation = BaseNavigationController::create(root);
    window->setRootViewController(navigation);
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
    auto navigation = BaseNavigationController::create(screen);
    window->setRootViewController(navigation);
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

} // namespace
