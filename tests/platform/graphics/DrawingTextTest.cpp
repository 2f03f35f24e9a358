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
    int count{0}, inColour{0};
    int minX{1 << 30}, maxX{-1}, minY{1 << 30}, maxY{-1};
};

// Pixels with any coverage, their bounds, and how many of them are (nearly) solid in the colour.
Ink inkOf(const CGImageRef& image, Pixel colour = {0, 0, 0, 1}) {
    Ink ink;
    for (int y = 0; y < image->height(); ++y)
        for (int x = 0; x < image->width(); ++x)
            if ((image->pixelAt(x, y) >> 24) > 0x20) {
                ++ink.count;
                ink.inColour += near(pixelAt(image, x, y), colour, 0.05) ? 1 : 0;
                ink.minX = std::min(ink.minX, x), ink.maxX = std::max(ink.maxX, x);
                ink.minY = std::min(ink.minY, y), ink.maxY = std::max(ink.maxY, y);
            }
    return ink;
}

} // namespace

TEST(DrawingText, TextRendersInItsColourWithinItsBoxBlackByDefaultAndScales) {
    auto font = UIFont::systemFontOfSize(20);
    NSAttributes attributes{{NSFontAttributeName, Value(font)},
                            {NSForegroundColorAttributeName, Value(UIColor::redColor())}};
    CGSize size = sizeWithAttributes("直播", attributes);
    CGImageRef image = drawnImage(CGSizeMake(80, 40),
                                  [&](CGContextRef) { drawAtPoint("直播", CGPointMake(5, 5), attributes); });
    Ink ink = inkOf(image, kRed);
    ASSERT_GT(ink.count, 40);
    EXPECT_TRUE(ink.minX >= 5 && ink.minY >= 5 && ink.maxX <= 5 + size.width + 1 &&
                ink.maxY <= 5 + size.height + 1)
        << ink.minX << "," << ink.minY << " " << ink.maxX << "," << ink.maxY;
    EXPECT_GT(ink.inColour, 10) << "solid parts of the glyphs carry the colour";

    // Text without a colour is black and scales with the context.
    auto latin = UIFont::systemFontOfSize(12);
    auto draw = [&](CGContextRef) {
        drawAtPoint("Live", CGPointZero, {{NSFontAttributeName, Value(latin)}});
    };
    auto once = drawnImage(CGSizeMake(60, 20), draw), twice = drawnImage(CGSizeMake(60, 20), draw, 2);
    Ink a = inkOf(once), b = inkOf(twice);
    ASSERT_GT(a.count, 0);
    EXPECT_NEAR(double(b.count) / a.count, 4, 1.2) << "twice the scale, four times the pixels";
    EXPECT_GT(b.inColour, 0) << "solid parts are black";
}

TEST(DrawingText, DrawInRectWrapsAlignsAndStopsAtTheLastWholeLineAndRunsKeepTheirColours) {
    auto font = UIFont::systemFontOfSize(10);
    auto centred = NSParagraphStyle::defaultParagraphStyle()->mutableCopy();
    centred->setAlignment(NSTextAlignmentCenter);
    NSAttributes attributes{{NSFontAttributeName, Value(font)},
                            {NSParagraphStyleAttributeName, Value(centred)}};

    Ink ink = inkOf(drawnImage(
        CGSizeMake(100, 20), [&](CGContextRef) { drawInRect("ab", CGRectMake(0, 0, 100, 20), attributes); }));
    ASSERT_GT(ink.count, 0);
    EXPECT_NEAR(ink.minX, 99 - ink.maxX, 2) << "centred";

    std::string longText = "one two three four five six seven eight nine ten eleven twelve";
    double line = font->lineHeight();
    auto clipped = drawnImage(CGSizeMake(60, 100), [&](CGContextRef) {
        drawInRect(longText, CGRectMake(0, 0, 60, 2.5 * line), {{NSFontAttributeName, Value(font)}});
    });
    Ink lines = inkOf(clipped);
    EXPECT_TRUE(lines.maxY > line && lines.maxY <= 2 * line + 1) << "two of three lines fit: " << lines.maxY;
    EXPECT_LE(lines.maxX, 60);

    // Attributed runs draw in their own colours.
    auto squares = UIFont::systemFontOfSize(16);
    NSMutableAttributedString text("■■", {{NSFontAttributeName, Value(squares)},
                                          {NSForegroundColorAttributeName, Value(UIColor::redColor())}});
    text.addAttribute(NSForegroundColorAttributeName, Value(UIColor::blueColor()), {1, 1});
    auto runs = drawnImage(CGSizeMake(60, 30), [&](CGContextRef) { text.drawAtPoint(CGPointZero); });
    EXPECT_GT(inkOf(runs, kRed).inColour, 0);
    EXPECT_GT(inkOf(runs, kBlue).inColour, 0);
}
