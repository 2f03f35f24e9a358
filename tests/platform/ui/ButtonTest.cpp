#include "platform/graphics/Bitmap.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

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

TEST_F(ButtonTest, OverriddenRectanglesPlaceTitleAndImage) {
    auto button = std::make_shared<ArrowButton>(CGRectMake(30, 40, 100, 20));
    button->setTitle("直播分类：", UIControlStateNormal);
    button->setImage(solidImage(6, 3, UIColor::whiteColor()), UIControlStateNormal);
    button->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(button->titleLabel()->frame(), CGRectMake(0, 0, 94, 20)));
    EXPECT_TRUE(CGRectEqualToRect(button->imageView()->frame(), CGRectMake(94, 8.5, 6, 3)));
}

TEST_F(ButtonTest, SizeToFitWrapsImageTitleAndContentInsets) {
    auto button = UIButton::create();
    button->setImage(solidImage(20, 10, UIColor::blueColor()), UIControlStateNormal);
    button->setContentEdgeInsets(UIEdgeInsetsMake(2, 3, 4, 5));
    button->sizeToFit();
    EXPECT_DOUBLE_EQ(button->frame().size.width, 28);
    EXPECT_DOUBLE_EQ(button->frame().size.height, 16);
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

} // namespace
