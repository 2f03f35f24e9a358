// The broadcast screen as it is seen: viewers' lines played by the chat server, the viewer badge, the
// test card where the camera picture would be. The picture goes to artifacts/ of the build folder for
// a person to look at, and is checked at key pixels.

#include "tests/app/screens/LiveScreenFixture.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace liveapp::test;
using namespace platform;

namespace {

class LiveScreenRenderTest : public LiveScreenFixture {};

TEST_F(LiveScreenRenderTest, LiveScreenWithBarrageLines) {
    presentAndJoin();
    chat->playViewers(std::chrono::milliseconds(1));
    ASSERT_TRUE(
        pumpUntil([&] { return countOf("阿花：画面好清楚") >= 1 && countOf("小明：主播晚上好！") >= 2; }));
    chat->stopPlaying();
    EXPECT_GE(countOf("感谢 老王 送给主播 玫瑰 ！"), 1u);
    ASSERT_TRUE(pumpUntil([&] { return panel()->personsView()->personsAmount() == 12; }));
    advance(0.5); // the redraw, then its scroll
    advance(0.5);

    const auto folder = std::filesystem::path(LIVEAPP_TEST_ARTIFACTS_DIR) / "app_screens";
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(window->writePNG(folder / "live_screen.png", 2));
    auto picture = render();
    const Bitmap::RGBA startGreen{0, 186, 17, 255};
    EXPECT_TRUE(colorNear(pixelAt(picture, 561, 28), startGreen, 4)) << "the capture button's start look";
    const Bitmap::RGBA cardBlue{0, 0, 191, 255};
    EXPECT_TRUE(colorNear(pixelAt(picture, 640, 200), cardBlue, 4)) << "the test card's last bar";
    const auto strip = pixelAt(picture, 15, 358); // the barrage strip: half black over the card's grey bar
    EXPECT_TRUE(colorNear(strip, {96, 96, 96, 255}, 6)) << int(strip.r) << "," << int(strip.g);
}

} // namespace
