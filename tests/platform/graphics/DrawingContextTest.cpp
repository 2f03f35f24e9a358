#include "DrawingTestSupport.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace platform;
using namespace graphics_test;

TEST(DrawingImageContext, PixelSizeFollowsScaleUnusableSizesBalanceAndOpaqueStartsBlack) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10.5, 4), false, 2);
    CGContextRef context = UIGraphicsGetCurrentContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->width(), 21u);
    EXPECT_EQ(context->height(), 8u);
    UIImagePtr image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->scale(), 2);
    EXPECT_EQ(image->size(), CGSizeMake(10.5, 4));
    EXPECT_EQ(image->CGImage()->alphaInfo(), kCGImageAlphaPremultipliedFirst);
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);

    UIGraphicsBeginImageContextWithOptions(CGSizeMake(3, 3), false, 0);
    EXPECT_DOUBLE_EQ(UIGraphicsGetCurrentContext()->scale(), UIImage::screenScale())
        << "scale 0 is the screen's";
    UIGraphicsEndImageContext();

    // Unusable sizes still balance begin and end.
    UIGraphicsBeginImageContext(CGSizeMake(5, 5));
    CGContextRef outer = UIGraphicsGetCurrentContext();
    UIGraphicsBeginImageContext(CGSizeMake(0, 5));
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);
    UIRectFill(CGRectMake(0, 0, 5, 5)); // harmless without a context
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), outer);
    UIGraphicsEndImageContext();
    EXPECT_EQ(CGContext::createImageContext(CGSizeMake(1e6, 1e6), false, 1), nullptr);
    EXPECT_EQ(CGContext::createImageContext(CGSizeMake(NAN, 4), false, 1), nullptr);

    // Opaque contexts start black and give opaque images.
    auto opaque = CGContext::createImageContext(CGSizeMake(2, 2), true, 1);
    opaque->setRGBFillColor(0, 1, 0, 0.5);
    opaque->fillRect(CGRectMake(0, 0, 1, 1));
    EXPECT_FALSE(opaque->makeImage()->hasAlpha());
    expectPixels(opaque->makeImage(), {{1, 1, {0, 0, 0, 1}}, {0, 0, {0, 0.5, 0, 1}}});
}

TEST(DrawingFill, RectanglesPathsStateAndTheCTM) {
    auto context = canvas(4, 4);
    CGContextSetFillColorWithColor(context, UIColor::redColor()->CGColor());
    CGContextFillRect(context, CGRectMake(1, 1, 2, 2));
    CGContextClearRect(context, CGRectMake(2, 1, 1, 1));
    expectPixels(context->makeImage(),
                 {{1, 1, kRed}, {2, 2, kRed}, {2, 1, kClear}, {0, 0, kClear}, {3, 3, kClear}});

    auto doubled = canvas(2, 2, 2);
    doubled->setFillColorWithColor(UIColor::blueColor()->CGColor());
    doubled->fillRect(CGRectMake(1, 0, 1, 1));
    expectPixels(doubled->makeImage(), {{2, 0, kBlue}, {3, 1, kBlue}, {1, 1, kClear}, {2, 2, kClear}});

    // Filling a rectangle leaves the current path alone; stroking consumes it.
    auto path = canvas(4, 4);
    path->moveToPoint(0, 0);
    path->addLineToPoint(4, 0);
    path->fillRect(CGRectMake(0, 0, 1, 1));
    EXPECT_FALSE(path->isPathEmpty());
    EXPECT_EQ(path->getPathCurrentPoint(), CGPointMake(4, 0));
    path->strokePath();
    EXPECT_TRUE(path->isPathEmpty());

    // Save and restore keep colour, transform, clip and blend mode.
    auto state = canvas(6, 6);
    state->setFillColorWithColor(UIColor::redColor()->CGColor());
    state->saveGState();
    state->setFillColorWithColor(UIColor::blueColor()->CGColor());
    state->translateCTM(3, 3);
    state->clipToRect(CGRectMake(0, 0, 1, 1));
    state->scaleCTM(0, 1);
    state->fillRect(CGRectMake(0, 0, 2, 2));
    expectPixels(state->makeImage(), {{3, 3, kClear}}); // a singular transform draws nothing
    state->setBlendMode(kCGBlendModeClear);
    state->restoreGState();
    state->restoreGState(); // unbalanced: ignored
    EXPECT_EQ(state->blendMode(), kCGBlendModeNormal);
    state->fillRect(CGRectMake(0, 0, 2, 2));
    expectPixels(state->makeImage(), {{1, 1, kRed}, {4, 4, kClear}});

    auto scaled = canvas(10, 10, 3);
    scaled->translateCTM(1, 2);
    EXPECT_EQ(CGPointApplyAffineTransform(CGPointMake(1, 1), scaled->getCTM()), CGPointMake(6, 9));
    auto bitmap = CGBitmapContextCreate(nullptr, 10, 10, 8, 0, CGColorSpaceCreateDeviceRGB(),
                                        kCGImageAlphaPremultipliedFirst);
    EXPECT_DOUBLE_EQ(CGPointApplyAffineTransform(CGPointMake(0, 0), bitmap->getCTM()).y, 10)
        << "bitmap contexts have their origin at the bottom left";
}
