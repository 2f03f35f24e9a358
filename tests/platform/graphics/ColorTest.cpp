#include "platform/graphics/Color.h"

#include "platform/foundation/Value.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

struct Components {
    double r{-1}, g{-1}, b{-1}, a{-1};
};

Components rgba(const UIColorPtr& c) {
    Components out;
    EXPECT_TRUE(c->getRed(&out.r, &out.g, &out.b, &out.a));
    return out;
}

} // namespace

TEST(ColorNamed, GreysHaveThePlatformsWhiteLevels) {
    struct Case {
        UIColorPtr color;
        double white, alpha;
    } cases[] = {
        {UIColor::blackColor(), 0, 1},  {UIColor::darkGrayColor(), 1.0 / 3, 1},
        {UIColor::grayColor(), 0.5, 1}, {UIColor::lightGrayColor(), 2.0 / 3, 1},
        {UIColor::whiteColor(), 1, 1},  {UIColor::clearColor(), 0, 0},
    };
    for (const auto& c : cases) {
        double w = -1, a = -1;
        ASSERT_TRUE(c.color->getWhite(&w, &a)) << c.color->description();
        EXPECT_DOUBLE_EQ(w, c.white);
        EXPECT_DOUBLE_EQ(a, c.alpha);
        Components k = rgba(c.color);
        EXPECT_DOUBLE_EQ(k.r, c.white);
        EXPECT_DOUBLE_EQ(k.b, c.white);
    }
}

TEST(ColorNamed, HuesHaveThePlatformsRGBComponents) {
    struct Case {
        UIColorPtr color;
        double r, g, b;
    } cases[] = {
        {UIColor::redColor(), 1, 0, 0},         {UIColor::greenColor(), 0, 1, 0},
        {UIColor::blueColor(), 0, 0, 1},        {UIColor::cyanColor(), 0, 1, 1},
        {UIColor::yellowColor(), 1, 1, 0},      {UIColor::magentaColor(), 1, 0, 1},
        {UIColor::orangeColor(), 1, 0.5, 0},    {UIColor::purpleColor(), 0.5, 0, 0.5},
        {UIColor::brownColor(), 0.6, 0.4, 0.2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.color->description());
        Components k = rgba(c.color);
        EXPECT_TRUE(k.r == c.r && k.g == c.g && k.b == c.b && k.a == 1);
        double w = 7;
        EXPECT_FALSE(c.color->getWhite(&w, nullptr));
        EXPECT_EQ(w, 7) << "a failed getWhite leaves its outputs alone";
    }
}

TEST(ColorComponents, FactoriesClampAndAlphaCopiesKeepTheSpace) {
    EXPECT_TRUE(UIColor::colorWithRed(1.5, -0.2, 0.25, 2)->isEqual(*UIColor::colorWithRed(1, 0, 0.25, 1)));

    auto faded = UIColor::grayColor()->colorWithAlphaComponent(0.3);
    double w = 0, a = 0;
    ASSERT_TRUE(faded->getWhite(&w, &a));
    EXPECT_DOUBLE_EQ(w, 0.5);
    EXPECT_DOUBLE_EQ(a, 0.3);
    auto fadedRed = UIColor::redColor()->colorWithAlphaComponent(0.5);
    EXPECT_EQ(fadedRed->space(), UIColor::Space::RGB);
    EXPECT_DOUBLE_EQ(rgba(fadedRed).a, 0.5);
    EXPECT_DOUBLE_EQ(rgba(UIColor::redColor()).a, 1) << "the original does not change";
}

TEST(ColorComponents, HueSaturationBrightnessRoundTrip) {
    auto c = UIColor::colorWithRed(0.2, 0.6, 0.4, 0.9);
    double h, s, b, a;
    ASSERT_TRUE(c->getHue(&h, &s, &b, &a));
    auto back = UIColor::colorWithHue(h, s, b, a);
    EXPECT_TRUE(back->isEqual(*c)) << back->description() << " vs " << c->description();
    EXPECT_TRUE(UIColor::colorWithHue(30.0 / 360, 1, 1, 1)->isEqual(*UIColor::colorWithRed(1, 0.5, 0, 1)));
}

TEST(ColorEquality, SameSpaceAndComponentsAreEqualGreyAndRGBAreNot) {
    EXPECT_TRUE(UIColor::colorWithWhite(0.5, 1)->isEqual(*UIColor::grayColor()));
    EXPECT_TRUE(UIColor::colorWithRed(1, 0, 0, 1)->isEqual(*UIColor::redColor()));
    EXPECT_FALSE(UIColor::colorWithRed(0, 0, 0, 1)->isEqual(*UIColor::blackColor()));
    EXPECT_FALSE(UIColor::colorWithWhite(0.5, 0.99)->isEqual(*UIColor::grayColor()));
    EXPECT_TRUE(UIColor::isEqual(nullptr, nullptr));
    EXPECT_FALSE(UIColor::isEqual(UIColor::redColor(), nullptr));
}

TEST(ColorObjects, CGColorIsTheSameObjectAndColoursTravelInValues) {
    auto red = UIColor::redColor();
    EXPECT_EQ(red->CGColor().get(), red.get());
    Value v(red);
    EXPECT_EQ(v.objectAs<UIColor>(), red);
    EXPECT_EQ(UIColor::blackColor(), UIColor::blackColor()) << "named colours are shared";
    EXPECT_NE(UIColor::blackColor(), UIColor::clearColor());
    EXPECT_EQ(red->description(), "UIExtendedSRGBColorSpace 1 0 0 1");
    EXPECT_EQ(UIColor::grayColor()->description(), "UIExtendedGrayColorSpace 0.5 1");
}
