#include "platform/ui/UINavigationController.h"
#include "tests/platform/ui/RecordingController.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

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
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"B.viewWillDisappear", "A.viewWillAppear", "B.viewDidDisappear", "A.viewDidAppear"}));
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
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"inner.viewWillDisappear", "A.viewWillAppear", "inner.viewDidDisappear",
                       "A.viewDidAppear"}));
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
    EXPECT_EQ(RecordingController::appearanceLog(log),
              (Strings{"C.viewWillDisappear", "A.viewWillAppear", "C.viewDidDisappear", "A.viewDidAppear"}));
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
