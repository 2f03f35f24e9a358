#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITabBarController.h"
#include "platform/ui/UIViewController.h"
#include "tests/platform/ui/RecordingController.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

class ViewControllerTest : public UIFixture {};

class CustomViewController : public UIViewController {
public:
    void loadView() override {
        auto view = UIView::create(CGRectMake(0, 0, 10, 10));
        view->setTag(42);
        setView(view);
    }
    void viewDidLoad() override { sawViewInDidLoad = viewIfLoaded() != nullptr; }
    bool sawViewInDidLoad{false};
};

TEST_F(ViewControllerTest, ViewIsLoadedLazilyOnceWithLoadViewThenViewDidLoad) {
    auto log = makeLog();
    auto controller = recording("a", log);
    EXPECT_FALSE(controller->isViewLoaded());
    EXPECT_TRUE(log->empty());

    auto view = controller->view();
    EXPECT_EQ(controller->view(), view);
    EXPECT_EQ(*log, (Strings{"a.loadView", "a.viewDidLoad"}));
    EXPECT_EQ(view->viewDelegate(), controller);
    EXPECT_TRUE(CGRectEqualToRect(view->frame(), UIScreen::mainScreen()->bounds()));

    auto custom = std::make_shared<CustomViewController>();
    EXPECT_EQ(custom->view()->tag(), 42);
    EXPECT_TRUE(custom->sawViewInDidLoad);
    EXPECT_EQ(custom->view()->nextResponder(), custom);
}

TEST_F(ViewControllerTest, WindowRootAppearsAndDisappearsWithTheWindow) {
    auto log = makeLog();
    auto first = recording("a", log);
    window->setRootViewController(first);
    EXPECT_EQ(RecordingController::appearanceLog(log), (Strings{"a.viewWillAppear", "a.viewDidAppear"}));
    EXPECT_EQ(first->appearance(), UIViewController::Appearance::Appeared);

    log->clear();
    auto second = recording("b", log);
    window->setRootViewController(second);
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"a.viewWillDisappear", "a.viewDidDisappear", "b.viewWillAppear", "b.viewDidAppear"}));

    log->clear();
    window->setHidden(true);
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"b.viewWillDisappear", "b.viewDidDisappear"}));
}

TEST_F(ViewControllerTest, AskingAnAppearedControllerToAppearAgainDoesNothing) {
    auto log = makeLog();
    auto controller = recording("a", log);
    controller->beginAppearanceTransition(true, false);
    controller->beginAppearanceTransition(true, false);
    controller->endAppearanceTransition();
    controller->endAppearanceTransition();
    controller->beginAppearanceTransition(true, false);
    EXPECT_EQ(RecordingController::appearanceLog(log), (Strings{"a.viewWillAppear", "a.viewDidAppear"}));
}

TEST_F(ViewControllerTest, LayoutOfTheViewCallsTheLayoutHooksAroundIt) {
    auto log = makeLog();
    auto controller = recording("a", log);
    window->setRootViewController(controller);
    log->clear();
    controller->view()->setNeedsLayout();
    controller->view()->layoutIfNeeded();
    EXPECT_EQ(*log, (Strings{"a.viewWillLayoutSubviews", "a.viewDidLayoutSubviews"}));
}

TEST_F(ViewControllerTest, ChildrenInTheViewTreeFollowTheParentsAppearance) {
    auto log = makeLog();
    auto parent = recording("parent", log);
    auto shown = recording("shown", log);
    auto hidden = recording("hidden", log);
    parent->addChildViewController(shown);
    parent->view()->addSubview(shown->view());
    shown->didMoveToParentViewController(parent);
    parent->addChildViewController(hidden); // its view is never added

    window->setRootViewController(parent);
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"parent.viewWillAppear", "shown.viewWillAppear", "parent.viewDidAppear",
                       "shown.viewDidAppear"}));
    EXPECT_EQ(shown->parentViewController(), parent);
    EXPECT_EQ(parent->childViewControllers().size(), 2u);

    shown->willMoveToParentViewController(nullptr);
    shown->removeFromParentViewController();
    EXPECT_EQ(shown->parentViewController(), nullptr);
    EXPECT_EQ(parent->childViewControllers(), (std::vector<UIViewControllerPtr>{hidden}));
}

