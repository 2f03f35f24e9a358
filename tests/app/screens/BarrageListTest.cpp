// The barrage list of the broadcast screen: its cap, the redraw that follows the newest line unless the
// user holds the list, line heights, the expanded and collapsed looks, and the screen rendered with it.

#include "app/screens/LiveBarrageCollectionViewCell.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIImageView.h"
#include "tests/app/screens/LiveScreenFixture.h"

#include <cmath>
#include <filesystem>
#include <fmt/format.h>
#include <gtest/gtest.h>

using namespace liveapp::test;
using namespace platform;

namespace {

class BarrageListTest : public LiveScreenFixture {
protected:
    void SetUp() override {
        LiveScreenFixture::SetUp();
        presentAndJoin();
        screen->setBarrageDataSource({});
        collection = screen->barrageCollectionView();
    }
    static std::shared_ptr<ChatModel> chatLine(const std::string& text) {
        auto line = std::make_shared<ChatModel>();
        line->setType(Value(0));
        line->setText(text);
        line->user = std::make_shared<UserModel>();
        line->user->nick = "v";
        return line;
    }
    void addLines(int from, int to) {
        for (int index = from; index <= to; ++index)
            screen->addBarrageData(chatLine(std::to_string(index)));
    }
    std::string shownText(int64_t row) {
        auto cell = std::dynamic_pointer_cast<LiveBarrageCollectionViewCell>(
            screen->collectionViewCellForItemAtIndexPath(collection.get(),
                                                         NSIndexPath::indexPathForItem(row, 0)));
        return cell ? cell->titleLabel()->text() : "(no cell)";
    }
    // The redraw timer, then its scrolling animation.
    void redraw() {
        advance(0.5);
        advance(0.5);
    }
    double bottomGap() {
        return collection->contentSize().height -
               (collection->contentOffset().y + collection->bounds().size.height);
    }

