#include "platform/graphics/Bitmap.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIControl.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UISlider.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

class ControlTest : public UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        control = std::make_shared<UIControl>(CGRectMake(50, 50, 100, 40));
        window->addSubview(control);
    }
    UIControlPtr control;
};

class Target : public Object {
public:
    void pressed() { events.push_back("pressed"); }
    void pressedBy(UIControl* sender) { events.push_back(sender ? "sender" : "null"); }
    void down(UIControl*, UIEvent* event) { events.push_back(event ? "down+event" : "down"); }
    Strings events;
};

TEST_F(ControlTest, TapSendsTouchDownThenTouchUpInsideToTheirTargets) {
    auto target = std::make_shared<Target>();
    control->addTarget(target, selector("down:forEvent:", &Target::down), UIControlEventTouchDown);
    control->addTarget(target, selector("pressed", &Target::pressed), UIControlEventTouchUpInside);
    control->addTarget(target, selector("pressedBy:", &Target::pressedBy), UIControlEventTouchUpInside);
    tap(CGPointMake(60, 60));
    EXPECT_EQ(target->events, (Strings{"down+event", "pressed", "sender"}));
    EXPECT_FALSE(control->isHighlighted());
}

TEST_F(ControlTest, HighlightedWhileTheFingerIsDownAndStatesCombine) {
    TouchSimulator sim(window);
    sim.begin({CGPointMake(60, 60)});
    EXPECT_EQ(control->state(), uint64_t(UIControlStateHighlighted));
    sim.end();
    EXPECT_FALSE(control->isHighlighted());
    control->setSelected(true);
    control->setHighlighted(true);
    EXPECT_EQ(control->state(), uint64_t(UIControlStateSelected | UIControlStateHighlighted));
}

TEST_F(ControlTest, LiftingFarOutsideSendsTouchUpOutside) {
    Strings events;
    control->addTarget(nullptr, selector("in", [&](Object*, Object*, UIEvent*) { events.push_back("in"); }),
                       UIControlEventTouchUpInside);
    control->addTarget(nullptr, selector("out", [&](Object*, Object*, UIEvent*) { events.push_back("out"); }),
                       UIControlEventTouchUpOutside);
    TouchSimulator sim(window);
    sim.begin({CGPointMake(60, 60)});
    sim.move({CGPointMake(120, 100)}); // within the slop
    sim.end();
    sim.begin({CGPointMake(60, 60)});
    sim.move({CGPointMake(300, 400)});
    sim.end();
    EXPECT_EQ(events, (Strings{"in", "out"}));
}

TEST_F(ControlTest, DisabledControlSendsNothingAndAGoneTargetIsSkipped) {
    int count = 0;
    auto target = std::make_shared<Target>();
    control->addTarget(target, selector("pressed", &Target::pressed), UIControlEventValueChanged);
    control->addTarget(nullptr, selector("x", [&](Object*, Object*, UIEvent*) { ++count; }),
                       UIControlEventAllTouchEvents | UIControlEventValueChanged);
    control->setEnabled(false);
    tap(CGPointMake(60, 60));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(control->state(), uint64_t(UIControlStateDisabled));
    target.reset();
    control->sendActionsForControlEvents(UIControlEventValueChanged);
    EXPECT_EQ(count, 1);
}

TEST_F(ControlTest, AddingTheSamePairTwiceSendsOnceAndRemovalIsPerEvent) {
    auto target = std::make_shared<Target>();
    control->addTarget(target, selector("pressed", &Target::pressed), UIControlEventValueChanged);
    control->addTarget(target, selector("pressed", &Target::pressed),
                       UIControlEventValueChanged | UIControlEventEditingChanged);
    control->sendActionsForControlEvents(UIControlEventValueChanged);
    EXPECT_EQ(target->events.size(), 1u);
    EXPECT_EQ(control->allControlEvents(),
              uint64_t(UIControlEventValueChanged | UIControlEventEditingChanged));
    EXPECT_EQ(control->actionsForTarget(target.get(), UIControlEventEditingChanged), (Strings{"pressed"}));

    control->removeTarget(target.get(), "pressed", UIControlEventValueChanged);
    control->sendActionsForControlEvents(UIControlEventValueChanged);
    EXPECT_EQ(target->events.size(), 1u);
    EXPECT_EQ(control->allTargets().size(), 1u);
    control->removeTarget(nullptr, "", UIControlEventAllEvents);
    EXPECT_TRUE(control->allTargets().empty());
}

class ButtonTest : public UIFixture {};

UIImagePtr solidImage(double width, double height, UIColorPtr color) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(width, height), false, 1);
    color->setFill();
    UIRectFill(CGRectMake(0, 0, width, height));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

