#include "DrawingTestSupport.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace platform;
using namespace graphics_test;

namespace {

// Fills the whole 2 x 2 canvas with the destination colour, then the top-left pixel with the source colour in
// the blend mode, and returns (top-left, bottom-right).
std::pair<Pixel, Pixel> blend(Pixel destination, Pixel source, CGBlendMode mode) {
    auto context = CGContext::createImageContext(CGSizeMake(2, 2), false, 1);
    context->setRGBFillColor(destination.r, destination.g, destination.b, destination.a);
    context->fillRect(CGRectMake(0, 0, 2, 2));
    context->setBlendMode(mode);
    context->setRGBFillColor(source.r, source.g, source.b, source.a);
    context->fillRect(CGRectMake(0, 0, 1, 1));
    CGImageRef image = context->makeImage();
    return {pixelAt(image, 0, 0), pixelAt(image, 1, 1)};
}

double overlay(double s, double d) {
    return d <= 0.5 ? 2 * s * d : 1 - 2 * (1 - s) * (1 - d);
}

} // namespace

TEST(DrawingBlend, SeparableModesFollowTheirFormulasOnOpaquePixels) {
    Pixel d{0.4, 0.8, 0.2, 1};
    Pixel s{0.5, 0.25, 1, 1};
    struct Case {
        CGBlendMode mode;
        std::function<double(double, double)> f;
    } cases[] = {
        {kCGBlendModeNormal, [](double s, double) { return s; }},
        {kCGBlendModeMultiply, [](double s, double d) { return s * d; }},
        {kCGBlendModeScreen, [](double s, double d) { return s + d - s * d; }},
        {kCGBlendModeOverlay, overlay},
        {kCGBlendModeDarken, [](double s, double d) { return std::min(s, d); }},
        {kCGBlendModeLighten, [](double s, double d) { return std::max(s, d); }},
        {kCGBlendModeDifference, [](double s, double d) { return std::fabs(s - d); }},
        {kCGBlendModeExclusion, [](double s, double d) { return s + d - 2 * s * d; }},
        {kCGBlendModePlusLighter, [](double s, double d) { return std::min(1.0, s + d); }},
    };
    for (const auto& c : cases) {
        auto [blended, untouched] = blend(d, s, c.mode);
        EXPECT_TRUE(near(blended, {c.f(s.r, d.r), c.f(s.g, d.g), c.f(s.b, d.b), 1})) << "mode " << c.mode;
        EXPECT_TRUE(near(untouched, d)) << "mode " << c.mode;
    }
}

TEST(DrawingBlend, PorterDuffModesStayInsideTheDrawnShape) {
    Pixel d = kRed;
    Pixel s{0, 0, 1, 0.5};
    struct Case {
        CGBlendMode mode;
        Pixel expected;
    } cases[] = {
        {kCGBlendModeCopy, {0, 0, 1, 0.5}},          {kCGBlendModeClear, kClear},
        {kCGBlendModeDestinationIn, {1, 0, 0, 0.5}}, {kCGBlendModeDestinationOut, {1, 0, 0, 0.5}},
        {kCGBlendModeSourceAtop, {0.5, 0, 0.5, 1}},  {kCGBlendModeDestinationOver, kRed},
        {kCGBlendModeSourceIn, {0, 0, 1, 0.5}},      {kCGBlendModeXOR, {1, 0, 0, 0.5}},
    };
    for (const auto& c : cases) {
        auto [blended, untouched] = blend(d, s, c.mode);
        EXPECT_TRUE(near(blended, c.expected)) << "mode " << c.mode;
        EXPECT_TRUE(near(untouched, d)) << "mode " << c.mode << " reached outside the shape";
    }
}

TEST(DrawingBlend, SourceAtopAndDestinationInRespectTransparentDestinations) {
    auto [atop, ignored1] = blend(kClear, kBlue, kCGBlendModeSourceAtop);
    EXPECT_TRUE(near(atop, kClear));
    auto [in, ignored2] = blend(kClear, kBlue, kCGBlendModeDestinationIn);
    EXPECT_TRUE(near(in, kClear));
}

