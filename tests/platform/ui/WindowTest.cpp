#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace platform;

namespace {

class LoggingController : public UIViewController {
public:
    void viewWillAppear(bool) override { log.push_back("willAppear"); }
    void viewDidAppear(bool) override { log.push_back("didAppear"); }
    void viewWillDisappear(bool) override { log.push_back("willDisappear"); }
    void viewDidDisappear(bool) override { log.push_back("didDisappear"); }
    void viewWillLayoutSubviews() override { log.push_back("willLayout"); }
    void viewDidLayoutSubviews() override { log.push_back("didLayout"); }
    std::vector<std::string> log;
};

class WindowTest : public liveapp::test::UIFixture {};

TEST_F(WindowTest, RootControllersViewFillsTheWindowAndAppears) {
    auto controller = std::make_shared<LoggingController>();
    window->setRootViewController(controller);
    EXPECT_EQ(controller->view()->superview(), window);
    EXPECT_EQ(controller->view()->frame(), window->bounds());
    ASSERT_GE(controller->log.size(), 4u);
    EXPECT_EQ(controller->log.front(), "willAppear");
    EXPECT_EQ(controller->log.back(), "didAppear");
    // Layout happens between will and did.
    EXPECT_NE(std::find(controller->log.begin(), controller->log.end(), "didLayout"), controller->log.end());
}

TEST_F(WindowTest, AHiddenWindowsRootAppearsWhenTheWindowIsShown) {
    auto other = UIWindow::create();
    auto controller = std::make_shared<LoggingController>();
    other->setRootViewController(controller);
    EXPECT_EQ(std::count(controller->log.begin(), controller->log.end(), "willAppear"), 0);
    other->makeKeyAndVisible();
    EXPECT_EQ(std::count(controller->log.begin(), controller->log.end(), "didAppear"), 1);
    EXPECT_TRUE(other->isKeyWindow());
    EXPECT_FALSE(window->isKeyWindow());
    other->setHidden(true);
    EXPECT_EQ(controller->log.back(), "didDisappear");
}

TEST_F(WindowTest, KeyWindowChangesArePosted) {
    std::vector<std::string> names;
    auto token =
        NotificationCenter::defaultCenter().addObserverForName("", nullptr, [&](const Notification& note) {
            if (note.name().rfind("UIWindow", 0) == 0)
                names.push_back(note.name());
        });
    auto other = UIWindow::create();
    other->makeKeyAndVisible();
    NotificationCenter::defaultCenter().removeObserver(token.get());
    EXPECT_EQ(names,
              (std::vector<std::string>{UIWindowDidResignKeyNotification, UIWindowDidBecomeKeyNotification,
                                        UIWindowDidBecomeVisibleNotification}));
    other->setHidden(true);
}

TEST_F(WindowTest, ViewsInTheWindowFindIt) {
    auto view = UIView::create(), inner = UIView::create();
    view->addSubview(inner);
    EXPECT_EQ(inner->window(), nullptr);
    window->addSubview(view);
    EXPECT_EQ(inner->window(), window);
    EXPECT_EQ(window->window(), window);
    EXPECT_EQ(window->nextResponder(), UIApplication::sharedApplication());
}

TEST_F(WindowTest, ScreenIsConfigurable) {
    auto screen = UIScreen::mainScreen();
    screen->setBounds(CGRectMake(0, 0, 414, 736));
    screen->setScale(3);
    EXPECT_EQ(screen->nativeBounds(), CGRectMake(0, 0, 1242, 2208));
    EXPECT_EQ(UIImage::screenScale(), 3);
    auto big = UIWindow::create();
    EXPECT_EQ(big->frame(), CGRectMake(0, 0, 414, 736));
    screen->reset();
    EXPECT_EQ(screen->bounds(), CGRectMake(0, 0, 375, 667));
}

} // namespace
