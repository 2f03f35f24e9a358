#include "app/ui/ImageGeometry.h"
#include "app/ui/UIImage+CacheMode.h"
#include "app/ui/UIImage+Color.h"
#include "app/ui/UIImage+MakeImage.h"
#include "app/ui/UIImage+Reflection.h"
#include "app/ui/UIImage+Thumbnails.h"
#include "app/ui/UIImage+Tint.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>
#include <vector>

using namespace platform;
using namespace liveapp::test;
using RGBA = Bitmap::RGBA;

namespace {

// Horizontal bands of colour over an image of the size in points, at the scale.
UIImagePtr bands(CGSize size, double scale, const std::vector<UIColorPtr>& colours, bool vertical = false) {
    return UIGraphicsImageWithDrawing(size, false, scale, [&](const CGContextRef&) {
        const double step = (vertical ? size.width : size.height) / colours.size();
        for (size_t i = 0; i < colours.size(); ++i) {
            colours[i]->setFill();
            UIRectFill(vertical ? CGRectMake(i * step, 0, step, size.height)
                                : CGRectMake(0, i * step, size.width, step));
        }
    });
}

RGBA at(const UIImagePtr& image, int x, int y) {
    return image->CGImage()->colorAt(x, y);
}

// Pixels (in pixels, not points) of the image near their colours.
void expectPixels(const UIImagePtr& image, std::initializer_list<std::tuple<int, int, RGBA>> checks) {
    for (auto [x, y, colour] : checks) {
        SCOPED_TRACE(testing::Message() << "pixel " << x << "," << y);
        EXPECT_TRUE(colorNear(at(image, x, y), colour));
    }
}

TEST(ImageHelpersTest, SquareCropIsCentredAndSquareImagesComeBackUnchanged) {
    auto square = bands(CGSizeMake(100, 100), 1, {UIColor::redColor()});
    EXPECT_EQ(squareImage(square), square);
    EXPECT_EQ(detail::squareSide(CGSizeMake(100.2, 100.7)), std::nullopt) << "the same whole points";
    // 603 x 402 pixels at scale 5: 120.6 x 80.4 points, red, green and blue thirds from the left.
    auto wide = bands(CGSizeMake(120.6, 80.4), 5,
                      {UIColor::redColor(), UIColor::greenColor(), UIColor::blueColor()}, true);
    auto cropped = squareImage(wide);
    ASSERT_TRUE(cropped);
    EXPECT_EQ(cropped->size(), CGSizeMake(80, 80));
    EXPECT_EQ(cropped->scale(), 1);
    expectPixels(cropped, {{40, 40, kGreen}, {2, 40, kRed}, {77, 40, kBlue}});
}

TEST(ImageHelpersTest, CroppingKeepsTheTopUnlessCentredFitLeavesMarginsAndFillCutsTheOverflow) {
    auto tall = bands(CGSizeMake(100, 200), 1, {UIColor::redColor(), UIColor::blueColor()});
    auto top = imageByScalingAndCroppingForSize(tall, CGSizeMake(100, 100));
    expectPixels(top, {{50, 5, kRed}, {50, 95, kRed}});
    auto middle = imageByScalingAndCroppingForSize(tall, CGSizeMake(100, 100), true);
    expectPixels(middle, {{50, 25, kRed}, {50, 75, kBlue}});

    auto wide = bands(CGSizeMake(200, 100), 1, {UIColor::redColor(), UIColor::blueColor()}, true);
    auto fit = scaleToFit(wide, CGSizeMake(100, 100));
    EXPECT_EQ(at(fit, 50, 10).a, 0);
    expectPixels(fit, {{25, 50, kRed}, {75, 50, kBlue}});
    auto fill = scaleToFill(wide, CGSizeMake(100, 100));
    expectPixels(fill, {{5, 50, kRed}, {95, 50, kBlue}, {50, 2, kBlue}}); // x 55 and 145 of the original
    EXPECT_FALSE(scaleToFit(wide, CGSizeMake(0, 100)));
    EXPECT_FALSE(squareImage(nullptr));
}

TEST(ImageHelpersTest, TintWithDestinationInDrawsTheImageOnce) {
    auto half = bands(CGSizeMake(4, 4), 1, {UIColor::colorWithRed(1, 1, 1, 128 / 255.0)});
    auto silhouette = imageWithTintColor(half, UIColor::blueColor());
    EXPECT_EQ(silhouette->scale(), UIImage::screenScale());
    const RGBA pixel = at(silhouette, 1, 1);
    EXPECT_NEAR(pixel.a, 128, 2); // a second destination-in pass would leave about 64
    EXPECT_TRUE(colorNear({pixel.r, pixel.g, pixel.b, 255}, kBlue, 3));
    auto shaded = imageWithGradientTintColor(half, UIColor::blueColor());
    EXPECT_NEAR(at(shaded, 1, 1).a, 128, 2); // the image's own transparency comes back
    EXPECT_FALSE(imageNamed("no_such_image", UIColor::blueColor()));
}

TEST(ImageHelpersTest, ColourHelpersOnKnownPixels) {
    auto filled = imageWithColor(UIColor::redColor(), CGSizeMake(3, 2));
    EXPECT_EQ(filled->size(), CGSizeMake(3, 2));
    EXPECT_EQ(at(filled, 2, 1), kRed);
    EXPECT_EQ(at(imageWithColor(UIColorPtr(), CGSizeMake(1, 1)), 0, 0),
              kBlack); // no colour: the default fill

    // The mask keeps the image upright: its opaque top half comes out in the colour.
    auto topHalf = bands(CGSizeMake(10, 10), 2, {UIColor::blackColor(), UIColor::clearColor()});
    auto masked = imageWithColor(topHalf, UIColor::greenColor());
    EXPECT_EQ(masked->scale(), 2);
    EXPECT_TRUE(colorNear(at(masked, 10, 2), kGreen));
    EXPECT_EQ(at(masked, 10, 17).a, 0);

    auto pair = bands(CGSizeMake(2, 1), 1,
                      {UIColor::whiteColor(), UIColor::colorWithRed(1, 1, 254 / 255.0, 1)}, true);
    auto cutOut = imageBlackToTransparent(pair);
    expectPixels(cutOut, {{0, 0, {0, 0, 0, 0}}, {1, 0, kBlack}});

    auto faded =
        imageByApplyingAlpha(0.5, bands(CGSizeMake(10, 10), 1, {UIColor::redColor(), UIColor::blueColor()}));
    const double scale = faded->scale();
    EXPECT_NEAR(at(faded, 5 * scale, 2 * scale).a, 128, 2);
    EXPECT_TRUE(colorNear({at(faded, 5 * scale, 2 * scale).r, 0, 0, 255}, kRed, 3)); // still upright
    EXPECT_EQ(at(faded, 5 * scale, 8 * scale).b, 255);
}

TEST(ImageHelpersTest, ResourceImagesWithAndWithoutTheCache) {
    auto cached = imageUsingCacheMode("navigation_back_white");
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached, UIImage::imageNamed("navigation_back_white"));
    auto fresh = imageNotUsingCacheMode("navigation_back_white");
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh, cached);
    EXPECT_EQ(fresh->scale(), 1); // the plain file, whatever the screen scale
    EXPECT_FALSE(imageNotUsingCacheMode("no_such_image"));
    EXPECT_EQ(originalImageNamed("navigation_back_white")->renderingMode(),
              UIImageRenderingModeAlwaysOriginal);
    EXPECT_EQ(originalImage(fresh)->CGImage(), fresh->CGImage());
    EXPECT_FALSE(originalImage(nullptr));
}

