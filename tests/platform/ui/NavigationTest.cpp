#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIViewAnimation.h"
#include "tests/platform/ui/RecordingController.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

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
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"root.viewWillDisappear", "next.viewWillAppear", "root.viewDidDisappear",
                       "next.viewDidAppear"}));
    EXPECT_EQ(next->navigationController(), navigation);
    EXPECT_EQ(next->view()->superview(), navigation->view());
    EXPECT_EQ(root->view()->superview(), nullptr);

    log->clear();
    EXPECT_EQ(navigation->popViewControllerAnimated(false), next);
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"next.viewWillDisappear", "root.viewWillAppear", "next.viewDidDisappear",
                       "root.viewDidAppear"}));
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
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"root.viewWillDisappear", "next.viewWillAppear", "root.viewDidDisappear",
                       "next.viewDidAppear"}));
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
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"third.viewWillDisappear", "root.viewWillAppear", "third.viewDidDisappear",
                       "root.viewDidAppear"}));
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

class TintedBar : public UINavigationBar {};

TEST_F(NavigationTest, CustomBarClassIsUsed) {
    auto custom =
        std::make_shared<UINavigationController>(UINavigationController::navigationBarClass<TintedBar>());
    EXPECT_TRUE(std::dynamic_pointer_cast<TintedBar>(custom->navigationBar()));
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
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"next.viewWillDisappear", "root.viewWillAppear", "next.viewDidDisappear",
                       "root.viewDidAppear"}));
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

} // namespace
