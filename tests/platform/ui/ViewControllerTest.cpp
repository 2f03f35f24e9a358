#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITabBarController.h"
#include "platform/ui/UIViewAnimation.h"
#include "platform/ui/UIViewController.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

using CallbackLog = std::shared_ptr<std::vector<std::string>>;

inline CallbackLog makeLog() {
    return std::make_shared<std::vector<std::string>>();
}

class RecordingController : public platform::UIViewController {
public:
    RecordingController(std::string name, CallbackLog log)
        : m_name(std::move(name))
        , m_log(std::move(log)) {}
    void loadView() override {
        record("loadView");
        UIViewController::loadView();
    }
    void viewDidLoad() override { record("viewDidLoad"); }
    void viewWillAppear(bool) override { record("viewWillAppear"); }
    void viewDidAppear(bool) override { record("viewDidAppear"); }
    void viewWillDisappear(bool) override { record("viewWillDisappear"); }
    void viewDidDisappear(bool) override { record("viewDidDisappear"); }
    void didReceiveMemoryWarning() override { record("didReceiveMemoryWarning"); }
    void viewWillLayoutSubviews() override { record("viewWillLayoutSubviews"); }
    void viewDidLayoutSubviews() override { record("viewDidLayoutSubviews"); }

    // Only the appearance callbacks, for order checks.
    static std::vector<std::string> appearanceLog(const CallbackLog& log) {
        std::vector<std::string> out;
        for (const auto& entry : *log) {
            if (entry.find("Appear") != std::string::npos || entry.find("Disappear") != std::string::npos)
                out.push_back(entry);
        }
        return out;
    }

private:
    void record(const std::string& what) { m_log->push_back(m_name + "." + what); }

    std::string m_name;
    CallbackLog m_log;
};

// The appearance callbacks of a change from the controller named `from` to the one named `to`, in order.
inline std::vector<std::string> swapped(const std::string& from, const std::string& to) {
    return {from + ".viewWillDisappear", to + ".viewWillAppear", from + ".viewDidDisappear",
            to + ".viewDidAppear"};
}

inline std::shared_ptr<RecordingController> recording(std::string name, const CallbackLog& log) {
    return std::make_shared<RecordingController>(std::move(name), log);
}

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

TEST_F(ViewControllerTest, AHiddenWindowsRootAppearsWhenTheWindowIsShownAndKeyChangesArePosted) {
    std::vector<std::string> names;
    auto token =
        NotificationCenter::defaultCenter().addObserverForName("", nullptr, [&](const Notification& note) {
            if (note.name().rfind("UIWindow", 0) == 0)
                names.push_back(note.name());
        });
    auto log = makeLog();
    auto other = UIWindow::create();
    other->setRootViewController(recording("w", log));
    EXPECT_TRUE(RecordingController::appearanceLog(log).empty());
    other->makeKeyAndVisible();
    NotificationCenter::defaultCenter().removeObserver(token.get());
    EXPECT_EQ(names,
              (std::vector<std::string>{UIWindowDidResignKeyNotification, UIWindowDidBecomeKeyNotification,
                                        UIWindowDidBecomeVisibleNotification}));
    EXPECT_EQ(RecordingController::appearanceLog(log), (Strings{"w.viewWillAppear", "w.viewDidAppear"}));
    EXPECT_TRUE(other->isKeyWindow());
    EXPECT_FALSE(window->isKeyWindow());
    other->setHidden(true);
    EXPECT_EQ(log->back(), "w.viewDidDisappear");
}

