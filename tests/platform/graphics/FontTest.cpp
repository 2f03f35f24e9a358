#include "platform/graphics/Font.h"

#include "PangoReference.h"
#include "platform/foundation/Value.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace platform;
using graphics_test::pangoReference;

TEST(FontSystem, SystemFaceNamesMetricsAndEquality) {
    auto names = UIFont::familyNames();
    ASSERT_NE(std::find(names.begin(), names.end(), "Noto Sans CJK SC"), names.end())
        << "fonts-noto-cjk must be installed and found by fontconfig";
    auto system = UIFont::systemFontOfSize(17);
    EXPECT_EQ(system->familyName(), "Noto Sans CJK SC");
    EXPECT_DOUBLE_EQ(system->pointSize(), 17);
    EXPECT_EQ(system->weight(), 400);
    EXPECT_EQ(UIFont::boldSystemFontOfSize(16)->weight(), 700);
    EXPECT_TRUE(UIFont::italicSystemFontOfSize(16)->isItalic());
    EXPECT_EQ(UIFont::systemFontOfSize(12, UIFontWeightMedium)->weight(), 500);
    for (double size : {0.0, -3.0, double(NAN)})
        EXPECT_DOUBLE_EQ(UIFont::systemFontOfSize(size)->pointSize(), 12) << size;
    EXPECT_DOUBLE_EQ(UIFont::systemFontOfSize(10)->fontWithSize(0)->pointSize(), 12);

    struct Case {
        const char* name;
        int weight;
        bool italic;
    } cases[] = {
        {"PingFangSC-Medium", 500, false},
        {"PingFangSC-Regular", 400, false},
        {"HelveticaNeue-BoldItalic", 700, true},
        {"HelveticaNeue-Light", 300, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto font = UIFont::fontWithName(c.name, 14);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(font->familyName(), "Noto Sans CJK SC");
        EXPECT_EQ(font->fontName(), c.name);
        EXPECT_EQ(font->weight(), c.weight);
        EXPECT_EQ(font->isItalic(), c.italic);
    }
    ASSERT_NE(UIFont::fontWithName("Courier", 11), nullptr);
    ASSERT_NE(UIFont::fontWithName("Noto Sans CJK SC", 10), nullptr)
        << "installed families by their own name";
    EXPECT_EQ(UIFont::fontWithName("NoSuchFace-Bold", 12), nullptr);
    EXPECT_EQ(UIFont::fontWithName("", 12), nullptr);

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
        EXPECT_NEAR(font->lineHeight(), size / 10 * UIFont::systemFontOfSize(10)->lineHeight(), 0.05);
    }
    EXPECT_TRUE(UIFont::systemFontOfSize(10)->isEqual(*UIFont::systemFontOfSize(10)));
    EXPECT_FALSE(UIFont::systemFontOfSize(10)->isEqual(*UIFont::systemFontOfSize(11)));
    EXPECT_FALSE(UIFont::systemFontOfSize(10)->isEqual(*UIFont::boldSystemFontOfSize(10)));
    auto font = UIFont::systemFontOfSize(10);
    EXPECT_EQ(Value(font).objectAs<UIFont>(), font);
}