TEST(ImageHelpersTest, CompositesDrawInTheBackgroundsPixels) {
    auto background = bands(CGSizeMake(50, 50), 2, {UIColor::whiteColor()});
    auto mark = bands(CGSizeMake(20, 20), 1, {UIColor::redColor()});
    auto centred = addImage(mark, background, true);
    EXPECT_EQ(centred->size(), CGSizeMake(100, 100));
    expectPixels(centred, {{50, 50, kRed}, {35, 35, kWhite}});
    auto corner = addImage(mark, background);
    EXPECT_EQ(at(corner, 5, 5), kRed);
    EXPECT_EQ(at(addImage(mark, background, CGRectMake(80, 0, 20, 20)), 90, 5), kRed);

    const Value rects = Value::array(
        {Value("{{0, 0}, {10, 10}}"), Value("{{10, 10}, {80, 40}}"), Value("{{0, 90}, {10, 10}}")});
    EXPECT_FALSE(addResources(Value::array({Value(mark), Value(mark)}), rects, background));
    EXPECT_FALSE(addResources(Value(mark), Value("{{0, 0}, {1, 1}}"), background));
    auto text = Value::dictionary({{TextRssText, Value("直播")},
                                   {TextRssFont, Value(UIFont::boldSystemFontOfSize(30))},
                                   {TextRssColor, Value(UIColor::blueColor())}});
    auto composite = addResources(Value::array({Value(mark), text, Value(7)}), rects, background);
    ASSERT_TRUE(composite);
    expectPixels(composite, {{5, 5, kRed}, {5, 95, kWhite}}); // the number is skipped
    int blue = 0;
    for (int y = 10; y < 50; ++y)
        for (int x = 10; x < 90; ++x)
            blue += at(composite, x, y).b > 200 && at(composite, x, y).r < 100;
    EXPECT_GT(blue, 50);
}

TEST(ImageHelpersTest, SmallImagesAreStretchedLargeOnesKept) {
    auto large = bands(CGSizeMake(201, 201), 1, {UIColor::redColor()});
    EXPECT_EQ(fitSmallImage(large, CGSizeMake(10, 10)), large);
    auto flat = bands(CGSizeMake(300, 200), 1, {UIColor::redColor()});
    auto stretched = fitSmallImage(flat, CGSizeMake(10, 40));
    EXPECT_EQ(stretched->size(), CGSizeMake(10, 40));
    EXPECT_EQ(at(stretched, 5, 39), kRed);
    EXPECT_FALSE(fitSmallImage(nullptr, CGSizeMake(10, 10)));
    EXPECT_EQ(scaleToSize(nullptr, CGSizeMake(4, 4))->size(), CGSizeMake(4, 4));
}

TEST(ImageHelpersTest, ReflectionMirrorsAndFadesBelowThePicture) {
    auto picture = bands(CGSizeMake(10, 20), 1, {UIColor::redColor(), UIColor::blueColor()});
    auto reflected = addReflection(picture, 0.5);
    ASSERT_TRUE(reflected);
    EXPECT_EQ(reflected->size(), CGSizeMake(10, 30));
    expectPixels(reflected, {{5, 0, kRed}, {5, 19, kBlue}});
    // The seam shows the picture's bottom (blue) half opaque; the bottom edge its top (red), nearly gone.
    const RGBA seam = at(reflected, 5, 20);
    EXPECT_GT(seam.b, 200);
    EXPECT_NEAR(seam.a, 128, 16);
    const RGBA edge = at(reflected, 5, 29);
    EXPECT_LT(edge.a, 20);
    EXPECT_LT(at(reflected, 5, 25).a, seam.a);
    EXPECT_EQ(addReflection(picture, 0.01), picture);
    EXPECT_FALSE(addReflection(nullptr, 0.5));
}

} // namespace