    UICollectionViewPtr collection;
};

TEST_F(BarrageListTest, HoldsAtMostAHundredLinesAndARedrawThatFindsAHundredShowsNinetyNine) {
    addLines(1, 150);
    EXPECT_EQ(screen->barrageDataSource().size(), 99u) << "this access found 100 and dropped one";
    screen->setBarrageDataSource({});
    addLines(1, 150);
    screen->reloadBarrageCollectionView();
    ASSERT_EQ(screen->collectionViewNumberOfItemsInSection(collection.get(), 0), 99);
    EXPECT_EQ(shownText(0), "v：52");
    EXPECT_EQ(shownText(98), "v：150");
}

TEST_F(BarrageListTest, RedrawFollowsTheNewestLineButNotWhileTheUserHoldsTheList) {
    addLines(1, 40);
    redraw();
    ASSERT_GT(collection->contentSize().height, collection->bounds().size.height);
    EXPECT_NEAR(bottomGap(), 0, 1);

    TouchSimulator finger(window);
    const CGPoint inside = centreOf(collection);
    finger.begin({inside});
    finger.move({CGPointMake(inside.x, inside.y + 20)});
    ASSERT_TRUE(collection->isTracking() || collection->isDragging());
    const double held = collection->contentOffset().y;
    addLines(41, 60);
    redraw();
    EXPECT_EQ(screen->collectionViewNumberOfItemsInSection(collection.get(), 0), 60) << "still reloaded";
    EXPECT_EQ(collection->contentOffset().y, held);
    finger.end();
    redraw();
    EXPECT_NEAR(bottomGap(), 0, 1);
}

TEST_F(BarrageListTest, LongLinesGrowTheirRowsAndMissingRowsAreOnePointHigh) {
    screen->addBarrageData(chatLine("short"));
    screen->addBarrageData(chatLine(std::string(400, 'w')));
    screen->reloadBarrageCollectionView();
    auto* layout = collection->collectionViewLayout().get();
    auto sizeOf = [&](int64_t row) {
        return screen->collectionViewLayoutSizeForItemAtIndexPath(collection.get(), layout,
                                                                  NSIndexPath::indexPathForItem(row, 0));
    };
    const double width = collection->frame().size.width;
    EXPECT_EQ(sizeOf(0).width, width);
    EXPECT_GT(sizeOf(0).height, 5);
    EXPECT_GT(sizeOf(1).height, 3 * sizeOf(0).height) << "many lines at the list's width less 24 points";
    EXPECT_EQ(sizeOf(2), CGSizeMake(width, 1));
    EXPECT_EQ(LiveBarrageCollectionViewCell::cellSizeWithText("short", width).width, width - 24);
}

TEST_F(BarrageListTest, CollapsingLeavesOnlyTheButtonAndTheToggleHidesTheWholeBarrage) {
    const auto& barrage = panel()->barrageView();
    const auto& button = barrage->expandedControlButton();
    window->layoutIfNeeded();
    EXPECT_EQ(barrage->frame().origin.y, 12 + 38 + 18);
    EXPECT_EQ(button->expandStateLabel()->text(), "收起弹幕");
    EXPECT_EQ(button->expandStateImageView()->image(), UIImage::imageNamed("live_barrage_down"));

    tap(centreOf(button));
    window->layoutIfNeeded();
    EXPECT_FALSE(barrage->isExpanded());
    EXPECT_TRUE(collection->isHidden());
    EXPECT_TRUE(barrage->seperatorView()->isHidden());
    EXPECT_EQ(barrage->frame().size.height, 35);
    EXPECT_EQ(button->expandStateLabel()->text(), "展开弹幕");
    EXPECT_EQ(button->expandStateImageView()->image(), UIImage::imageNamed("live_barrage_up"));

    tap(centreOf(button));
    window->layoutIfNeeded();
    EXPECT_TRUE(barrage->isExpanded());
    EXPECT_FALSE(collection->isHidden());
    EXPECT_EQ(barrage->frame().origin.y, 68);

    tap(centreOf(panel()->barrageButton()));
    EXPECT_TRUE(barrage->isHidden());
    EXPECT_FALSE(panel()->barrageButton()->isSelected());
    tap(centreOf(panel()->barrageButton()));
    EXPECT_FALSE(barrage->isHidden());
}

// The screen as it is seen: viewers' lines played by the chat server, the viewer badge, and the
// camera's picture as the stream carries it (the portrait preset cut from the landscape camera). The picture
// goes to artifacts/ of the build folder for a person to look at, and is checked at key pixels.
TEST_F(BarrageListTest, RenderedLiveScreenWithBarrageLines) {
    chat->playViewers(std::chrono::milliseconds(1));
    ASSERT_TRUE(
        pumpUntil([&] { return countOf("阿花：画面好清楚") >= 1 && countOf("小明：主播晚上好！") >= 2; }));
    chat->stopPlaying();
    EXPECT_GE(countOf("感谢 老王 送给主播 玫瑰 ！"), 1u);
    ASSERT_TRUE(pumpUntil([&] { return panel()->personsView()->personsAmount() == 12; }));
    redraw();

    const auto folder = std::filesystem::path(LIVEAPP_TEST_ARTIFACTS_DIR) / "app_screens";
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(window->writePNG(folder / "live_screen.png", 2));
    auto picture = render();
    const Bitmap::RGBA startGreen{0, 186, 17, 255};
    EXPECT_TRUE(colorNear(pixelAt(picture, 561, 28), startGreen, 4)) << "the capture button's start look";
    // The picture fits the screen's height in its middle, upright: the test card's green bar at the top,
    // its grey at the bottom, the preview's black beside it.
    EXPECT_TRUE(colorNear(pixelAt(picture, 333, 30), {0, 191, 0, 255}, 12)) << "the test card's middle bar";
    EXPECT_TRUE(colorNear(pixelAt(picture, 333, 370), {82, 82, 82, 255}, 6)) << "the test card's ground";
    EXPECT_TRUE(colorNear(pixelAt(picture, 600, 200), {0, 0, 0, 255}, 4)) << "beside the picture";
}

} // namespace
