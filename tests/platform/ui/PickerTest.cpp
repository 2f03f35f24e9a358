#include "platform/ui/UILabel.h"
#include "platform/ui/UIPickerView.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

class Source : public UIPickerViewDataSource, public UIPickerViewDelegate {
public:
    int64_t numberOfComponentsInPickerView(UIPickerView*) override { return int64_t(items.size()); }
    int64_t pickerViewNumberOfRowsInComponent(UIPickerView*, int64_t component) override {
        return int64_t(items[size_t(component)].size());
    }
    bool respondsTo(std::string_view selector) const override {
        return usesViews && selector == "pickerView:viewForRow:forComponent:reusingView:";
    }
    std::optional<std::string> pickerViewTitleForRow(UIPickerView*, int64_t row, int64_t component) override {
        return items[size_t(component)][size_t(row)];
    }
    UIViewPtr pickerViewViewForRow(UIPickerView*, int64_t row, int64_t, const UIViewPtr& reusing) override {
        if (reusing)
            ++reused;
        auto view = reusing ? reusing : UIView::create();
        view->setTag(1000 + row);
        return view;
    }
    void pickerViewDidSelectRow(UIPickerView*, int64_t row, int64_t component) override {
        selections.emplace_back(row, component);
    }
    double pickerViewRowHeightForComponent(UIPickerView*, int64_t) override { return 40; }

    std::vector<std::vector<std::string>> items{{"480p", "540p", "720p", "1080p", "4K"}};
    std::vector<std::pair<int64_t, int64_t>> selections;
    bool usesViews{false};
    int reused{0};
};

class PickerTest : public UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        // Frame 0,200 320x200: the middle band is rows 280 to 320 in the window.
        picker = UIPickerView::create(CGRectMake(0, 200, 320, 200));
        window->addSubview(picker);
        picker->setDelegate(source);
        picker->setDataSource(source);
        picker->layoutIfNeeded();
    }
    std::string titleOf(int64_t row, int64_t component = 0) {
        auto label = std::dynamic_pointer_cast<UILabel>(picker->viewForRow(row, component));
        return label ? label->text() : "<none>";
    }
    std::shared_ptr<Source> source{std::make_shared<Source>()};
    UIPickerViewPtr picker;
};

TEST_F(PickerTest, RowsComeFromTheDataSourceAndSelectingInCodeMovesTheWheelSilently) {
    EXPECT_EQ(picker->numberOfComponents(), 1);
    EXPECT_EQ(picker->numberOfRowsInComponent(0), 5);
    EXPECT_EQ(picker->selectedRowInComponent(0), 0);
    EXPECT_EQ(titleOf(1), "540p");
    EXPECT_EQ(picker->viewForRow(0, 0)->frame(), CGRectMake(0, 80, 320, 40));
    picker->selectRow(3, 0, false);
    picker->layoutIfNeeded();
    EXPECT_EQ(picker->selectedRowInComponent(0), 3);
    EXPECT_EQ(picker->viewForRow(3, 0)->frame().origin.y, 80);
    picker->selectRow(99, 0, false);
    EXPECT_EQ(picker->selectedRowInComponent(0), 4);
    EXPECT_TRUE(source->selections.empty());
}

TEST_F(PickerTest, DraggingOrTappingARowSelectsItOnceAndReloadKeepsSelectionWithinTheNewRows) {
    tap(CGPointMake(160, 340));
    EXPECT_EQ(picker->selectedRowInComponent(0), 1);
    tap(CGPointMake(160, 300));
    EXPECT_EQ(source->selections.size(), 1u) << "tapping the selected row selects nothing new";
    drag(CGPointMake(160, 300), CGPointMake(160, 220));
    EXPECT_EQ(picker->selectedRowInComponent(0), 3);
    ASSERT_EQ(source->selections.size(), 2u);
    EXPECT_EQ(source->selections[1], (std::pair<int64_t, int64_t>{3, 0}));
    picker->selectRow(4, 0, false);
    source->items = {{"a", "b"}, {"x", "y", "z"}};
    picker->reloadAllComponents();
    picker->layoutIfNeeded();
    EXPECT_EQ(picker->numberOfComponents(), 2);
    EXPECT_EQ(picker->selectedRowInComponent(0), 1);
    EXPECT_EQ(picker->selectedRowInComponent(1), 0);
    EXPECT_EQ(titleOf(2, 1), "z");
    EXPECT_EQ(picker->viewForRow(0, 1)->frame().origin.x, 160);
}

TEST_F(PickerTest, DelegateViewsReplaceTitlesAndAreOfferedForReuse) {
    source->usesViews = true;
    picker->reloadAllComponents();
    picker->layoutIfNeeded();
    EXPECT_EQ(picker->viewForRow(2, 0)->tag(), 1002);
    EXPECT_EQ(std::dynamic_pointer_cast<UILabel>(picker->viewForRow(2, 0)), nullptr);
    picker->selectRow(1, 0, false);
    picker->layoutIfNeeded();
    EXPECT_GT(source->reused, 0);
}

} // namespace