TEST(DrawingImages, CGDrawImageIsFlippedWhileUIImageDrawingIsUpright) {
    CGImageRef redOverBlue = bitmapOf(1, 2, {0xFF0000FF, 0x0000FFFF});
    auto image = UIImage::imageWithCGImage(redOverBlue);

    UIGraphicsBeginImageContext(CGSizeMake(1, 2));
    CGContextRef context = UIGraphicsGetCurrentContext();
    CGContextDrawImage(context, CGRectMake(0, 0, 1, 2), redOverBlue);
    CGImageRef flipped = context->makeImage();
    drawInRect(image, CGRectMake(0, 0, 1, 2));
    CGImageRef upright = context->makeImage();
    // The image helpers flip the context first, and then the platform call comes out upright.
    context->clearRect(CGRectMake(0, 0, 1, 2));
    CGContextTranslateCTM(context, 0, 2);
    CGContextScaleCTM(context, 1, -1);
    CGContextDrawImage(context, CGRectMake(0, 0, 1, 2), redOverBlue);
    CGImageRef flippedTwice = context->makeImage();
    UIGraphicsEndImageContext();

    EXPECT_TRUE(near(pixelAt(flipped, 0, 0), kBlue));
    EXPECT_TRUE(near(pixelAt(upright, 0, 0), kRed));
    EXPECT_TRUE(near(pixelAt(upright, 0, 1), kBlue));
    EXPECT_TRUE(near(pixelAt(flippedTwice, 0, 0), kRed));

    // In a bitmap context y goes up, so the same call puts the first row first in memory.
    auto bitmap = CGBitmapContextCreate(nullptr, 1, 2, 8, 4, CGColorSpaceCreateDeviceRGB(),
                                        kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little);
    CGContextDrawImage(bitmap, CGRectMake(0, 0, 1, 2), redOverBlue);
    EXPECT_TRUE(near(pixelAt(CGBitmapContextCreateImage(bitmap), 0, 0), kRed));
}

TEST(DrawingImages, OrientationTurnsThePictureWhenDrawn) {
    CGImageRef redThenBlue = bitmapOf(2, 1, {0xFF0000FF, 0x0000FFFF}); // red on the left
    struct Case {
        UIImageOrientation orientation;
        Pixel top, bottom;
    } cases[] = {
        {UIImageOrientationRight, kRed, kBlue},
        {UIImageOrientationLeft, kBlue, kRed},
    };
    for (const auto& c : cases) {
        auto image = UIImage::imageWithCGImage(redThenBlue, 1, c.orientation);
        ASSERT_EQ(image->size(), CGSizeMake(1, 2));
        UIGraphicsBeginImageContext(image->size());
        drawAtPoint(image, CGPointZero);
        UIImagePtr drawn = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        EXPECT_TRUE(near(pixelAt(drawn->CGImage(), 0, 0), c.top)) << c.orientation;
        EXPECT_TRUE(near(pixelAt(drawn->CGImage(), 0, 1), c.bottom)) << c.orientation;
    }
    auto down = UIImage::imageWithCGImage(redThenBlue, 1, UIImageOrientationDown);
    UIGraphicsBeginImageContext(CGSizeMake(2, 1));
    drawInRect(down, CGRectMake(0, 0, 2, 1));
    CGImageRef drawn = UIGraphicsGetCurrentContext()->makeImage();
    UIGraphicsEndImageContext();
    EXPECT_TRUE(near(pixelAt(drawn, 0, 0), kBlue));
}

