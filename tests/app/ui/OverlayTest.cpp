#include "app/ui/BaseNavigationController.h"
#include "app/ui/BaseViewController.h"
#include "app/ui/UIView+LoadingPrompt.h"
#include "app/ui/UIViewController+Loading_Prompt.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/UILabel.h"
#include "tests/support/UIFixture.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>

using namespace platform;

namespace {

// Notes on which thread its view was made.
class WatchedScreen : public BaseViewController {
public:
    void loadView() override {
        loadedOnMain = RunLoop::isMainThread();
        BaseViewController::loadView();
    }
    std::atomic<bool> loadedOnMain{false};
};

class OverlayTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
        screen = std::make_shared<WatchedScreen>();
    }
    void showScreen() { window->setRootViewController(BaseNavigationController::create(screen)); }
    static std::string labelText(const KelProgressHUDPtr& hud) {
        return std::dynamic_pointer_cast<UILabel>(hud->subviews()[0])->text();
    }
    bool onScreen(const KelProgressHUDPtr& hud) { return hud && hud->superview() && hud->alpha() > 0.5; }

    std::shared_ptr<WatchedScreen> screen;
};

TEST_F(OverlayTest, ShowThenHideAtOnceLeavesNoOverlay) {
    showScreen();
    showLoading(*screen);
    hideLoading(*screen);
    EXPECT_FALSE(loadingViewProperty(*screen->view())); // nothing happens inside the calls
    pump();
    auto hud = loadingViewProperty(*screen->view());
    ASSERT_TRUE(hud);
    EXPECT_FALSE(hud->superview());
    hideLoading(*screen); // a second hide finds nothing to do
    pump();
}

TEST_F(OverlayTest, CallsFromAnotherThreadLandOnTheMainQueueInOrder) {
    std::thread worker([&] {
        for (int i = 0; i < 10; ++i) {
            showLoading(*screen, "step " + std::to_string(i));
            promptMessage(*screen, "prompt " + std::to_string(i));
            if (i < 9)
                hideLoading(*screen);
        }
    });
    worker.join();
    EXPECT_FALSE(screen->isViewLoaded());
    ASSERT_TRUE(pumpUntil([&] {
        auto prompt = screen->isViewLoaded() ? promptViewProperty(*screen->view()) : nullptr;
        return prompt && labelText(prompt) == "prompt 9";
    }));
    EXPECT_TRUE(screen->loadedOnMain);
    auto loading = loadingViewProperty(*screen->view());
    ASSERT_TRUE(loading);
    EXPECT_TRUE(onScreen(loading));
    EXPECT_EQ(labelText(loading), "step 9");
}

TEST_F(OverlayTest, HideLoadingRemovesTheOverlayFromTheViewOfTheLastLoadingCall) {
    showScreen();
    auto other = UIView::create(CGRectMake(0, 0, 200, 200));
    screen->view()->addSubview(other);
    showLoadingInView(*screen, other);
    pump();
    auto hud = loadingViewProperty(*other);
    ASSERT_TRUE(onScreen(hud));
    EXPECT_EQ(hud->mode(), HUDModeSpinner);
    EXPECT_TRUE(hud->labelFont()->isEqual(*UIFont::systemFontOfSize(14)));
    EXPECT_TRUE(UIColor::isEqual(hud->labelColor(), UIColor::whiteColor()));
    hideLoading(*screen);
    pump();
    EXPECT_FALSE(hud->superview());
    EXPECT_EQ(loadingViewProperty(*other), hud); // kept for the next time
}

TEST_F(OverlayTest, SecondPromptWithinTwoSecondsReusesTheOverlayAndTheFirstWaitEndsIt) {
    showScreen();
    promptMessage(*screen, "one");
    pump();
    auto hud = promptViewProperty(*screen->view());
    ASSERT_TRUE(onScreen(hud));
    EXPECT_EQ(hud->mode(), HUDModeText);
    advance(1);
    promptMessage(*screen, "two");
    pump();
    EXPECT_EQ(promptViewProperty(*screen->view()), hud);
    EXPECT_EQ(labelText(hud), "two");
    advance(0.99);
    EXPECT_TRUE(onScreen(hud));
    advance(0.02); // the first prompt's wait ends: the overlay fades out...
    EXPECT_FALSE(onScreen(hud));
    EXPECT_TRUE(hud->superview());
    advance(0.3); // ...and leaves the view
    EXPECT_FALSE(hud->superview());
    advance(1); // the second wait ends with nothing left to do
    EXPECT_FALSE(hud->superview());
    promptMessage(*screen, "three");
    pump();
    EXPECT_TRUE(onScreen(hud));
}

TEST_F(OverlayTest, NoNetworkViewShowsNothing) {
    showScreen();
    const auto before = screen->view()->subviews().size();
    showNoNetworkView(*screen);
    showNoNetworkViewInView(*screen, screen->view());
    pump();
    EXPECT_EQ(screen->view()->subviews().size(), before);
}

} // namespace
