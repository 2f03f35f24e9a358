#include "app/ui/BaseNavigationController.h"
#include "app/ui/BaseViewController.h"
#include "app/ui/UIView+LoadingPrompt.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+Loading_Prompt.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/UILabel.h"
#include "tests/support/UIFixture.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>

using namespace platform;
using liveapp::test::colorNear;

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
    const auto before = screen->view()->subviews().size();
    showNoNetworkView(*screen); // shows nothing
    showNoNetworkViewInView(*screen, screen->view());
    pump();
    EXPECT_EQ(screen->view()->subviews().size(), before);

    // Hiding removes the overlay from the view of the last loading call.
    auto other = UIView::create(CGRectMake(0, 0, 200, 200));
    screen->view()->addSubview(other);
    showLoadingInView(*screen, other);
    pump();
    ASSERT_TRUE(onScreen(hud = loadingViewProperty(*other)));
    EXPECT_EQ(hud->mode(), HUDModeSpinner);
    EXPECT_TRUE(hud->labelFont()->isEqual(*UIFont::systemFontOfSize(14)));
    EXPECT_TRUE(UIColor::isEqual(hud->labelColor(), UIColor::whiteColor()));
    hideLoading(*screen);
    pump();
    EXPECT_FALSE(hud->superview());
    EXPECT_EQ(loadingViewProperty(*other), hud); // kept for the next time
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

// Renders the pushed screen with its bar, then with the loading overlay, then with a prompt, into artifacts/
// of the build folder for a person to look at, and checks them at key pixels.
TEST_F(OverlayTest, RenderedBarOverlayAndPromptOnABaseScreen) {
    class GreyBar : public BaseViewController {
        UIColorPtr customNavigationBarColor() override { return UIColor::colorWithWhite(66 / 255.0, 1); }
    };
    auto navigation = BaseNavigationController::create(std::make_shared<GreyBar>());
    window->setRootViewController(navigation);
    auto room = std::make_shared<GreyBar>();
    navigation->pushViewController(room, false);
    setNavigationBarTitle(*room, "直播间");
    auto renderAndKeep = [&](const std::string& name) {
        const auto folder = std::filesystem::path(LIVEAPP_TEST_ARTIFACTS_DIR) / "app_ui";
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(window->writePNG(folder / (name + ".png"), 1));
        return window->renderImage(1);
    };
    auto brightestInRow = [](const UIImagePtr& image, double y, double from, double to) {
        int brightest = 0;
        for (double x = from; x < to; x += 1)
            brightest = std::max(brightest, int(pixelAt(image, x, y).r));
        return brightest;
    };
    const Bitmap::RGBA white{255, 255, 255, 255}, box{51, 51, 51, 255}; // black at 0.8 over white
    auto bar = renderAndKeep("base_screen_bar");
    EXPECT_TRUE(colorNear(pixelAt(bar, 300, 30), {66, 66, 66, 255}, 6)) << int(pixelAt(bar, 300, 30).r);
    EXPECT_TRUE(colorNear(pixelAt(bar, 300, 8), {66, 66, 66, 255}, 6)); // under the status bar too
    EXPECT_TRUE(colorNear(pixelAt(bar, 187, 400), white));
    EXPECT_GT(brightestInRow(bar, 42, 150, 225), 200); // the white title
    EXPECT_GT(brightestInRow(bar, 42, 0, 20), 200);    // the white back arrow

    showLoading(*room);
    pump();
    auto loading = renderAndKeep("base_screen_loading");
    EXPECT_TRUE(colorNear(pixelAt(loading, 187 - 25, 333), box, 3));
    EXPECT_TRUE(colorNear(pixelAt(loading, 187 - 40, 333), white));
    EXPECT_GT(brightestInRow(loading, 333, 177, 197), 150); // the spinner's spokes

    hideLoading(*room);
    promptMessage(*room, "网络不可用");
    pump();
    auto prompt = renderAndKeep("base_screen_prompt");
    EXPECT_GT(brightestInRow(prompt, 333, 150, 225), 200); // the white text in the box
    EXPECT_TRUE(colorNear(pixelAt(prompt, 187, 333 - 24), box, 3));
    advance(2); // the prompt's wait ends and it fades out
    advance(0.5);
    EXPECT_TRUE(colorNear(pixelAt(renderAndKeep("base_screen_after_prompt"), 187, 333 - 24), white));
}

} // namespace