TEST(DrawingImages, TintingWithDestinationInGivesASilhouette) {
    // The tint helper: fill with the colour, then draw the image in destination-in.
    CGImageRef shape = bitmapOf(2, 1, {0x00FF00FF, 0x00000000}); // opaque green, then transparent
    auto image = UIImage::imageWithCGImage(shape);
    UIGraphicsBeginImageContextWithOptions(image->size(), false, 1);
    UIColor::orangeColor()->setFill();
    UIRectFill(CGRectMake(0, 0, 2, 1));
    drawInRect(image, CGRectMake(0, 0, 2, 1), kCGBlendModeDestinationIn, 1);
    UIImagePtr tinted = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    EXPECT_TRUE(near(pixelAt(tinted->CGImage(), 0, 0), {1, 0.5, 0, 1}));
    EXPECT_TRUE(near(pixelAt(tinted->CGImage(), 1, 0), kClear));
}

TEST(DrawingImages, DrawInRectModeAndAlphaApplyToThatDrawingOnly) {
    CGImageRef white = bitmapOf(1, 1, {0xFFFFFFFF});
    UIGraphicsBeginImageContext(CGSizeMake(2, 1));
    CGContextRef context = UIGraphicsGetCurrentContext();
    context->setFillColorWithColor(UIColor::grayColor()->CGColor());
    context->fillRect(CGRectMake(0, 0, 2, 1));
    drawInRect(UIImage::imageWithCGImage(white), CGRectMake(0, 0, 1, 1), kCGBlendModeMultiply, 0.5);
    EXPECT_EQ(context->blendMode(), kCGBlendModeNormal);
    EXPECT_DOUBLE_EQ(context->alpha(), 1);
    CGImageRef result = context->makeImage();
    UIGraphicsEndImageContext();
    EXPECT_TRUE(near(pixelAt(result, 0, 0), {0.5, 0.5, 0.5, 1})) << "white multiplied changes nothing";
    EXPECT_TRUE(near(pixelAt(result, 1, 0), {0.5, 0.5, 0.5, 1}));
}

TEST(DrawingMask, ClipToMaskUsesAlphaAndIsFlippedLikeDrawImage) {
    CGImageRef topHalf = bitmapOf(1, 2, {0xFFFFFFFF, 0x00000000}); // opaque top row, clear bottom row
    for (bool flip : {false, true}) {
        auto context = CGContext::createImageContext(CGSizeMake(1, 2), false, 1);
        if (flip) {
            context->translateCTM(0, 2);
            context->scaleCTM(1, -1);
        }
        context->clipToMask(CGRectMake(0, 0, 1, 2), topHalf);
        context->setFillColorWithColor(UIColor::redColor()->CGColor());
        context->fillRect(CGRectMake(0, 0, 1, 2));
        CGImageRef image = context->makeImage();
        EXPECT_TRUE(near(pixelAt(image, 0, flip ? 0 : 1), kRed)) << flip;
        EXPECT_TRUE(near(pixelAt(image, 0, flip ? 1 : 0), kClear)) << flip;
    }
}

TEST(DrawingMask, GreyMasksShowWhiteAndHideBlack) {
    auto grey = CGBitmapContextCreate(nullptr, 1, 4, 8, 0, CGColorSpaceCreateDeviceGray(), kCGImageAlphaNone);
    ASSERT_NE(grey, nullptr);
    const double components[] = {0, 1, 1, 1};
    auto gradient =
        CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceGray(), components, nullptr, 2);
    // Black at the top edge (y = 4 in this y-up context), white at the bottom.
    CGContextDrawLinearGradient(grey, gradient, CGPointMake(0, 4), CGPointMake(0, 0),
                                kCGGradientDrawsAfterEndLocation);
    CGImageRef mask = CGBitmapContextCreateImage(grey);
    ASSERT_NE(mask, nullptr);
    EXPECT_FALSE(mask->hasAlpha());
    EXPECT_EQ(mask->colorSpaceModel(), kCGColorSpaceModelMonochrome);
    auto* bytes = static_cast<const uint8_t*>(CGBitmapContextGetData(grey));
    EXPECT_LT(bytes[0], bytes[3 * CGBitmapContextGetBytesPerRow(grey)])
        << "memory row 0 is the top, the dark end";

    CGImageRef white = bitmapOf(
        2, 4,
        {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF});
    CGImageRef masked = CGImageCreateWithMask(white, mask);
    ASSERT_NE(masked, nullptr);
    EXPECT_LT(pixelAt(masked, 0, 0).a, 0.2);
    EXPECT_GT(pixelAt(masked, 1, 3).a, 0.8);
    EXPECT_LT(pixelAt(masked, 0, 1).a, pixelAt(masked, 0, 2).a);
    EXPECT_EQ(CGImageCreateWithMask(white, white), nullptr) << "a mask with alpha is refused";
}

