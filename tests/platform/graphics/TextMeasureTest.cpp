#include "platform/graphics/TextMeasure.h"

#include "PangoReference.h"
#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/ParagraphStyle.h"

#include <cfloat>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <string>

using namespace platform;
using graphics_test::pangoReference;

namespace {

NSAttributes withFont(const UIFontPtr& font) {
    return NSAttributes{{NSFontAttributeName, Value(font)}};
}

CGRect wrapped(const std::string& text, const UIFontPtr& font, double width, double height = DBL_MAX,
               const std::function<void(NSMutableParagraphStyle&)>& style = nullptr) {
    NSAttributes attributes = withFont(font);
    if (style) {
        auto paragraph = NSParagraphStyle::defaultParagraphStyle()->mutableCopy();
        style(*paragraph);
        attributes = {{NSFontAttributeName, Value(font)},
                      {NSParagraphStyleAttributeName, Value(NSParagraphStylePtr(paragraph))}};
    }
    return boundingRectWithSize(text, CGSizeMake(width, height), NSStringDrawingUsesLineFragmentOrigin,
                                attributes);
}

const std::string kSentence = "The quick brown fox jumps over the lazy dog while the barrage keeps scrolling";

} // namespace

TEST(TextMeasure, SingleLineSizesMatchPangosOwnLayout) {
    for (double points : {10.0, 16.0}) {
        auto font = UIFont::systemFontOfSize(points);
        for (std::string text :
             {std::string("Hello, world"), std::string("直播分类：请选择房间类别"), kSentence}) {
            CGSize size = sizeWithAttributes(text, withFont(font));
            auto reference = pangoReference(text, font->pangoDescription(), 0);
            EXPECT_NEAR(size.width, reference.width, 1e-6) << text;
            EXPECT_NEAR(size.height, reference.height, 1e-6) << text;
        }
    }
    // The largest size is no limit.
    auto font = UIFont::systemFontOfSize(14);
    CGRect r = wrapped(kSentence, font, DBL_MAX, DBL_MAX);
    EXPECT_EQ(r.size, sizeWithAttributes(kSentence, withFont(font)));
}

TEST(TextMeasure, WrapsAtTheMaximumWidthLikePango) {
    auto font = UIFont::systemFontOfSize(10);
    double single = sizeWithAttributes(kSentence, withFont(font)).width;
    for (double width : {60.0, 100.0, 150.0}) {
        ASSERT_LT(width, single);
        CGRect r = wrapped(kSentence, font, width);
        auto reference = pangoReference(kSentence, font->pangoDescription(), width);
        EXPECT_GT(reference.lines, 1);
        EXPECT_EQ(r.origin, CGPointZero);
        EXPECT_LE(r.size.width, width) << "never wider than the largest width";
        EXPECT_NEAR(r.size.height, reference.height, 1e-6) << width;
        EXPECT_NEAR(r.size.height, reference.lines * font->lineHeight(), 1e-3) << width;
    }
    // Only whole lines that fit the height are counted, at least the first; zero height means unlimited.
    double line = font->lineHeight();
    EXPECT_NEAR(wrapped(kSentence, font, 60, 2.5 * line).size.height, 2 * line, 1e-3);
    EXPECT_NEAR(wrapped(kSentence, font, 60, 0.5 * line).size.height, line, 1e-3);
    EXPECT_EQ(wrapped(kSentence, font, 60, 0).size, wrapped(kSentence, font, 60).size);
}

TEST(TextMeasure, CharacterBreaksBaselineRectsHardBreaksEmptyAndMalformedText) {
    auto font = UIFont::systemFontOfSize(12);
    CGRect r = wrapped(std::string(40, 'w'), font, 50);
    EXPECT_LE(r.size.width, 50);
    EXPECT_GT(r.size.height, 2 * font->lineHeight());

    auto chinese = UIFont::systemFontOfSize(15);
    std::string text = "直播分类请选择房间类别";
    EXPECT_NEAR(sizeWithAttributes(text, withFont(chinese)).width, 11 * 15, 0.5) << "a full em per character";
    r = wrapped(text, chinese, 50);
    EXPECT_LE(r.size.width, 50);
    EXPECT_NEAR(r.size.height, 4 * chinese->lineHeight(), 1e-3) << "three characters per 50-point line";

    // Without the line-fragment origin the rect sits on the baseline.
    auto large = UIFont::systemFontOfSize(17);
    r = boundingRectWithSize(kSentence, CGSizeMake(50, 10), 0, withFont(large));
    EXPECT_NEAR(r.origin.y, -large->ascender(), 1e-6);
    EXPECT_NEAR(r.size.height, large->lineHeight(), 1e-6) << "one line, the size does not wrap it";
    EXPECT_GT(r.size.width, 50);
    EXPECT_NEAR(sizeWithAttributes("a\nb\nc", withFont(large)).height, 3 * large->lineHeight(), 1e-3);
    EXPECT_EQ(sizeWithAttributes("", withFont(large)), CGSizeZero);
    EXPECT_EQ(wrapped("", large, 100).size, CGSizeZero);
    std::string bad = "ok\xff\xfe";
    bad.push_back('\0');
    bad += "end";
    EXPECT_GT(sizeWithAttributes(bad, withFont(large)).width,
              sizeWithAttributes("okend", withFont(large)).width);
}

TEST(TextMeasure, LargerRunsAndParagraphStylesShapeTheBox) {
    auto small = UIFont::systemFontOfSize(10);
    auto large = UIFont::systemFontOfSize(30);
    NSMutableAttributedString text("small LARGE", withFont(small));
    double before = text.size().height;
    text.addAttribute(NSFontAttributeName, Value(large), {6, 5});
    EXPECT_NEAR(before, small->lineHeight(), 1e-6);
    EXPECT_NEAR(text.size().height, large->lineHeight(), 0.5);

    auto font = UIFont::systemFontOfSize(10);
    double line = font->lineHeight(), word = sizeWithAttributes("line", withFont(font)).width;
    CGRect plain = wrapped(kSentence, font, 80);
    int lines = int(std::lround(plain.size.height / line));
    struct Case {
        const char* name;
        std::function<void(NSMutableParagraphStyle&)> style;
        std::string text;
        double height, width; // width < 0: no wider than the 80-point box
    } cases[] = {
        {"spacing between lines", [](auto& s) { s.setLineSpacing(5); }, kSentence,
         plain.size.height + 5 * (lines - 1), -1},
        {"truncating", [](auto& s) { s.setLineBreakMode(NSLineBreakByTruncatingTail); }, kSentence, line, -1},
        {"clipping", [](auto& s) { s.setLineBreakMode(NSLineBreakByClipping); }, kSentence, line, -1},
        {"minimum height", [](auto& s) { s.setMinimumLineHeight(30); }, "line", 30, word},
        {"maximum height", [](auto& s) { s.setMaximumLineHeight(8); }, "line", 8, word},
        {"first line indent", [](auto& s) { s.setFirstLineHeadIndent(20); }, "line", line, word + 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CGRect r = wrapped(c.text, font, 80, DBL_MAX, c.style);
        EXPECT_NEAR(r.size.height, c.height, 1e-3);
        if (c.width < 0)
            EXPECT_LE(r.size.width, 80);
        else
            EXPECT_NEAR(r.size.width, c.width, 1e-3);
    }
}
