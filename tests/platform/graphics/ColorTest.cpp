#include "platform/graphics/Color.h"

#include "platform/foundation/Value.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(ColorNamed, NamedColoursFactoriesCopiesAndEquality) {
    struct Case {
        UIColorPtr color;
        double r, g, b, a;
        bool grey;
    } cases[] = {
        {UIColor::blackColor(), 0, 0, 0, 1, true},
        {UIColor::darkGrayColor(), 1.0 / 3, 1.0 / 3, 1.0 / 3, 1, true},
        {UIColor::grayColor(), 0.5, 0.5, 0.5, 1, true},
        {UIColor::lightGrayColor(), 2.0 / 3, 2.0 / 3, 2.0 / 3, 1, true},
        {UIColor::whiteColor(), 1, 1, 1, 1, true},
        {UIColor::clearColor(), 0, 0, 0, 0, true},
        {UIColor::redColor(), 1, 0, 0, 1, false},
        {UIColor::greenColor(), 0, 1, 0, 1, false},
        {UIColor::blueColor(), 0, 0, 1, 1, false},
        {UIColor::cyanColor(), 0, 1, 1, 1, false},
        {UIColor::yellowColor(), 1, 1, 0, 1, false},
        {UIColor::magentaColor(), 1, 0, 1, 1, false},
        {UIColor::orangeColor(), 1, 0.5, 0, 1, false},
        {UIColor::purpleColor(), 0.5, 0, 0.5, 1, false},
        {UIColor::brownColor(), 0.6, 0.4, 0.2, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.color->description());
        double r = -1, g = -1, b = -1, a = -1, w = 7;
        ASSERT_TRUE(c.color->getRed(&r, &g, &b, &a));
        EXPECT_TRUE(r == c.r && g == c.g && b == c.b && a == c.a) << r << " " << g << " " << b << " " << a;
        // A failed getWhite leaves its outputs alone.
        EXPECT_EQ(c.color->getWhite(&w, &a), c.grey);
        EXPECT_EQ(w, c.grey ? c.r : 7);
    }

    EXPECT_TRUE(UIColor::colorWithRed(1.5, -0.2, 0.25, 2)->isEqual(*UIColor::colorWithRed(1, 0, 0.25, 1)));
    double w = 0, a = 0;
    ASSERT_TRUE(UIColor::grayColor()->colorWithAlphaComponent(0.3)->getWhite(&w, &a));
    EXPECT_TRUE(w == 0.5 && a == 0.3);
    auto fadedRed = UIColor::redColor()->colorWithAlphaComponent(0.5);
    EXPECT_EQ(fadedRed->space(), UIColor::Space::RGB);
    EXPECT_EQ(fadedRed->description(), "UIExtendedSRGBColorSpace 1 0 0 0.5");
    EXPECT_EQ(UIColor::redColor()->description(), "UIExtendedSRGBColorSpace 1 0 0 1") << "the original stays";
    EXPECT_EQ(UIColor::grayColor()->description(), "UIExtendedGrayColorSpace 0.5 1");

    auto c = UIColor::colorWithRed(0.2, 0.6, 0.4, 0.9);
    double h, s, b;
    ASSERT_TRUE(c->getHue(&h, &s, &b, &a));
    auto back = UIColor::colorWithHue(h, s, b, a);
    EXPECT_TRUE(back->isEqual(*c)) << back->description() << " vs " << c->description();
    EXPECT_TRUE(UIColor::colorWithHue(30.0 / 360, 1, 1, 1)->isEqual(*UIColor::colorWithRed(1, 0.5, 0, 1)));
    EXPECT_TRUE(UIColor::colorWithWhite(0.5, 1)->isEqual(*UIColor::grayColor()));
    EXPECT_TRUE(UIColor::colorWithRed(1, 0, 0, 1)->isEqual(*UIColor::redColor()));
    EXPECT_FALSE(UIColor::colorWithRed(0, 0, 0, 1)->isEqual(*UIColor::blackColor()));
    EXPECT_FALSE(UIColor::colorWithWhite(0.5, 0.99)->isEqual(*UIColor::grayColor()));
    EXPECT_TRUE(UIColor::isEqual(nullptr, nullptr));
    EXPECT_FALSE(UIColor::isEqual(UIColor::redColor(), nullptr));
    auto red = UIColor::redColor();
    EXPECT_EQ(red->CGColor().get(), red.get());
    EXPECT_EQ(Value(red).objectAs<UIColor>(), red);
}