TEST_F(ViewControllerTest, TitleAlsoTitlesTheNavigationItem) {
    auto controller = UIViewController::create();
    EXPECT_FALSE(controller->title().has_value());
    controller->setTitle("首页");
    EXPECT_EQ(controller->navigationItem()->title(), std::optional<std::string>("首页"));
    EXPECT_EQ(controller->navigationItem(), controller->navigationItem());
}

TEST_F(ViewControllerTest, NavigationAndTabBarControllersAreFoundThroughAncestors) {
    auto inner = UIViewController::create();
    auto navigation = UINavigationController::create(inner);
    auto tabs = UITabBarController::create();
    tabs->setViewControllers({navigation});
    EXPECT_EQ(inner->navigationController(), navigation);
    EXPECT_EQ(inner->tabBarController(), tabs);
    EXPECT_EQ(navigation->navigationController(), nullptr);
    EXPECT_EQ(UIViewController::create()->navigationController(), nullptr);
}

class LightController : public UIViewController {
public:
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }
    bool prefersStatusBarHidden() const override { return hidden; }
    bool hidden{false};
};

TEST_F(ViewControllerTest, ControllerBasedStatusBarAppearanceFollowsTheTopController) {
    UIViewController::setViewControllerBasedStatusBarAppearance(true);
    auto top = std::make_shared<LightController>();
    window->setRootViewController(UINavigationController::create(top));
    auto app = UIApplication::sharedApplication();
    EXPECT_EQ(app->statusBarStyle(), UIStatusBarStyleLightContent);
    top->hidden = true;
    top->setNeedsStatusBarAppearanceUpdate();
    EXPECT_TRUE(app->isStatusBarHidden());
    UIViewController::setViewControllerBasedStatusBarAppearance(false);
}

TEST_F(ViewControllerTest, MemoryWarningReachesEveryControllerUnderAVisibleWindow) {
    auto log = makeLog();
    auto root = recording("root", log);
    auto pushed = recording("pushed", log);
    auto navigation = UINavigationController::create(root);
    navigation->pushViewController(pushed, false);
    window->setRootViewController(navigation);
    auto presented = recording("presented", log);
    navigation->presentViewController(presented, false);
    auto offscreen = recording("offscreen", log);
    log->clear();

    UIApplication::sharedApplication()->simulateMemoryWarning();
    pumpUntil([&] { return log->size() >= 3; });
    Strings warned;
    for (const auto& entry : *log) {
        if (entry.ends_with(".didReceiveMemoryWarning"))
            warned.push_back(entry);
    }
    std::sort(warned.begin(), warned.end());
    EXPECT_EQ(warned, (Strings{"presented.didReceiveMemoryWarning", "pushed.didReceiveMemoryWarning",
                               "root.didReceiveMemoryWarning"}));
}

TEST_F(ViewControllerTest, ContentBelowTheBarsHasAnEmptyTopGuide) {
    auto below = UIViewController::create();
    below->setEdgesForExtendedLayout(UIRectEdgeNone);
    window->setRootViewController(UINavigationController::create(below));
    EXPECT_DOUBLE_EQ(below->topLayoutGuide()->length(), 0);
}

TEST_F(ViewControllerTest, TabBarShowsOnlyTheSelectedChild) {
    auto log = makeLog();
    auto first = recording("first", log);
    auto second = recording("second", log);
    auto tabs = UITabBarController::create();
    tabs->setViewControllers({first, second});
    window->setRootViewController(tabs);
    EXPECT_EQ(tabs->selectedIndex(), 0);
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"first.viewWillAppear", "first.viewDidAppear"}));

    log->clear();
    tabs->setSelectedIndex(1);
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"first.viewWillDisappear", "second.viewWillAppear", "first.viewDidDisappear",
                       "second.viewDidAppear"}));
    EXPECT_EQ(tabs->selectedViewController(), second);
    EXPECT_FALSE(first->view()->superview());
}

} // namespace