TEST(DrawingPaths, RoundedBoxLeavesItsCornersClear) {
    // The overlay's box: four quarter arcs in direction 0 around a 40 x 30 rectangle with radius 10.
    auto context = CGContext::createImageContext(CGSizeMake(40, 30), false, 1);
    double r = 10, minX = 0, minY = 0, maxX = 40, maxY = 30;
    context->beginPath();
    context->moveToPoint(minX + r, minY);
    context->addArc(maxX - r, minY + r, r, 3 * M_PI / 2, 0, 0);
    context->addArc(maxX - r, maxY - r, r, 0, M_PI / 2, 0);
    context->addArc(minX + r, maxY - r, r, M_PI / 2, M_PI, 0);
    context->addArc(minX + r, minY + r, r, M_PI, 3 * M_PI / 2, 0);
    context->closePath();
    context->setGrayFillColor(0, 0.8);
    context->fillPath();
    CGImageRef image = context->makeImage();
    EXPECT_TRUE(near(pixelAt(image, 0, 0), kClear));
    EXPECT_TRUE(near(pixelAt(image, 39, 29), kClear));
    EXPECT_TRUE(near(pixelAt(image, 20, 15), {0, 0, 0, 0.8}));
    EXPECT_TRUE(near(pixelAt(image, 20, 0), {0, 0, 0, 0.8}));
    EXPECT_TRUE(near(pixelAt(image, 0, 15), {0, 0, 0, 0.8}));
}

TEST(DrawingPaths, LineWidthAndCapsDecideWhatAStrokeCovers) {
    for (CGLineCap cap : {kCGLineCapButt, kCGLineCapSquare, kCGLineCapRound}) {
        auto context = CGContext::createImageContext(CGSizeMake(12, 10), false, 1);
        CGContextSetLineWidth(context, 4);
        CGContextSetLineCap(context, cap);
        CGContextSetStrokeColorWithColor(context, UIColor::blueColor()->CGColor());
        CGContextMoveToPoint(context, 4, 5);
        CGContextAddLineToPoint(context, 8, 5);
        CGContextStrokePath(context);
        CGImageRef image = context->makeImage();
        EXPECT_TRUE(near(pixelAt(image, 6, 3), kBlue)) << cap;
        EXPECT_TRUE(near(pixelAt(image, 6, 1), kClear)) << cap;
        // Past the line's end: butt caps stop there, square caps cover the corner, round caps only near the
        // end.
        double corner = pixelAt(image, 2, 3).a;
        EXPECT_NEAR(corner, cap == kCGLineCapSquare ? 1 : 0, cap == kCGLineCapRound ? 0.5 : 0.02) << cap;
        EXPECT_EQ(pixelAt(image, 3, 5).a > 0.5, cap != kCGLineCapButt) << cap;
    }
}

TEST(DrawingPaths, ArcToPointRoundsACornerTangentToBothLines) {
    auto context = CGContext::createImageContext(CGSizeMake(20, 20), false, 1);
    context->moveToPoint(0, 20);
    context->addArcToPoint(0, 0, 20, 0, 10);
    CGPoint end = context->getPathCurrentPoint();
    EXPECT_NEAR(end.x, 10, 1e-9);
    EXPECT_NEAR(end.y, 0, 1e-9);
    context->addLineToPoint(20, 0);
    context->addLineToPoint(20, 20);
    context->closePath();
    context->setFillColorWithColor(UIColor::redColor()->CGColor());
    context->fillPath();
    CGImageRef image = context->makeImage();
    EXPECT_TRUE(near(pixelAt(image, 0, 0), kClear)) << "the corner is cut by the arc";
    EXPECT_TRUE(near(pixelAt(image, 10, 10), kRed));
    EXPECT_TRUE(near(pixelAt(image, 19, 0), kRed));
}