TEST_F(ViewControllerTest, WindowRootAppearsAndDisappearsWithTheWindow) {
    auto log = makeLog();
    auto first = recording("a", log);
    window->setRootViewController(first);
    EXPECT_EQ(RecordingController::appearanceLog(log), (Strings{"a.viewWillAppear", "a.viewDidAppear"}));
    EXPECT_EQ(first->view()->superview(), window);
    EXPECT_EQ(first->view()->frame(), window->bounds());

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

TEST_F(ViewControllerTest,
       ControllerBasedStatusBarFollowsTheTopControllerAndContentBelowTheBarsHasNoTopGuide) {
    UIViewController::setViewControllerBasedStatusBarAppearance(true);
    auto top = std::make_shared<LightController>();
    window->setRootViewController(UINavigationController::create(top));
    auto app = UIApplication::sharedApplication();
    EXPECT_EQ(app->statusBarStyle(), UIStatusBarStyleLightContent);
    top->hidden = true;
    top->setNeedsStatusBarAppearanceUpdate();
    EXPECT_TRUE(app->isStatusBarHidden());
    UIViewController::setViewControllerBasedStatusBarAppearance(false);
    auto below = UIViewController::create();
    below->setEdgesForExtendedLayout(UIRectEdgeNone);
    window->setRootViewController(UINavigationController::create(below));
    EXPECT_DOUBLE_EQ(below->topLayoutGuide()->length(), 0);
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
    EXPECT_EQ(RecordingController::appearanceLog(log), swapped("first", "second"));
    EXPECT_EQ(tabs->selectedViewController(), second);
    EXPECT_FALSE(first->view()->superview());
}

class NavigationTest : public UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        log = makeLog();
        root = recording("root", log);
        navigation = UINavigationController::create(root);
        window->setRootViewController(navigation);
        log->clear();
    }

    CallbackLog log;
    std::shared_ptr<RecordingController> root;
    UINavigationControllerPtr navigation;
};

TEST_F(NavigationTest, UnanimatedPushAndPopRunTheAppearanceCallbacksInOrderAtOnce) {
    navigation->pushViewController(root, false);
    EXPECT_TRUE(log->empty()) << "a controller already in the stack is not pushed again";
    auto next = recording("next", log);
    navigation->pushViewController(next, false);
    EXPECT_EQ(RecordingController::appearanceLog(log), swapped("root", "next"));
    EXPECT_EQ(next->navigationController(), navigation);
    EXPECT_EQ(next->view()->superview(), navigation->view());
    EXPECT_EQ(root->view()->superview(), nullptr);

    log->clear();
    EXPECT_EQ(navigation->popViewControllerAnimated(false), next);
    EXPECT_EQ(RecordingController::appearanceLog(log), swapped("next", "root"));
    EXPECT_EQ(next->parentViewController(), nullptr);
    EXPECT_EQ(navigation->popViewControllerAnimated(false), nullptr);
    EXPECT_EQ(navigation->viewControllers().size(), 1u);
}

TEST_F(NavigationTest, AnimatedPushEndsAfterTheTransitionInVirtualTime) {
    useManualClock();
    auto next = recording("next", log);
    navigation->pushViewController(next, true);
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"root.viewWillDisappear", "next.viewWillAppear"}));
    pump();
    EXPECT_EQ(RecordingController::appearanceLog(log).size(), 2u);
    advance(0.5);
    EXPECT_EQ(RecordingController::appearanceLog(log), swapped("root", "next"));
}

TEST_F(NavigationTest, StartingATransitionFinishesThePendingOneFirst) {
    useManualClock();
    auto second = recording("second", log);
    auto third = recording("third", log);
    navigation->pushViewController(second, true);
    navigation->pushViewController(third, true);
    advance(1);
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"root.viewWillDisappear", "second.viewWillAppear", "root.viewDidDisappear",
                       "second.viewDidAppear", "second.viewWillDisappear", "third.viewWillAppear",
                       "second.viewDidDisappear", "third.viewDidAppear"}));
}

TEST_F(NavigationTest, PopToRootRemovesEveryControllerAboveIt) {
    auto second = recording("second", log);
    auto third = recording("third", log);
    navigation->pushViewController(second, false);
    navigation->pushViewController(third, false);
    log->clear();
    auto popped = navigation->popToRootViewControllerAnimated(false);
    EXPECT_EQ(popped, (std::vector<UIViewControllerPtr>{second, third}));
    EXPECT_EQ(RecordingController::appearanceLog(log), swapped("third", "root"));
    EXPECT_EQ(navigation->viewControllers(), (std::vector<UIViewControllerPtr>{root}));
    EXPECT_EQ(second->parentViewController(), nullptr);
}

TEST_F(NavigationTest, StackBuiltOffScreenAppearsWithOnlyItsTop) {
    auto log2 = makeLog();
    auto bottom = recording("bottom", log2);
    auto top = recording("top", log2);
    auto offscreen = UINavigationController::create(bottom);
    offscreen->pushViewController(top, false);
    EXPECT_TRUE(RecordingController::appearanceLog(log2).empty());
    window->setRootViewController(offscreen);
    EXPECT_EQ(RecordingController::appearanceLog(log2), (Strings{"top.viewWillAppear", "top.viewDidAppear"}));
}

