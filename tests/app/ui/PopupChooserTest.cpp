#include "app/ui/CustomPopupView.h"
#include "tests/support/UIFixture.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace platform;
using liveapp::test::colorNear;

namespace {

class PopupChooserTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
        window->setBackgroundColor(UIColor::whiteColor());
    }
    std::shared_ptr<CustomPopupView> showPopup(uint64_t checked = 2) {
        auto popup = CustomPopupView::create("Resolution", Value::array({"360p", "540p", "720p"}), checked);
        popup->setChoicingHandler([this](LiveParameterChoicingView*, const Value& items, uint64_t index) {
            chosen.push_back(index);
            chosenCount = items.count();
        });
        popup->show();
        settle();
        return popup;
    }
    // Chained animations start when the one before completes, so time moves in small steps.
    void elapse(double seconds) {
        for (double t = 0; t < seconds - 1e-9; t += 0.01)
            advance(0.01);
    }
    // Cells take their content frames one pass after the table places them.
    void settle() {
        elapse(0.3);
        window->layoutIfNeeded();
        pump();
        window->layoutIfNeeded();
    }
    CGRect rowInWindow(const std::shared_ptr<CustomPopupView>& popup, int64_t row) {
        auto table = popup->parameterChoicingView()->parametersTableView();
        return table->convertRectToView(table->rectForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0)),
                                        nullptr);
    }

    std::vector<uint64_t> chosen;
    size_t chosenCount{0};
};

TEST_F(PopupChooserTest, TappingARowReportsItMovesTheHighlightAndCloses) {
    auto popup = showPopup();
    auto table = popup->parameterChoicingView()->parametersTableView();
    auto third = std::dynamic_pointer_cast<LiveParameterChoicingViewCell>(
        table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(2, 0)));
    ASSERT_TRUE(third);
    EXPECT_TRUE(UIColor::isEqual(third->backgroundColor(),
                                 UIColor::colorWithRed(231 / 255.0, 60 / 255.0, 50 / 255.0, 1)));
    EXPECT_EQ(third->layoutMargins(), UIEdgeInsetsZero);

    CGRect first = rowInWindow(popup, 0);
    tap(CGPointMake(CGRectGetMidX(first), CGRectGetMidY(first)));
    EXPECT_EQ(chosen, std::vector<uint64_t>{0});
    EXPECT_EQ(chosenCount, 3u);
    window->layoutIfNeeded();
    auto firstCell = std::dynamic_pointer_cast<LiveParameterChoicingViewCell>(
        table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
    EXPECT_TRUE(UIColor::isEqual(firstCell->textLabel()->textColor(), UIColor::colorWithRed(1, 1, 1, 1)));
    elapse(0.31);
    EXPECT_EQ(popup->superview(), nullptr);
}

TEST_F(PopupChooserTest, TappingTheDimmedLayerClosesWithoutAChoiceThreeTenthsOfASecondLater) {
    auto popup = showPopup();
    tap(CGPointMake(20, 20));
    advance(0.25);
    EXPECT_EQ(popup->alpha(), 0) << "the last fade has started";
    advance(0.04);
    EXPECT_NE(popup->superview(), nullptr);
    advance(0.02);
    EXPECT_EQ(popup->superview(), nullptr);
    EXPECT_TRUE(chosen.empty());

    // A new popup replaces the previous at once.
    auto first = showPopup();
    first->dismiss();
    auto second = CustomPopupView::create("Again", Value(), 0);
    EXPECT_EQ(first->superview(), nullptr);
    second->show();
    EXPECT_EQ(second->parameterChoicingView()->parametersTableView()->numberOfRowsInSection(0), 0);
    std::weak_ptr<CustomPopupView> gone = first;
    first.reset();
    elapse(0.31);
    EXPECT_TRUE(gone.expired()) << "the card's handler does not keep its popup";
}

TEST_F(PopupChooserTest, CentredCardKeepsItsProportionsAndShowsTheDimmedLayerRuleAndHighlight) {
    auto popup = showPopup(1);
    EXPECT_EQ(popup->frame(), window->bounds());
    CGRect card = popup->parameterChoicingView()->frame();
    EXPECT_EQ(card.origin.x, 50);
    EXPECT_EQ(card.size.width, 275);
    EXPECT_NEAR(card.size.height, 245.6, 0.5);
    EXPECT_NEAR(CGRectGetMidY(card), 667 / 2.0, 0.5);
    EXPECT_EQ(popup->parameterChoicingView()->alpha(), 1);
    EXPECT_EQ(popup->parameterChoicingView()->seperatorView()->frame(), CGRectMake(20, 40, 235, 2));
    const auto folder = std::filesystem::path(LIVEAPP_TEST_ARTIFACTS_DIR) / "app_ui";
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(window->writePNG(folder / "popup_chooser.png"));
    auto image = render();
    EXPECT_TRUE(colorNear(pixelAt(image, 10, 10), {153, 153, 153, 255}, 4)) << "40% black over white";
    EXPECT_TRUE(colorNear(pixelAt(image, card.origin.x + 5, card.origin.y + 20), {255, 255, 255, 255}));
    EXPECT_TRUE(colorNear(pixelAt(image, card.origin.x + 100, card.origin.y + 41), {204, 204, 204, 255}));
    CGRect checked = rowInWindow(popup, 1);
    EXPECT_TRUE(colorNear(pixelAt(image, checked.origin.x + 5, CGRectGetMidY(checked)), {231, 60, 50, 255}));
    CGRect other = rowInWindow(popup, 0);
    EXPECT_TRUE(colorNear(pixelAt(image, other.origin.x + 5, CGRectGetMidY(other)), {255, 255, 255, 255}));
}

} // namespace
