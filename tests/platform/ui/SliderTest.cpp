#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UISlider.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

class SliderTest : public UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        // 228 wide: the thumb's centre travels 200 points, from x 64 to x 264 in the window.
        slider = UISlider::create(CGRectMake(50, 100, 228, 40));
        window->addSubview(slider);
        slider->addTarget(
            nullptr,
            selector("changed", [this](Object*, Object*, UIEvent*) { values.push_back(slider->value()); }),
            UIControlEventValueChanged);
    }
    UISliderPtr slider;
    std::vector<double> values;
};

TEST_F(SliderTest, ValueStaysWithinTheRange) {
    slider->setMaximumValue(10);
    slider->setValue(12);
    EXPECT_EQ(slider->value(), 10);
    slider->setValue(-3);
    EXPECT_EQ(slider->value(), 0);
    slider->setValue(8);
    slider->setMaximumValue(5);
    EXPECT_EQ(slider->value(), 5);
    slider->setMinimumValue(7);
    EXPECT_EQ(slider->maximumValue(), 7);
    EXPECT_EQ(slider->value(), 7);
    EXPECT_TRUE(values.empty()) << "setting values in code sends nothing";
}

TEST_F(SliderTest, DraggingTheThumbSendsValueChangedOnEveryMove) {
    slider->setMinimumValue(0);
    slider->setMaximumValue(100);
    drag(CGPointMake(64, 120), CGPointMake(164, 120));
    EXPECT_DOUBLE_EQ(slider->value(), 50);
    ASSERT_GE(values.size(), 2u);
    EXPECT_DOUBLE_EQ(values.back(), 50);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));

    values.clear();
    slider->setContinuous(false);
    drag(CGPointMake(164, 120), CGPointMake(214, 120));
    EXPECT_EQ(values, std::vector<double>{75}) << "a slider that is not continuous sends once on lift";
}

TEST_F(SliderTest, DraggingPastTheEndsClampsAndThumbFollowsTheValue) {
    drag(CGPointMake(64, 120), CGPointMake(370, 120));
    EXPECT_EQ(slider->value(), 1);
    EXPECT_EQ(slider->thumbRect(), CGRectMake(200, 6, 28, 28));
    slider->setValue(0.5);
    EXPECT_EQ(slider->thumbRect().origin.x, 100);
}

TEST(ActivityIndicatorTest, StyleGivesSizeAndColourAndStoppedIndicatorHides) {
    auto large = UIActivityIndicatorView::create(UIActivityIndicatorViewStyleWhiteLarge);
    EXPECT_EQ(large->frame().size, CGSizeMake(37, 37));
    auto small = UIActivityIndicatorView::create(UIActivityIndicatorViewStyleGray);
    EXPECT_EQ(small->intrinsicContentSize(), CGSizeMake(20, 20));
    EXPECT_TRUE(UIColor::isEqual(small->color(), UIColor::grayColor()));

    EXPECT_TRUE(small->isHidden());
    small->startAnimating();
    EXPECT_TRUE(small->isAnimating());
    EXPECT_FALSE(small->isHidden());
    small->stopAnimating();
    EXPECT_TRUE(small->isHidden());
    small->setHidesWhenStopped(false);
    EXPECT_FALSE(small->isHidden());
}

} // namespace