class RecordingDelegate : public UINavigationControllerDelegate {
public:
    void navigationControllerWillShowViewController(UINavigationController*, const UIViewControllerPtr& c,
                                                    bool) override {
        events.push_back(c == shown ? "will" : "will?");
    }
    void navigationControllerDidShowViewController(UINavigationController*, const UIViewControllerPtr& c,
                                                   bool) override {
        events.push_back(c == shown ? "did" : "did?");
    }
    UIViewControllerPtr shown;
    Strings events;
};

TEST_F(NavigationTest, DelegateHearsBeforeAndAfterTheShownController) {
    auto delegate = std::make_shared<RecordingDelegate>();
    navigation->setDelegate(delegate);
    auto next = recording("next", log);
    delegate->shown = next;
    navigation->pushViewController(next, false);
    EXPECT_EQ(delegate->events, (Strings{"will", "did"}));
}

TEST_F(NavigationTest, ContentGoesUnderTheTranslucentBarAndBelowAnOpaqueOne) {
    window->layoutIfNeeded();
    auto bar = navigation->navigationBar();
    EXPECT_TRUE(CGRectEqualToRect(bar->frame(), CGRectMake(0, 20, 375, 44)));
    EXPECT_DOUBLE_EQ(root->view()->frame().origin.y, 0);

    bar->setTranslucent(false);
    auto next = UIViewController::create();
    navigation->pushViewController(next, false);
    EXPECT_TRUE(CGRectEqualToRect(next->view()->frame(), CGRectMake(0, 64, 375, 667 - 64)));
}

TEST_F(NavigationTest, HidingTheBarAnimatedRecordsAnAnimationAndHidesIt) {
    UIViewAnimations::clearRecorded();
    navigation->setNavigationBarHidden(true, true);
    EXPECT_TRUE(navigation->isNavigationBarHidden());
    EXPECT_TRUE(navigation->navigationBar()->isHidden());
    ASSERT_EQ(UIViewAnimations::recorded().size(), 1u);
    EXPECT_DOUBLE_EQ(UIViewAnimations::recorded()[0].duration, 0.2);
    navigation->setNavigationBarHidden(false, false);
    EXPECT_FALSE(navigation->navigationBar()->isHidden());
}

TEST_F(NavigationTest, BarShowsTheTopItemsTitleAndItsItems) {
    root->setTitle("Root");
    auto next = UIViewController::create();
    next->setTitle("Next");
    auto custom = UIView::create(CGRectMake(0, 0, 30, 30));
    next->navigationItem()->setRightBarButtonItem(UIBarButtonItem::create(custom));
    navigation->pushViewController(next, false);
    window->layoutIfNeeded();
    auto bar = navigation->navigationBar();
    EXPECT_EQ(bar->topItem(), next->navigationItem());
    EXPECT_EQ(bar->backItem(), root->navigationItem());
    EXPECT_EQ(bar->titleLabel()->text(), "Next");
    EXPECT_EQ(custom->superview(), bar);
    EXPECT_DOUBLE_EQ(CGRectGetMaxX(custom->frame()), 375 - 8);
}

TEST_F(NavigationTest, BackButtonOfTheBarPops) {
    auto next = UIViewController::create();
    navigation->pushViewController(next, false);
    window->layoutIfNeeded();
    auto bar = navigation->navigationBar();
    std::shared_ptr<UIButton> back;
    for (const auto& view : bar->subviews()) {
        if (auto button = std::dynamic_pointer_cast<UIButton>(view))
            back = button;
    }
    ASSERT_TRUE(back);
    back->sendActionsForControlEvents(UIControlEventTouchUpInside);
    advance(1);
    EXPECT_EQ(navigation->topViewController(), root);
}

TEST_F(NavigationTest, BackItemProviderAnswersForItemsWithoutTheirOwn) {
    auto empty =
        UIBarButtonItem::create(std::optional<std::string>(""), UIBarButtonItemStyleBordered, nullptr, {});
    UINavigationItem::setBackBarButtonItemProvider([empty](UINavigationItem&) { return empty; });
    auto item = UINavigationItem::create("x");
    EXPECT_EQ(item->backBarButtonItem(), empty);
    UINavigationItem::setBackBarButtonItemProvider({});
    EXPECT_EQ(UINavigationItem::create()->backBarButtonItem(), nullptr);
}

