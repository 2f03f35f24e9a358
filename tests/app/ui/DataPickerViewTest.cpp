#include "app/ui/DataPickerView.h"

#include "tests/support/UIFixture.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace platform;
using liveapp::test::colorNear;

namespace {

class Listener : public DataPickerViewDelegate {
public:
    bool respondsTo(std::string_view) const override { return answers; }
    void dataPickerDidCancel(DataPickerView* picker) override {
        ++cancels;
        stillShownWhenTold = picker->superview() != nullptr;
    }
    void dataPickerSelectedRow(DataPickerView* picker, int64_t row, const Value& items) override {
        rows.push_back(row);
        reported = items;
        stillShownWhenTold = picker->superview() != nullptr;
    }
    bool answers{true};
    int cancels{0};
    std::vector<int64_t> rows;
    Value reported;
    bool stillShownWhenTold{false};
};

class DataPickerViewTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
        window->setBackgroundColor(UIColor::whiteColor());
        picker = DataPickerView::create("Resolution", 260);
        picker->setBackgroundColor(UIColor::whiteColor());
        listener = std::make_shared<Listener>();
        picker->setDelegate(listener);
        picker->setDataSource(Value::array({"360p", "540p", "720p"}));
    }
    // The backdrop is pinned in the sheet's layout pass, so its frame arrives with the next pass.
    void show() {
        picker->showInView(window);
        pump();
        window->layoutIfNeeded();
    }
    CGPoint centreOf(const UIViewPtr& view) {
        return view->convertPointToView(
            CGPointMake(view->bounds().size.width / 2, view->bounds().size.height / 2), nullptr);
    }

    std::shared_ptr<DataPickerView> picker;
    std::shared_ptr<Listener> listener;
};

TEST_F(DataPickerViewTest, SheetSlidesUpLaysOutItsStripAndReportsTheChoiceBeforeLeaving) {
    EXPECT_EQ(picker->frame(), CGRectMake(0, 0, 375, 260));
    EXPECT_EQ(picker->cancelButton()->titleForState(UIControlStateNormal), "取消") << "the key, untranslated";
    show();
    EXPECT_EQ(picker->frame(), CGRectMake(0, 407, 375, 260));
    EXPECT_EQ(picker->backgroundGrayView()->frame(), window->bounds());
    EXPECT_EQ(picker->doneButton()->frame(), CGRectMake(300, 5, 60, 25));
    EXPECT_EQ(picker->titleLabel()->frame(), CGRectMake(90, 7.5, 195, 20));
    EXPECT_EQ(picker->pickerView()->frame(), CGRectMake(0, 37.5, 375, 222.5));
    auto row = std::dynamic_pointer_cast<UILabel>(picker->pickerView()->viewForRow(0, 0));
    EXPECT_EQ(row->text(), "360p");
    EXPECT_EQ(row->frame().size.height, 40);

    picker->pickerView()->selectRow(2, 0, false);
    tap(centreOf(picker->doneButton()));
    ASSERT_EQ(listener->rows, std::vector<int64_t>{2});
    EXPECT_EQ(listener->reported.count(), 3u);
    EXPECT_TRUE(listener->stillShownWhenTold);
    advance(0.2);
    EXPECT_NE(picker->superview(), nullptr);
    advance(0.1);
    EXPECT_EQ(picker->superview(), nullptr);
    EXPECT_EQ(picker->backgroundGrayView()->superview(), nullptr);
}

TEST_F(DataPickerViewTest, BackdropTapCancelsAndASilentDelegateStillSeesTheSheetHide) {
    show();
    tap(CGPointMake(100, 100));
    EXPECT_EQ(listener->cancels, 1);
    EXPECT_TRUE(listener->rows.empty());
    advance(0.3);
    listener->answers = false;
    show();
    tap(centreOf(picker->cancelButton()));
    EXPECT_EQ(listener->cancels, 1);
    advance(0.3);
    EXPECT_EQ(picker->superview(), nullptr);

    // A sheet taken out during the slide leaves the rest alone.
    show();
    picker->cancelButtonPressed();
    picker->removeFromSuperview();
    advance(0.3);
    EXPECT_EQ(picker->backgroundGrayView()->superview(), window);

    // Items that are no list give an empty list.
    listener->answers = true;
    picker->setDataSource(Value(42));
    show();
    picker->doneButtonPressed();
    EXPECT_EQ(listener->rows, std::vector<int64_t>{-1});
    picker->setDataSource(Value::array({7, "text"}));
    picker->pickerView()->layoutIfNeeded();
    EXPECT_EQ(std::dynamic_pointer_cast<UILabel>(picker->pickerView()->viewForRow(0, 0))->text(), "");
}

TEST_F(DataPickerViewTest, RenderedSheetDimsTheHostAndShowsItsButtons) {
    show();
    const auto folder = std::filesystem::path(LIVEAPP_TEST_ARTIFACTS_DIR) / "app_ui";
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(window->writePNG(folder / "data_picker_view.png"));
    auto image = render();
    EXPECT_TRUE(colorNear(pixelAt(image, 200, 200), {128, 128, 128, 255}, 4))
        << "half-black backdrop over white";
    EXPECT_TRUE(colorNear(pixelAt(image, 200, 660), {255, 255, 255, 255})) << "the sheet itself";
    const CGRect done = picker->doneButton()->convertRectToView(picker->doneButton()->bounds(), nullptr);
    int reddish = 0;
    for (double x = done.origin.x; x < CGRectGetMaxX(done); x += 0.5)
        for (double y = done.origin.y; y < CGRectGetMaxY(done); y += 0.5)
            reddish += pixelAt(image, x, y).r > 180 && pixelAt(image, x, y).g < 150;
    EXPECT_GT(reddish, 10) << "the confirm title in red";
}

} // namespace
