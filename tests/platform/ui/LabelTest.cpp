#include "platform/graphics/TextMeasure.h"
#include "platform/ui/UILabel.h"
#include "tests/support/UIFixture.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace platform;

namespace {

class LabelTest : public liveapp::test::UIFixture {};

TEST_F(LabelTest, OneLineSizeIsTheMeasuredTextRoundedUp) {
    auto label = UILabel::create();
    label->setFont(UIFont::systemFontOfSize(17));
    label->setText("主播正在直播");
    NSAttributes attributes;
    attributes.set(NSFontAttributeName, Value(UIFont::systemFontOfSize(17)));
    CGSize measured = sizeWithAttributes("主播正在直播", attributes);
    CGSize size = label->sizeThatFits(CGSizeMake(10, 10));
    EXPECT_EQ(size.width, std::ceil(measured.width));
    EXPECT_EQ(size.height, std::ceil(measured.height));
    // Six CJK glyphs at 17 points are each about one em wide.
    EXPECT_GT(size.width, 6 * 17 * 0.9);
    EXPECT_LT(size.width, 6 * 17 * 1.1);
}

TEST_F(LabelTest, MultilineWrapsAtTheOfferedWidthAndCapsTheLines) {
    auto label = UILabel::create();
    label->setFont(UIFont::systemFontOfSize(20));
    label->setText("今天的直播内容非常精彩欢迎大家来到直播间一起聊天");
    CGSize oneLine = label->sizeThatFits(CGSizeMake(100, 1000));

    label->setNumberOfLines(0);
    CGSize wrapped = label->sizeThatFits(CGSizeMake(100, 1000));
    EXPECT_LE(wrapped.width, 100);
    EXPECT_GE(wrapped.height, 4 * oneLine.height - 4);

    label->setNumberOfLines(2);
    CGSize twoLines = label->sizeThatFits(CGSizeMake(100, 1000));
    EXPECT_LT(twoLines.height, 2.5 * oneLine.height);
    EXPECT_GT(twoLines.height, 1.5 * oneLine.height);
}

TEST_F(LabelTest, SizeToFitTakesTheTextsSize) {
    auto label = UILabel::create(CGRectMake(5, 5, 0, 0));
    label->setText("Hello 你好");
    label->sizeToFit();
    EXPECT_EQ(label->frame().origin, CGPointMake(5, 5));
    EXPECT_EQ(label->frame().size, label->sizeThatFits(CGSizeZero));
    EXPECT_GT(label->frame().size.width, 0);
}

TEST_F(LabelTest, EmptyTextHasNoSize) {
    auto label = UILabel::create();
    EXPECT_EQ(label->sizeThatFits(CGSizeMake(100, 100)), CGSizeZero);
}

TEST_F(LabelTest, AttributedTextReplacesTheLabelsOwnAttributes) {
    auto label = UILabel::create();
    label->setText("plain");
    label->setFont(UIFont::systemFontOfSize(12));
    CGSize small = label->sizeThatFits(CGSizeZero);
    NSAttributes big;
    big.set(NSFontAttributeName, Value(UIFont::systemFontOfSize(30)));
    label->setAttributedText(std::make_shared<NSAttributedString>("plain", big));
    EXPECT_EQ(label->text(), "plain");
    EXPECT_GT(label->sizeThatFits(CGSizeZero).width, 2 * small.width);
    label->setText("plain");
    EXPECT_EQ(label->sizeThatFits(CGSizeZero), small);
}

TEST_F(LabelTest, AttributedTextCarriesFontColourAndAlignment) {
    auto label = UILabel::create();
    label->setText("abc");
    label->setTextColor(UIColor::redColor());
    label->setTextAlignment(NSTextAlignmentCenter);
    auto text = label->attributedText();
    auto attributes = text->attributesAtIndex(0, nullptr);
    auto colour = std::dynamic_pointer_cast<UIColor>(attributes.get(NSForegroundColorAttributeName).object());
    ASSERT_NE(colour, nullptr);
    EXPECT_TRUE(colour->isEqual(*UIColor::redColor()));
    auto style =
        std::dynamic_pointer_cast<NSParagraphStyle>(attributes.get(NSParagraphStyleAttributeName).object());
    ASSERT_NE(style, nullptr);
    EXPECT_EQ(style->alignment(), NSTextAlignmentCenter);
    EXPECT_EQ(style->lineBreakMode(), NSLineBreakByTruncatingTail);
    EXPECT_FALSE(label->isUserInteractionEnabled());
}

TEST_F(LabelTest, CentredTextIsDrawnInTheMiddle) {
    window->setBackgroundColor(UIColor::whiteColor());
    auto label = UILabel::create(CGRectMake(0, 0, 375, 100));
    label->setText("中");
    label->setFont(UIFont::systemFontOfSize(40));
    label->setTextAlignment(NSTextAlignmentCenter);
    window->addSubview(label);
    auto image = render();
    auto bitmap = image->CGImage();
    int minX = 10000, maxX = -1, minY = 10000, maxY = -1;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 750; ++x)
            if (bitmap->colorAt(x, y).r < 128) {
                minX = std::min(minX, x), maxX = std::max(maxX, x);
                minY = std::min(minY, y), maxY = std::max(maxY, y);
            }
    ASSERT_GE(maxX, 0);
    EXPECT_NEAR((minX + maxX) / 2.0, 375, 12);
    EXPECT_NEAR((minY + maxY) / 2.0, 100, 16);
}

} // namespace
