#include "platform/graphics/Font.h"

#include "PangoReference.h"
#include "platform/foundation/Value.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace platform;
using graphics_test::pangoReference;

namespace {

bool installed(const std::string& family) {
    auto names = UIFont::familyNames();
    return std::find(names.begin(), names.end(), family) != names.end();
}

} // namespace

TEST(FontSystem, SystemFontIsTheCJKFaceSoChineseAndLatinShareMetrics) {
    ASSERT_TRUE(installed("Noto Sans CJK SC")) << "fonts-noto-cjk must be installed and found by fontconfig";
    auto font = UIFont::systemFontOfSize(17);
    EXPECT_EQ(font->familyName(), "Noto Sans CJK SC");
    EXPECT_DOUBLE_EQ(font->pointSize(), 17);
    EXPECT_EQ(font->weight(), 400);
    EXPECT_EQ(UIFont::boldSystemFontOfSize(16)->weight(), 700);
    EXPECT_TRUE(UIFont::italicSystemFontOfSize(16)->isItalic());
    EXPECT_EQ(UIFont::systemFontOfSize(12, UIFontWeightMedium)->weight(), 500);
}

TEST(FontSystem, UnusableSizesMeanTwelvePoints) {
    EXPECT_DOUBLE_EQ(UIFont::systemFontOfSize(0)->pointSize(), 12);
    EXPECT_DOUBLE_EQ(UIFont::systemFontOfSize(-3)->pointSize(), 12);
    EXPECT_DOUBLE_EQ(UIFont::systemFontOfSize(NAN)->pointSize(), 12);
    EXPECT_DOUBLE_EQ(UIFont::systemFontOfSize(10)->fontWithSize(0)->pointSize(), 12);
}

TEST(FontNames, PlatformFaceNamesMapToInstalledFamilies) {
    auto pingFang = UIFont::fontWithName("PingFangSC-Medium", 14);
    ASSERT_NE(pingFang, nullptr);
    EXPECT_EQ(pingFang->familyName(), "Noto Sans CJK SC");
    EXPECT_EQ(pingFang->weight(), 500);
    EXPECT_EQ(pingFang->fontName(), "PingFangSC-Medium");
    auto regular = UIFont::fontWithName("PingFangSC-Regular", 14);
    ASSERT_NE(regular, nullptr);
    EXPECT_EQ(regular->weight(), 400);
    auto helvetica = UIFont::fontWithName("HelveticaNeue-BoldItalic", 11);
    ASSERT_NE(helvetica, nullptr);
    EXPECT_EQ(helvetica->familyName(), UIFont::systemFontOfSize(11)->familyName());
    EXPECT_EQ(helvetica->weight(), 700);
    EXPECT_TRUE(helvetica->isItalic());
    auto light = UIFont::fontWithName("HelveticaNeue-Light", 11);
    ASSERT_NE(light, nullptr);
    EXPECT_EQ(light->weight(), 300);
    ASSERT_NE(UIFont::fontWithName("Courier", 11), nullptr);
}

TEST(FontNames, InstalledFamiliesAreFoundByNameAndUnknownNamesAreNil) {
    auto dejavu = UIFont::fontWithName("DejaVu Sans", 10);
    if (installed("DejaVu Sans")) {
        ASSERT_NE(dejavu, nullptr);
        EXPECT_EQ(dejavu->familyName(), "DejaVu Sans");
    }
    EXPECT_EQ(UIFont::fontWithName("NoSuchFace-Bold", 12), nullptr);
    EXPECT_EQ(UIFont::fontWithName("", 12), nullptr);
}

TEST(FontMetrics, LineHeightMatchesPangosOwnLayoutOfTheFont) {
    for (double size : {10.0, 14.0, 17.0}) {
        auto font = UIFont::systemFontOfSize(size);
        auto reference = pangoReference("Hg", font->pangoDescription(), 0);
        EXPECT_NEAR(font->lineHeight(), reference.height, 1e-6) << size;
        EXPECT_NEAR(font->ascender(), reference.baseline, 1e-6) << size;
        EXPECT_LT(font->descender(), 0);
        EXPECT_NEAR(font->ascender() - font->descender(), font->lineHeight(), 1e-9);
        EXPECT_GT(font->capHeight(), 0);
        EXPECT_LT(font->capHeight(), font->ascender());
        EXPECT_LT(font->xHeight(), font->capHeight());
    }
}

TEST(FontMetrics, MetricsScaleWithThePointSize) {
    auto small = UIFont::systemFontOfSize(10);
    auto large = UIFont::systemFontOfSize(20);
    EXPECT_NEAR(large->lineHeight(), 2 * small->lineHeight(), 0.05);
    EXPECT_NEAR(large->ascender(), 2 * small->ascender(), 0.05);
}

TEST(FontObjects, EqualityIsByValueAndFontsTravelInValues) {
    EXPECT_TRUE(UIFont::systemFontOfSize(10)->isEqual(*UIFont::systemFontOfSize(10)));
    EXPECT_FALSE(UIFont::systemFontOfSize(10)->isEqual(*UIFont::systemFontOfSize(11)));
    EXPECT_FALSE(UIFont::systemFontOfSize(10)->isEqual(*UIFont::boldSystemFontOfSize(10)));
    auto font = UIFont::systemFontOfSize(10);
    EXPECT_EQ(Value(font).objectAs<UIFont>(), font);
}
