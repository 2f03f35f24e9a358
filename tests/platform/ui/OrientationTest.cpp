#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewAnimation.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace platform;

namespace {

// A controller with the orientations it is given, noting the rotation callbacks it hears.
class TurningController : public UIViewController {
public:
    TurningController(std::string name, uint64_t mask, bool autorotates = true)
        : m_name(std::move(name))
        , m_mask(mask)
        , m_autorotates(autorotates) {}
    uint64_t supportedInterfaceOrientations() const override { return m_mask; }
    bool shouldAutorotate() const override { return m_autorotates; }
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override { return preferred; }
    void viewWillTransitionToSize(CGSize size,
                                  const UIViewControllerTransitionCoordinatorPtr& coordinator) override {
        heard.push_back(m_name + ".size " + std::to_string(int(size.width)) + "x" +
                        std::to_string(int(size.height)));
        boundsWhenTold = UIScreen::mainScreen()->bounds().size;
        auto weak = std::weak_ptr(sharedAs<TurningController>());
        coordinator->animateAlongsideTransition(
            [weak](const auto&) {
                if (auto self = weak.lock())
                    self->boundsAlongside = UIScreen::mainScreen()->bounds().size;
            },
            [weak](const auto&) {
                if (auto self = weak.lock())
                    self->heard.push_back(self->m_name + ".ended");
            });
    }
    void willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation,
                                                   double duration) override {
        heard.push_back(m_name + ".rotate " + std::to_string(orientation) + " " +
                        std::to_string(duration).substr(0, 3));
    }

    UIInterfaceOrientation preferred{UIInterfaceOrientationPortrait};
    std::vector<std::string> heard;
    CGSize boundsWhenTold;
    CGSize boundsAlongside;

private:
    std::string m_name;
    uint64_t m_mask;
    bool m_autorotates;
};

class OrientationTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
        app = UIApplication::sharedApplication();
        token =
            NotificationCenter::defaultCenter().addObserverForName("", app, [this](const Notification& note) {
                if (auto info = note.userInfo().dictionary())
                    posts.push_back(
                        note.name() + " " +
                        std::to_string(info->get(UIApplicationStatusBarOrientationUserInfoKey).int64Or(-1)));
            });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(token.get());
        UIFixture::TearDown();
    }
    std::shared_ptr<TurningController> show(std::string name, uint64_t mask, bool autorotates = true) {
        auto root = std::make_shared<TurningController>(std::move(name), mask, autorotates);
        window->setRootViewController(root);
        return root;
    }

    UIApplicationPtr app;
    NotificationObserver token;
    std::vector<std::string> posts;
};

TEST_F(OrientationTest, PresentingALandscapeOnlyControllerTurnsTheInterfaceAndDismissingTurnsItBack) {
    auto home = show("home", UIInterfaceOrientationMaskPortrait);
    auto live = std::make_shared<TurningController>("live", UIInterfaceOrientationMaskLandscape);
    home->presentViewController(live, false);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeRight); // the first it supports
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(window->bounds(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(live->view()->frame(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(home->view()->frame(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(app->statusBarFrame(), CGRectMake(0, 0, 667, 20));
    EXPECT_EQ(posts, (std::vector<std::string>{
                         UIApplicationWillChangeStatusBarOrientationNotification + std::string(" 3"),
                         UIApplicationDidChangeStatusBarOrientationNotification + std::string(" 1")}));
    // Both sides of the presentation are on screen while it runs.
    EXPECT_EQ(home->heard, (std::vector<std::string>{"home.size 667x375", "home.rotate 3 0.0"}));
    EXPECT_EQ(live->heard, (std::vector<std::string>{"live.size 667x375", "live.rotate 3 0.0"}));
    EXPECT_EQ(home->boundsWhenTold, CGSizeMake(375, 667));
    EXPECT_EQ(home->boundsAlongside, CGSizeMake(667, 375));
    pump();
    EXPECT_EQ(home->heard.back(), "home.ended");

    home->heard.clear();
    home->dismissViewControllerAnimated(false);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    EXPECT_EQ(window->bounds(), CGRectMake(0, 0, 375, 667));
    EXPECT_EQ(home->view()->frame(), CGRectMake(0, 0, 375, 667));
    EXPECT_EQ(home->heard.front(), "home.size 375x667");
}

TEST_F(OrientationTest, PreferredOrientationIsTakenWhenSupportedAndSupportedOnesStay) {
    auto home = show("home", UIInterfaceOrientationMaskAllButUpsideDown);
    auto live = std::make_shared<TurningController>("live", UIInterfaceOrientationMaskLandscape);
    live->preferred = UIInterfaceOrientationLandscapeLeft;
    home->presentViewController(live, false);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    home->dismissViewControllerAnimated(false);
    EXPECT_EQ(app->statusBarOrientation(),
              UIInterfaceOrientationLandscapeLeft); // the home screen supports it

    auto portrait = std::make_shared<TurningController>("portrait", UIInterfaceOrientationMaskPortrait);
    portrait->preferred = UIInterfaceOrientationLandscapeLeft; // not supported: the first supported wins
    home->presentViewController(portrait, false);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
}

TEST_F(OrientationTest, DeviceRotationNeedsAutorotationAndSupport) {
    auto fixed = show("fixed", UIInterfaceOrientationMaskAllButUpsideDown, false);
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    EXPECT_TRUE(fixed->heard.empty());

    auto portrait = show("portrait", UIInterfaceOrientationMaskPortrait);
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);

    // A navigation controller decides for its stack; by default it supports all but upside down.
    auto stack = UINavigationController::create(
        std::make_shared<TurningController>("top", UIInterfaceOrientationMaskPortrait));
    window->setRootViewController(stack);
    app->simulateDeviceOrientation(UIInterfaceOrientationPortraitUpsideDown);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(stack->view()->frame(), CGRectMake(0, 0, 667, 375));
    auto top = std::dynamic_pointer_cast<TurningController>(stack->topViewController());
    ASSERT_EQ(top->heard.size(), 2u);
    EXPECT_EQ(top->heard[1], "top.rotate 4 0.4");
    advance(0.3);
    EXPECT_EQ(top->heard.size(), 2u);
    advance(0.2);
    EXPECT_EQ(top->heard.back(), "top.ended");
}

TEST_F(OrientationTest, MakingALandscapeRootVisibleTurnsTheInterface) {
    show("landscape", UIInterfaceOrientationMaskLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(window->rootViewController()->view()->frame(), CGRectMake(0, 0, 667, 375));
    show("portrait", UIInterfaceOrientationMaskPortrait);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
}

} // namespace