TEST_F(NavigationTest, InteractivePopGestureFromTheLeftEdgePops) {
    auto next = recording("next", log);
    navigation->pushViewController(next, false);
    log->clear();
    drag(CGPointMake(5, 300), CGPointMake(300, 300));
    EXPECT_EQ(navigation->topViewController(), root);
    EXPECT_EQ(RecordingController::appearanceLog(log), swapped("next", "root"));
}

TEST_F(NavigationTest, InteractivePopGestureReleasedEarlyStaysAndRestoresAppearance) {
    useManualClock(); // no time passes between moves, so the release has no speed
    auto next = recording("next", log);
    navigation->pushViewController(next, false);
    log->clear();
    TouchSimulator sim(window);
    sim.begin({CGPointMake(5, 300)});
    sim.move({CGPointMake(40, 300)});
    sim.move({CGPointMake(60, 300)});
    sim.end();
    EXPECT_EQ(navigation->topViewController(), next);
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"next.viewWillDisappear", "root.viewWillAppear", "next.viewWillAppear",
                       "root.viewWillDisappear", "next.viewDidAppear", "root.viewDidDisappear"}));
}

TEST_F(NavigationTest, InteractivePopNeverBeginsOnTheRootAwayFromTheEdgeOrWhenRefused) {
    drag(CGPointMake(5, 300), CGPointMake(300, 300));
    EXPECT_EQ(navigation->viewControllers().size(), 1u);

    class Refuse : public UIGestureRecognizerDelegate {
    public:
        bool gestureRecognizerShouldBegin(UIGestureRecognizer*) override { return false; }
    };
    auto refuse = std::make_shared<Refuse>();
    navigation->pushViewController(UIViewController::create(), false);
    drag(CGPointMake(100, 300), CGPointMake(350, 300));
    navigation->interactivePopGestureRecognizer()->setDelegate(refuse);
    drag(CGPointMake(5, 300), CGPointMake(300, 300));
    navigation->interactivePopGestureRecognizer()->setDelegate(nullptr);
    navigation->interactivePopGestureRecognizer()->setEnabled(false);
    drag(CGPointMake(5, 300), CGPointMake(300, 300));
    EXPECT_EQ(navigation->viewControllers().size(), 2u);
}

class PresentationTest : public UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        log = makeLog();
        presenter = recording("A", log);
        window->setRootViewController(presenter);
        log->clear();
    }

    CallbackLog log;
    std::shared_ptr<RecordingController> presenter;
};

TEST_F(PresentationTest, AnimatedPresentFinishesAfterTheTransitionThenRunsTheCompletion) {
    useManualClock();
    auto presented = recording("B", log);
    bool completed = false;
    presenter->presentViewController(presented, true, [&] {
        log->push_back("completion");
        completed = true;
    });
    EXPECT_EQ(presenter->presentedViewController(), presented);
    EXPECT_EQ(presented->presentingViewController(), presenter);
    EXPECT_TRUE(presented->isBeingPresented());
    EXPECT_EQ(RecordingController::appearanceLog(log), (Strings{"A.viewWillDisappear", "B.viewWillAppear"}));
    advance(0.1);
    EXPECT_FALSE(completed);
    advance(0.5);
    EXPECT_TRUE(completed);
    EXPECT_FALSE(presented->isBeingPresented());
    Strings expected{"A.viewWillDisappear", "B.viewWillAppear", "B.viewDidAppear", "A.viewDidDisappear"};
    EXPECT_EQ(RecordingController::appearanceLog(log), expected);
    EXPECT_EQ(log->back(), "completion");
    EXPECT_EQ(presented->view()->superview(), window);
}