TEST_F(ButtonTest, LooksFallBackToTheNormalState) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setTitle("开始直播", UIControlStateNormal);
    button->setTitle("停止", UIControlStateSelected);
    button->setTitleColor(UIColor::redColor(), UIControlStateHighlighted);
    EXPECT_EQ(button->titleForState(UIControlStateHighlighted), std::optional<std::string>("开始直播"));
    EXPECT_EQ(button->currentTitle(), std::optional<std::string>("开始直播"));
    button->setSelected(true);
    EXPECT_EQ(button->currentTitle(), std::optional<std::string>("停止"));
    EXPECT_EQ(button->titleLabel()->text(), "停止");
    EXPECT_TRUE(UIColor::isEqual(button->titleColorForState(UIControlStateNormal), UIColor::whiteColor()));
    button->setSelected(false);
    button->setHighlighted(true);
    EXPECT_TRUE(UIColor::isEqual(button->currentTitleColor(), UIColor::redColor()));
    EXPECT_TRUE(UIColor::isEqual(button->titleLabel()->textColor(), UIColor::redColor()));

    auto system = UIButton::buttonWithType(UIButtonTypeSystem);
    system->setTintColor(UIColor::orangeColor());
    system->setTitle("OK", UIControlStateNormal);
    EXPECT_TRUE(UIColor::isEqual(system->currentTitleColor(), UIColor::orangeColor()));
}

TEST_F(ButtonTest, SubviewsAreInTheTreeOnlyWithContentInOrder) {
    auto button = UIButton::create(CGRectMake(0, 0, 100, 40));
    EXPECT_TRUE(button->subviews().empty());
    button->setTitle("A", UIControlStateNormal);
    button->setImage(solidImage(10, 10, UIColor::blueColor()), UIControlStateNormal);
    button->setBackgroundImage(solidImage(1, 1, UIColor::greenColor()), UIControlStateNormal);
    ASSERT_EQ(button->subviews().size(), 3u);
    EXPECT_TRUE(std::dynamic_pointer_cast<UIImageView>(button->subviews()[0]));
    EXPECT_EQ(button->subviews()[1], button->imageView());
    EXPECT_EQ(button->subviews()[2], button->titleLabel());
    button->setTitle(std::nullopt, UIControlStateNormal);
    EXPECT_EQ(button->subviews().size(), 2u);
}

TEST_F(ButtonTest, ImageAndTitleAreCentredSideBySide) {
    auto button = UIButton::create(CGRectMake(0, 0, 200, 40));
    button->setImage(solidImage(20, 20, UIColor::blueColor()), UIControlStateNormal);
    button->setTitle("Go", UIControlStateNormal);
    button->layoutIfNeeded();
    CGRect image = button->imageView()->frame();
    CGRect title = button->titleLabel()->frame();
    EXPECT_DOUBLE_EQ(image.size.width, 20);
    EXPECT_DOUBLE_EQ(image.origin.y, 10);
    EXPECT_DOUBLE_EQ(CGRectGetMaxX(image), title.origin.x);
    EXPECT_NEAR(image.origin.x - 0, 200 - CGRectGetMaxX(title), 1e-9);
    button->setTitleEdgeInsets(UIEdgeInsetsMake(0, 20, 0, 0));
    button->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(button->titleLabel()->frame().origin.x, title.origin.x + 10);
}

class ArrowButton : public UIButton {
public:
    using UIButton::UIButton;
    CGRect titleRectForContentRect(CGRect content) override {
        return CGRectMake(0, 0, content.size.width - 6, content.size.height);
    }
    CGRect imageRectForContentRect(CGRect content) override {
        return CGRectMake(content.size.width - 6, (content.size.height - 3) / 2, 6, 3);
    }
};

TEST_F(ButtonTest, OverriddenRectanglesPlaceTitleAndImageAndSizeToFitWrapsContentAndInsets) {
    auto button = std::make_shared<ArrowButton>(CGRectMake(30, 40, 100, 20));
    button->setTitle("直播分类：", UIControlStateNormal);
    button->setImage(solidImage(6, 3, UIColor::whiteColor()), UIControlStateNormal);
    button->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(button->titleLabel()->frame(), CGRectMake(0, 0, 94, 20)));
    EXPECT_TRUE(CGRectEqualToRect(button->imageView()->frame(), CGRectMake(94, 8.5, 6, 3)));
    auto fitted = UIButton::create();
    fitted->setImage(solidImage(20, 10, UIColor::blueColor()), UIControlStateNormal);
    fitted->setContentEdgeInsets(UIEdgeInsetsMake(2, 3, 4, 5));
    fitted->sizeToFit();
    EXPECT_EQ(fitted->frame().size, CGSizeMake(28, 16));
}

TEST_F(ButtonTest, TapSendsTouchUpInsideAndTheBackgroundFollowsTheState) {
    auto button = UIButton::create(CGRectMake(10, 10, 80, 40));
    button->setBackgroundImage(solidImage(1, 1, UIColor::greenColor()), UIControlStateNormal);
    button->setBackgroundImage(solidImage(1, 1, UIColor::redColor()), UIControlStateSelected);
    window->addSubview(button);
    EXPECT_TRUE(colorNear(pixelAt(render(), 50, 30), kGreen));
    button->setSelected(true);
    EXPECT_TRUE(colorNear(pixelAt(render(), 50, 30), kRed));

    int pressed = 0;
    button->addTarget(nullptr, selector("p", [&](Object*, Object*, UIEvent*) { ++pressed; }),
                      UIControlEventTouchUpInside);
    button->setTitle("Tap", UIControlStateNormal);
    tap(CGPointMake(50, 30)); // on the title label, which does not take touches itself
    EXPECT_EQ(pressed, 1);
}

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

TEST_F(SliderTest, DraggingTheThumbSendsValueChangedOnEveryMoveAndPastTheEndsClamps) {
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
    slider->setMaximumValue(1);
    slider->setValue(0);
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
