#include "DrawingTestSupport.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/GraphicsContextText.h"
#include "platform/graphics/ParagraphStyle.h"
#include "platform/graphics/TextMeasure.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace graphics_test;

namespace {

struct Ink {
    int count{0};
    int minX{1 << 30}, maxX{-1}, minY{1 << 30}, maxY{-1};
};

// Pixels with any coverage, and their bounds.
Ink inkOf(const CGImageRef& image) {
    Ink ink;
    for (int y = 0; y < image->height(); ++y)
        for (int x = 0; x < image->width(); ++x)
            if ((image->pixelAt(x, y) >> 24) > 0x20) {
                ++ink.count;
                ink.minX = std::min(ink.minX, x), ink.maxX = std::max(ink.maxX, x);
                ink.minY = std::min(ink.minY, y), ink.maxY = std::max(ink.maxY, y);
            }
    return ink;
}

UIImagePtr render(CGSize size, const std::function<void()>& draw, double scale = 1) {
    UIGraphicsBeginImageContextWithOptions(size, false, scale);
    draw();
    UIImagePtr image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

} // namespace

TEST(DrawingText, ChineseTextRendersInItsColourWithinItsMeasuredBox) {
    auto font = UIFont::systemFontOfSize(20);
    NSAttributes attributes{{NSFontAttributeName, Value(font)},
                            {NSForegroundColorAttributeName, Value(UIColor::redColor())}};
    CGSize size = sizeWithAttributes("直播", attributes);
    UIImagePtr image =
        render(CGSizeMake(80, 40), [&] { drawAtPoint("直播", CGPointMake(5, 5), attributes); });
    Ink ink = inkOf(image->CGImage());
    ASSERT_GT(ink.count, 40);
    EXPECT_TRUE(ink.minX >= 5 && ink.minY >= 5 && ink.maxX <= 5 + size.width + 1 &&
                ink.maxY <= 5 + size.height + 1)
        << ink.minX << "," << ink.minY << " " << ink.maxX << "," << ink.maxY;
    // Solid parts of the glyphs carry the colour.
    int red = 0;
    for (int y = ink.minY; y <= ink.maxY; ++y)
        for (int x = ink.minX; x <= ink.maxX; ++x)
            if (near(pixelAt(image->CGImage(), x, y), kRed, 0.02))
                ++red;
    EXPECT_GT(red, 10);
}

TEST(DrawingText, TextWithoutAColourIsBlackAndScalesWithTheContext) {
    auto font = UIFont::systemFontOfSize(12);
    auto draw = [&] { drawAtPoint("Live", CGPointZero, {{NSFontAttributeName, Value(font)}}); };
    auto once = render(CGSizeMake(60, 20), draw), twice = render(CGSizeMake(60, 20), draw, 2);
    Ink a = inkOf(once->CGImage()), b = inkOf(twice->CGImage());
    ASSERT_GT(a.count, 0);
    EXPECT_NEAR(double(b.count) / a.count, 4, 1.2) << "twice the scale, four times the pixels";
    EXPECT_NEAR(b.maxX - b.minX, 2 * (a.maxX - a.minX), 3);
    Pixel darkest{1, 1, 1, 0};
    for (int y = a.minY; y <= a.maxY; ++y)
        for (int x = a.minX; x <= a.maxX; ++x) {
            Pixel p = pixelAt(once->CGImage(), x, y);
            if (p.a > darkest.a)
                darkest = p;
        }
    EXPECT_TRUE(near(darkest, {0, 0, 0, darkest.a}));
}

TEST(DrawingText, DrawInRectWrapsAlignsAndStopsAtTheLastWholeLine) {
    auto font = UIFont::systemFontOfSize(10);
    auto centred = NSParagraphStyle::defaultParagraphStyle()->mutableCopy();
    centred->setAlignment(NSTextAlignmentCenter);
    NSAttributes attributes{{NSFontAttributeName, Value(font)},
                            {NSParagraphStyleAttributeName, Value(centred)}};

    Ink ink = inkOf(render(CGSizeMake(100, 20), [&] {
                        drawInRect("ab", CGRectMake(0, 0, 100, 20), attributes);
                    })->CGImage());
    ASSERT_GT(ink.count, 0);
    EXPECT_NEAR(ink.minX, 99 - ink.maxX, 2) << "centred";

    std::string longText = "one two three four five six seven eight nine ten eleven twelve";
    double line = font->lineHeight();
    auto clipped = render(CGSizeMake(60, 100), [&] {
        drawInRect(longText, CGRectMake(0, 0, 60, 2.5 * line), {{NSFontAttributeName, Value(font)}});
    });
    Ink lines = inkOf(clipped->CGImage());
    EXPECT_TRUE(lines.maxY > line && lines.maxY <= 2 * line + 1) << "two of three lines fit: " << lines.maxY;
    EXPECT_LE(lines.maxX, 60);
}

TEST(DrawingText, AttributedRunsDrawInTheirOwnColours) {
    auto font = UIFont::systemFontOfSize(16);
    NSMutableAttributedString text("■■", {{NSFontAttributeName, Value(font)},
                                          {NSForegroundColorAttributeName, Value(UIColor::redColor())}});
    text.addAttribute(NSForegroundColorAttributeName, Value(UIColor::blueColor()), {1, 1});
    CGSize size = text.size();
    auto image = render(CGSizeMake(60, 30), [&] { text.drawAtPoint(CGPointZero); });
    int y = int(size.height / 2);
    bool sawRed = false, sawBlue = false;
    for (int x = 0; x < int(size.width); ++x) {
        Pixel p = pixelAt(image->CGImage(), x, y);
        sawRed = sawRed || near(p, kRed, 0.05);
        sawBlue = sawBlue || near(p, kBlue, 0.05);
    }
    EXPECT_TRUE(sawRed && sawBlue);
}