TEST_F(PresentationTest, UnanimatedPresentAndDismissCompleteOnTheMainLoopNotInsideTheCall) {
    auto presented = recording("B", log);
    bool completed = false;
    presenter->presentViewController(presented, false, [&] { completed = true; });
    EXPECT_FALSE(completed);
    EXPECT_EQ(RecordingController::appearanceLog(log).size(), 4u);
    EXPECT_TRUE(pumpUntil([&] { return completed; }));
    log->clear();
    completed = false;
    presented->dismissViewControllerAnimated(false, [&] { completed = true; });
    EXPECT_EQ(RecordingController::appearanceLog(log), swapped("B", "A"));
    EXPECT_EQ(presenter->presentedViewController(), nullptr);
    EXPECT_EQ(presented->presentingViewController(), nullptr);
    EXPECT_EQ(presented->view()->superview(), nullptr);
    EXPECT_FALSE(completed);
    EXPECT_TRUE(pumpUntil([&] { return completed; }));

    presenter->presentViewController(presented, false);
    presenter->dismissViewControllerAnimated(false);
    EXPECT_EQ(presenter->presentedViewController(), nullptr) << "the presenter dismisses what it presents";
    EXPECT_EQ(presenter->appearance(), UIViewController::Appearance::Appeared);
}

TEST_F(PresentationTest, ChildOfAPresentedNavigationControllerDismissesTheWholeStack) {
    auto inner = recording("inner", log);
    auto navigation = UINavigationController::create(inner);
    presenter->presentViewController(navigation, false);
    EXPECT_EQ(inner->presentingViewController(), presenter);
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"A.viewWillDisappear", "inner.viewWillAppear", "inner.viewDidAppear",
                       "A.viewDidDisappear"}));
    log->clear();
    inner->dismissViewControllerAnimated(false);
    EXPECT_EQ(presenter->presentedViewController(), nullptr);
    EXPECT_EQ(RecordingController::appearanceLog(log), swapped("inner", "A"));
}

TEST_F(PresentationTest, AControllerInsideANavigationStackPresentsFromTheStack) {
    auto inner = recording("inner", log);
    auto navigation = UINavigationController::create(inner);
    window->setRootViewController(navigation);
    auto presented = recording("B", log);
    inner->presentViewController(presented, false);
    EXPECT_EQ(navigation->presentedViewController(), presented);
    EXPECT_EQ(inner->presentedViewController(), presented);
    EXPECT_EQ(presented->presentingViewController(), navigation);
}

TEST_F(PresentationTest, PresentingTwiceOrDismissingNothingIsRefused) {
    bool completed = false;
    presenter->dismissViewControllerAnimated(false, [&] { completed = true; });
    pump();
    EXPECT_TRUE(log->empty());
    auto first = recording("B", log);
    auto second = recording("C", log);
    presenter->presentViewController(first, false);
    presenter->presentViewController(second, false, [&] { completed = true; });
    pump();
    EXPECT_FALSE(completed);
    EXPECT_EQ(presenter->presentedViewController(), first);
    EXPECT_EQ(second->appearance(), UIViewController::Appearance::Disappeared);
}

TEST_F(PresentationTest, DismissingTheBottomOfAChainRemovesEveryPresentedController) {
    auto first = recording("B", log);
    auto second = recording("C", log);
    presenter->presentViewController(first, false);
    first->presentViewController(second, false);
    log->clear();
    presenter->dismissViewControllerAnimated(false);
    EXPECT_EQ(presenter->presentedViewController(), nullptr);
    EXPECT_EQ(first->presentedViewController(), nullptr);
    EXPECT_EQ(RecordingController::appearanceLog(log), swapped("C", "A"));
}

TEST_F(PresentationTest, OverFullScreenKeepsThePresenterOnScreen) {
    auto overlay = recording("B", log);
    overlay->setModalPresentationStyle(UIModalPresentationOverFullScreen);
    presenter->presentViewController(overlay, false);
    EXPECT_EQ(RecordingController::appearanceLog(log), (Strings{"B.viewWillAppear", "B.viewDidAppear"}));
    EXPECT_EQ(presenter->appearance(), UIViewController::Appearance::Appeared);
}

TEST_F(PresentationTest, DismissingAgainDuringAnAnimatedDismissalEndsItOnce) {
    useManualClock();
    auto presented = recording("B", log);
    presenter->presentViewController(presented, false);
    presented->dismissViewControllerAnimated(true);
    log->clear();
    presented->dismissViewControllerAnimated(false); // finishes the first, then finds nothing left
    EXPECT_FALSE(presenter->presentedViewController());
    EXPECT_EQ(RecordingController::appearanceLog(log), (Strings{"B.viewDidDisappear", "A.viewDidAppear"}));
}

} // namespace