TEST(DrawingGradients, LinearGradientRunsBetweenItsEndsAndExtendsOnlyWhereAsked) {
    const double components[] = {0, 0, 0, 1, 1, 1, 1, 1};
    auto gradient =
        CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), components, nullptr, 2);
    for (uint32_t options : {0u, uint32_t(kCGGradientDrawsAfterEndLocation)}) {
        auto context = CGContext::createImageContext(CGSizeMake(30, 1), false, 1);
        context->drawLinearGradient(gradient, CGPointMake(10, 0), CGPointMake(20, 0), options);
        CGImageRef image = context->makeImage();
        EXPECT_TRUE(near(pixelAt(image, 2, 0), kClear)) << "nothing before the start without the option";
        double previous = -1;
        for (int x = 10; x < 20; ++x) {
            Pixel p = pixelAt(image, x, 0);
            EXPECT_NEAR(p.a, 1, 0.02);
            EXPECT_GT(p.r, previous);
            previous = p.r;
        }
        if (options)
            EXPECT_TRUE(near(pixelAt(image, 27, 0), {1, 1, 1, 1}));
        else
            EXPECT_TRUE(near(pixelAt(image, 27, 0), kClear));
    }
}

TEST(DrawingGradients, RadialDimmingDarkensTowardsTheEdges) {
    // The overlay's dimming: transparent at the centre to 75 % black at the radius, extended past it.
    const double components[] = {0, 0, 0, 0, 0, 0, 0, 0.75};
    const double locations[] = {0, 1};
    auto gradient =
        CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), components, locations, 2);
    auto context = CGContext::createImageContext(CGSizeMake(40, 20), false, 1);
    context->drawRadialGradient(gradient, CGPointMake(20, 10), 0, CGPointMake(20, 10), 10,
                                kCGGradientDrawsAfterEndLocation);
    CGImageRef image = context->makeImage();
    EXPECT_LT(pixelAt(image, 20, 10).a, 0.1);
    EXPECT_NEAR(pixelAt(image, 20, 4).a, 0.75 * 0.55, 0.06);
    EXPECT_NEAR(pixelAt(image, 1, 1).a, 0.75, 0.01) << "continued beyond the end circle";
}

TEST(DrawingImages, MultiplyWithContextAlphaOnAFlippedContextFadesTheUprightImage) {
    // The alpha helper: flip the context, multiply blend, context alpha, CGContextDrawImage.
    CGImageRef redOverBlue = bitmapOf(1, 2, {0xFF0000FF, 0x0000FFFF});
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(1, 2), false, 0);
    CGContextRef context = UIGraphicsGetCurrentContext();
    CGContextScaleCTM(context, 1, -1);
    CGContextTranslateCTM(context, 0, -2);
    CGContextSetBlendMode(context, kCGBlendModeMultiply);
    CGContextSetAlpha(context, 0.5);
    CGContextDrawImage(context, CGRectMake(0, 0, 1, 2), redOverBlue);
    UIImagePtr faded = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    ASSERT_NE(faded, nullptr);
    EXPECT_EQ(faded->size(), CGSizeMake(1, 2));
    CGImageRef pixels = faded->CGImage();
    int scale = int(faded->scale());
    EXPECT_TRUE(near(pixelAt(pixels, 0, 0), {1, 0, 0, 0.5}));
    EXPECT_TRUE(near(pixelAt(pixels, 0, 2 * scale - 1), {0, 0, 1, 0.5}));
}
