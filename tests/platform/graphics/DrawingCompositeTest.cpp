#include "DrawingTestSupport.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace platform;
using namespace graphics_test;

namespace {

// Fills the whole 2 x 2 canvas with the destination colour, then the top-left pixel with the source colour in
// the blend mode, and returns (top-left, bottom-right).
std::pair<Pixel, Pixel> blend(Pixel destination, Pixel source, CGBlendMode mode) {
    auto context = canvas(2, 2);
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

TEST(DrawingBlend, ModesFollowTheirFormulasAndStayInsideTheDrawnShape) {
    Pixel d{0.4, 0.8, 0.2, 1}, s{0.5, 0.25, 1, 1}, half{0, 0, 1, 0.5};
    auto separable = [&](double (*f)(double, double)) {
        return Pixel{f(s.r, d.r), f(s.g, d.g), f(s.b, d.b), 1};
    };
    struct Case {
        CGBlendMode mode;
        Pixel destination, source, expected;
    } cases[] = {
        {kCGBlendModeNormal, d, s, s},
        {kCGBlendModeMultiply, d, s, separable([](double s, double d) { return s * d; })},
        {kCGBlendModeScreen, d, s, separable([](double s, double d) { return s + d - s * d; })},
        {kCGBlendModeOverlay, d, s, separable(overlay)},
        {kCGBlendModeDarken, d, s, separable([](double s, double d) { return std::min(s, d); })},
        {kCGBlendModeLighten, d, s, separable([](double s, double d) { return std::max(s, d); })},
        {kCGBlendModeDifference, d, s, separable([](double s, double d) { return std::fabs(s - d); })},
        {kCGBlendModeExclusion, d, s, separable([](double s, double d) { return s + d - 2 * s * d; })},
        {kCGBlendModePlusLighter, d, s, separable([](double s, double d) { return std::min(1.0, s + d); })},
        {kCGBlendModeCopy, kRed, half, half},
        {kCGBlendModeClear, kRed, half, kClear},
        {kCGBlendModeDestinationIn, kRed, half, {1, 0, 0, 0.5}},
        {kCGBlendModeDestinationOut, kRed, half, {1, 0, 0, 0.5}},
        {kCGBlendModeSourceAtop, kRed, half, {0.5, 0, 0.5, 1}},
        {kCGBlendModeDestinationOver, kRed, half, kRed},
        {kCGBlendModeSourceIn, kRed, half, half},
        {kCGBlendModeXOR, kRed, half, {1, 0, 0, 0.5}},
        {kCGBlendModeSourceAtop, kClear, kBlue, kClear}, // transparent destinations stay transparent
        {kCGBlendModeDestinationIn, kClear, kBlue, kClear},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        auto [blended, untouched] = blend(c.destination, c.source, c.mode);
        EXPECT_TRUE(near(blended, c.expected));
        EXPECT_TRUE(near(untouched, c.destination)) << "reached outside the shape";
    }
}

TEST(DrawingImages, DrawnImagesAreFlippedTurnedTintedAndFaded) {
    CGImageRef redOverBlue = bitmapOf(1, 2, {0xFF0000FF, 0x0000FFFF});
    CGRect box = CGRectMake(0, 0, 1, 2);
    expectPixels(drawnImage(box.size, [&](CGContextRef c) { CGContextDrawImage(c, box, redOverBlue); }),
                 {{0, 0, kBlue}});
    expectPixels(
        drawnImage(box.size, [&](CGContextRef) { drawInRect(UIImage::imageWithCGImage(redOverBlue), box); }),
        {{0, 0, kRed}, {0, 1, kBlue}});
    // In a bitmap context y goes up, so the same call puts the first row first in memory.
    auto bitmap = CGBitmapContextCreate(nullptr, 1, 2, 8, 4, CGColorSpaceCreateDeviceRGB(),
                                        kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little);
    CGContextDrawImage(bitmap, box, redOverBlue);
    expectPixels(CGBitmapContextCreateImage(bitmap), {{0, 0, kRed}});

    // Orientation turns the picture when drawn.
    CGImageRef redThenBlue = bitmapOf(2, 1, {0xFF0000FF, 0x0000FFFF}); // red on the left
    struct Case {
        UIImageOrientation orientation;
        Pixel first, second; // top and bottom when turned, left when upside down
    } cases[] = {
        {UIImageOrientationRight, kRed, kBlue},
        {UIImageOrientationLeft, kBlue, kRed},
        {UIImageOrientationDown, kBlue, kRed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.orientation);
        auto image = UIImage::imageWithCGImage(redThenBlue, 1, c.orientation);
        bool turned = c.orientation != UIImageOrientationDown;
        ASSERT_EQ(image->size(), turned ? CGSizeMake(1, 2) : CGSizeMake(2, 1));
        CGImageRef drawn = drawnImage(image->size(), [&](CGContextRef) { drawAtPoint(image, CGPointZero); });
        expectPixels(drawn, {{0, 0, c.first}, {turned ? 0 : 1, turned ? 1 : 0, c.second}});
    }

    // The tint helper: fill with the colour, then draw the image in destination-in.
    CGImageRef shape = bitmapOf(2, 1, {0x00FF00FF, 0x00000000}); // opaque green, then transparent
    CGImageRef tinted = drawnImage(CGSizeMake(2, 1), [&](CGContextRef) {
        UIColor::orangeColor()->setFill();
        UIRectFill(CGRectMake(0, 0, 2, 1));
        drawInRect(UIImage::imageWithCGImage(shape), CGRectMake(0, 0, 2, 1), kCGBlendModeDestinationIn, 1);
    });
    expectPixels(tinted, {{0, 0, {1, 0.5, 0, 1}}, {1, 0, kClear}});

    CGImageRef gray = drawnImage(CGSizeMake(2, 1), [&](CGContextRef c) {
        c->setFillColorWithColor(UIColor::grayColor()->CGColor());
        c->fillRect(CGRectMake(0, 0, 2, 1));
        drawInRect(UIImage::imageWithCGImage(bitmapOf(1, 1, {0xFFFFFFFF})), CGRectMake(0, 0, 1, 1),
                   kCGBlendModeMultiply, 0.5);
        EXPECT_EQ(c->blendMode(), kCGBlendModeNormal);
        EXPECT_DOUBLE_EQ(c->alpha(), 1);
    });
    expectPixels(gray,
                 {{0, 0, {0.5, 0.5, 0.5, 1}}, {1, 0, {0.5, 0.5, 0.5, 1}}}); // white multiplied: no change

    // The alpha helper: flip the context (so the platform call comes out upright), multiply blend, context
    // alpha, CGContextDrawImage.
    CGImageRef faded = drawnImage(
        CGSizeMake(1, 2),
        [&](CGContextRef c) {
            CGContextScaleCTM(c, 1, -1);
            CGContextTranslateCTM(c, 0, -2);
            CGContextSetBlendMode(c, kCGBlendModeMultiply);
            CGContextSetAlpha(c, 0.5);
            CGContextDrawImage(c, CGRectMake(0, 0, 1, 2), bitmapOf(1, 2, {0xFF0000FF, 0x0000FFFF}));
        },
        0);
    expectPixels(faded, {{0, 0, {1, 0, 0, 0.5}}, {0, faded->height() - 1, {0, 0, 1, 0.5}}});
}

TEST(DrawingMask, ClipAndGreyMasksArcsAndCaps) {
    CGImageRef topHalf = bitmapOf(1, 2, {0xFFFFFFFF, 0x00000000}); // opaque top row, clear bottom row
    for (bool flip : {false, true}) {
        SCOPED_TRACE(flip);
        auto context = canvas(1, 2);
        if (flip) {
            context->translateCTM(0, 2);
            context->scaleCTM(1, -1);
        }
        context->clipToMask(CGRectMake(0, 0, 1, 2), topHalf);
        context->setFillColorWithColor(UIColor::redColor()->CGColor());
        context->fillRect(CGRectMake(0, 0, 1, 2));
        expectPixels(context->makeImage(), {{0, flip ? 0 : 1, kRed}, {0, flip ? 1 : 0, kClear}});
    }

    // Grey masks show white and hide black.
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
    EXPECT_EQ(mask->colorSpaceModel(), kCGColorSpaceModelMonochrome);
    auto* bytes = static_cast<const uint8_t*>(CGBitmapContextGetData(grey));
    EXPECT_LT(bytes[0], bytes[3 * CGBitmapContextGetBytesPerRow(grey)]) << "memory row 0 is the dark top";

    CGImageRef white = bitmapOf(2, 4, {~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u});
    CGImageRef masked = CGImageCreateWithMask(white, mask);
    ASSERT_NE(masked, nullptr);
    double alphas[4];
    for (int y = 0; y < 4; ++y)
        alphas[y] = pixelAt(masked, 1, y).a;
    EXPECT_TRUE(alphas[0] < 0.2 && alphas[0] < alphas[1] && alphas[1] < alphas[2] && alphas[3] > 0.8);
    EXPECT_EQ(CGImageCreateWithMask(white, white), nullptr) << "a mask with alpha is refused";

    // The overlay's box: four quarter arcs in direction 0 around a 40 x 30 rectangle with radius 10.
    auto context = canvas(40, 30);
    context->beginPath();
    context->moveToPoint(10, 0);
    context->addArc(30, 10, 10, 3 * M_PI / 2, 0, 0);
    context->addArc(30, 20, 10, 0, M_PI / 2, 0);
    context->addArc(10, 20, 10, M_PI / 2, M_PI, 0);
    context->addArc(10, 10, 10, M_PI, 3 * M_PI / 2, 0);
    context->closePath();
    context->setGrayFillColor(0, 0.8);
    context->fillPath();
    Pixel dim{0, 0, 0, 0.8};
    expectPixels(context->makeImage(),
                 {{0, 0, kClear}, {39, 29, kClear}, {20, 15, dim}, {20, 0, dim}, {0, 15, dim}});

    // An arc to a point rounds the corner tangent to both lines.
    auto corner = canvas(20, 20);
    corner->moveToPoint(0, 20);
    corner->addArcToPoint(0, 0, 20, 0, 10);
    EXPECT_LT(std::hypot(corner->getPathCurrentPoint().x - 10, corner->getPathCurrentPoint().y), 1e-9);
    corner->addLineToPoint(20, 0);
    corner->addLineToPoint(20, 20);
    corner->closePath();
    corner->setFillColorWithColor(UIColor::redColor()->CGColor());
    corner->fillPath();
    expectPixels(corner->makeImage(), {{0, 0, kClear}, {10, 10, kRed}, {19, 0, kRed}});

    // Line width and caps decide what a stroke covers.
    for (CGLineCap cap : {kCGLineCapButt, kCGLineCapSquare, kCGLineCapRound}) {
        SCOPED_TRACE(cap);
        auto context = canvas(12, 10);
        CGContextSetLineWidth(context, 4);
        CGContextSetLineCap(context, cap);
        CGContextSetStrokeColorWithColor(context, UIColor::blueColor()->CGColor());
        CGContextMoveToPoint(context, 4, 5);
        CGContextAddLineToPoint(context, 8, 5);
        CGContextStrokePath(context);
        CGImageRef image = context->makeImage();
        expectPixels(image, {{6, 3, kBlue}, {6, 1, kClear}});
        // Past the line's end: butt caps stop there, square caps cover the corner, round caps only near the
        // end.
        EXPECT_NEAR(pixelAt(image, 2, 3).a, cap == kCGLineCapSquare ? 1 : 0,
                    cap == kCGLineCapRound ? 0.5 : 0.02);
        EXPECT_EQ(pixelAt(image, 3, 5).a > 0.5, cap != kCGLineCapButt);
    }
}

TEST(DrawingGradients, LinearGradientsExtendOnlyWhereAskedAndRadialDimmingDarkensTheEdges) {
    const double components[] = {0, 0, 0, 1, 1, 1, 1, 1};
    auto gradient =
        CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), components, nullptr, 2);
    for (uint32_t options : {0u, uint32_t(kCGGradientDrawsAfterEndLocation)}) {
        SCOPED_TRACE(options);
        auto context = canvas(30, 1);
        context->drawLinearGradient(gradient, CGPointMake(10, 0), CGPointMake(20, 0), options);
        CGImageRef image = context->makeImage();
        double previous = -1;
        for (int x = 10; x < 20; ++x) {
            Pixel p = pixelAt(image, x, 0);
            EXPECT_NEAR(p.a, 1, 0.02);
            EXPECT_GT(p.r, previous);
            previous = p.r;
        }
        expectPixels(image, {{2, 0, kClear}, {27, 0, options ? Pixel{1, 1, 1, 1} : kClear}});
    }

    // The overlay's dimming: transparent at the centre to 75 % black at the radius, extended past it.
    const double dimming[] = {0, 0, 0, 0, 0, 0, 0, 0.75};
    const double locations[] = {0, 1};
    auto radial = CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), dimming, locations, 2);
    auto dimmed = canvas(40, 20);
    dimmed->drawRadialGradient(radial, CGPointMake(20, 10), 0, CGPointMake(20, 10), 10,
                               kCGGradientDrawsAfterEndLocation);
    CGImageRef image = dimmed->makeImage();
    EXPECT_LT(pixelAt(image, 20, 10).a, 0.1);
    EXPECT_NEAR(pixelAt(image, 20, 4).a, 0.75 * 0.55, 0.06);
    EXPECT_NEAR(pixelAt(image, 1, 1).a, 0.75, 0.01) << "continued beyond the end circle";
}
