// Renders a base screen with its navigation bar, then with the loading overlay, then with a prompt, into
// artifacts/ of the build folder for a person to look at, and checks them at key pixels.

#include "app/ui/BaseNavigationController.h"
#include "app/ui/BaseViewController.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+Loading_Prompt.h"
#include "tests/support/UIFixture.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace platform;
using liveapp::test::colorNear;
using RGBA = Bitmap::RGBA;

namespace {

class RoomScreen : public BaseViewController {
public:
    UIColorPtr customNavigationBarColor() override {
        return UIColor::colorWithRed(66 / 255.0, 66 / 255.0, 66 / 255.0, 1);
    }
};

class ScreenRenderTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
        auto home = std::make_shared<RoomScreen>();
        navigation = BaseNavigationController::create(home);
        window->setRootViewController(navigation);
        screen = std::make_shared<RoomScreen>();
        navigation->pushViewController(screen, false);
        setNavigationBarTitle(*screen, "直播间");
    }
    UIImagePtr renderAndKeep(const std::string& name) {
        const std::filesystem::path folder = std::filesystem::path(LIVEAPP_TEST_ARTIFACTS_DIR) / "app_ui";
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(window->writePNG(folder / (name + ".png"), 1));
        return window->renderImage(1);
    }
    static int brightestInRow(const UIImagePtr& image, double y, double from, double to) {
        int brightest = 0;
        for (double x = from; x < to; x += 1)
            brightest = std::max(brightest, int(pixelAt(image, x, y).r));
        return brightest;
    }

    BaseNavigationControllerPtr navigation;
    std::shared_ptr<RoomScreen> screen;
};

TEST_F(ScreenRenderTest, BarOverlayAndPromptOnABaseScreen) {
    auto bar = renderAndKeep("base_screen_bar");
    const RGBA barGrey{66, 66, 66, 255};
    EXPECT_TRUE(colorNear(pixelAt(bar, 300, 30), barGrey, 6)) << int(pixelAt(bar, 300, 30).r);
    EXPECT_TRUE(colorNear(pixelAt(bar, 300, 8), barGrey, 6)); // under the status bar too
    EXPECT_TRUE(colorNear(pixelAt(bar, 187, 400), {255, 255, 255, 255}));
    EXPECT_GT(brightestInRow(bar, 42, 150, 225), 200); // the white title
    EXPECT_GT(brightestInRow(bar, 42, 0, 20), 200);    // the white back arrow

    showLoading(*screen);
    pump();
    auto loading = renderAndKeep("base_screen_loading");
    const RGBA box{51, 51, 51, 255}; // black at 0.8 over the white screen
    EXPECT_TRUE(colorNear(pixelAt(loading, 187 - 25, 333), box, 3));
    EXPECT_TRUE(colorNear(pixelAt(loading, 187 - 40, 333), {255, 255, 255, 255}));
    EXPECT_GT(brightestInRow(loading, 333, 177, 197), 150); // the spinner's spokes

    hideLoading(*screen);
    promptMessage(*screen, "网络不可用");
    pump();
    auto prompt = renderAndKeep("base_screen_prompt");
    EXPECT_GT(brightestInRow(prompt, 333, 150, 225), 200); // the white text in the box
    EXPECT_TRUE(colorNear(pixelAt(prompt, 187, 333 - 24), box, 3));
    advance(2); // the prompt's wait ends and it fades out
    advance(0.5);
    auto after = renderAndKeep("base_screen_after_prompt");
    EXPECT_TRUE(colorNear(pixelAt(after, 187, 333 - 24), {255, 255, 255, 255}));
}

} // namespace
