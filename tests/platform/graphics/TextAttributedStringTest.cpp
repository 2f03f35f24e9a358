#include "platform/foundation/Exception.h"
#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/ParagraphStyle.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

NSAttributes colour(const UIColorPtr& c) {
    return NSAttributes{{NSForegroundColorAttributeName, Value(c)}};
}

UIColorPtr colourAt(const NSAttributedString& s, uint64_t index, Range* range = nullptr) {
    return s.attribute(NSForegroundColorAttributeName, index, range).objectAs<UIColor>();
}

} // namespace

TEST(TextAttributedString, RunsRangesEditsAppendsCopiesAndEnumeration) {
    auto font = UIFont::systemFontOfSize(10);
    NSMutableAttributedString hello(
        "hello world",
        {{NSFontAttributeName, Value(font)}, {NSForegroundColorAttributeName, Value(UIColor::whiteColor())}});
    hello.addAttribute(NSForegroundColorAttributeName, Value(UIColor::redColor()), {6, 5});
    ASSERT_EQ(hello.runs().size(), 2u);
    Range span;
    EXPECT_TRUE(colourAt(hello, 7, &span)->isEqual(*UIColor::redColor()));
    EXPECT_EQ(span, (Range{6, 5}));
    EXPECT_EQ(hello.attribute(NSFontAttributeName, 7, &span).objectAs<UIFont>(), font);
    EXPECT_EQ(span, (Range{0, 11})) << "the font's span covers both runs";
    // A distinct but equal colour object makes the runs equal, so they merge back.
    hello.addAttribute(NSForegroundColorAttributeName, Value(UIColor::colorWithWhite(1, 1)), {6, 5});
    EXPECT_EQ(hello.runs().size(), 1u);
    hello.removeAttribute(NSForegroundColorAttributeName, {0, 2});
    EXPECT_TRUE(hello.attribute(NSForegroundColorAttributeName, 0, &span).isNil());
    EXPECT_EQ(span, (Range{0, 2}));

    // Out-of-range access raises a range exception.
    NSMutableAttributedString s("abc");
    EXPECT_THROW(s.attributesAtIndex(3, nullptr), Exception);
    EXPECT_THROW(s.attributedSubstringFromRange({2, 2}), Exception);
    EXPECT_THROW(s.addAttribute(NSKernAttributeName, Value(1), {0, 4}), Exception);
    EXPECT_THROW(s.replaceCharactersInRange({4, 0}, "x"), Exception);
    EXPECT_THROW(s.deleteCharactersInRange({UINT64_MAX, 2}), Exception) << "no wrap-around in range checks";
    try {
        s.attributedSubstringFromRange({1, 5});
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.name(), NSRangeException);
    }
    EXPECT_NO_THROW(s.attributedSubstringFromRange({3, 0}));

    // Replaced text inherits the attributes the platform picks.
    NSMutableAttributedString t("ab", colour(UIColor::redColor()));
    t.addAttribute(NSForegroundColorAttributeName, Value(UIColor::blueColor()), {1, 1});
    t.replaceCharactersInRange({1, 1}, "XY"); // first replaced character's attributes
    EXPECT_EQ(t.string(), "aXY");
    EXPECT_TRUE(colourAt(t, 2)->isEqual(*UIColor::blueColor()));
    t.replaceCharactersInRange({1, 0}, "-"); // the character before
    EXPECT_TRUE(colourAt(t, 1)->isEqual(*UIColor::redColor()));
    t.replaceCharactersInRange({0, 0}, ">"); // at the start: the character after
    EXPECT_TRUE(colourAt(t, 0)->isEqual(*UIColor::redColor()));
    EXPECT_EQ(t.string(), ">a-XY");
    t.deleteCharactersInRange({1, 3});
    EXPECT_EQ(t.string(), ">Y");
    EXPECT_EQ(t.length(), 2u);

    NSMutableAttributedString line;
    line.appendAttributedString(NSAttributedString("主播：", colour(UIColor::colorWithRed(0, 1, 0.9, 1))));
    line.appendAttributedString(NSAttributedString("hello", colour(UIColor::whiteColor())));
    EXPECT_EQ(line.string(), "主播：hello");
    EXPECT_EQ(line.length(), 8u);
    NSAttributedString emoji("直播😀a"); // lengths and ranges count UTF-16 units: the emoji is a pair
    EXPECT_EQ(emoji.length(), 5u);
    EXPECT_EQ(emoji.attributedSubstringFromRange({2, 2})->string(), "😀");
    EXPECT_EQ(emoji.attributedSubstringFromRange({4, 1})->string(), "a");
    Range range;
    colourAt(line, 4, &range);
    EXPECT_EQ(range, (Range{3, 5}));
    line.appendAttributedString(line); // appending itself doubles it
    EXPECT_EQ(line.length(), 16u);
    EXPECT_EQ(line.runs().size(), 4u);

    NSMutableAttributedString a("abc", colour(UIColor::redColor()));
    auto copy = a.copy();
    auto mutableCopy = a.mutableCopy();
    mutableCopy->removeAttribute(NSForegroundColorAttributeName, {0, 1});
    EXPECT_FALSE(a.isEqualToAttributedString(*mutableCopy));
    EXPECT_TRUE(a.isEqualToAttributedString(*copy)) << "copies are independent";

    std::vector<Range> seen;
    mutableCopy->enumerateAttributesInRange({0, 3}, NSAttributedStringEnumerationReverse,
                                            [&](const NSAttributes&, Range r, bool*) { seen.push_back(r); });
    EXPECT_EQ(seen, (std::vector<Range>{{1, 2}, {0, 1}}));
    int calls = 0;
    mutableCopy->enumerateAttribute(NSForegroundColorAttributeName, {0, 3}, 0,
                                    [&](const Value&, Range, bool* stop) { *stop = ++calls > 0; });
    EXPECT_EQ(calls, 1);
    // Paragraph styles: mutable copies are independent and clamp negatives.
    auto style = NSParagraphStyle::defaultParagraphStyle()->mutableCopy();
    style->setAlignment(NSTextAlignmentCenter);
    style->setLineSpacing(-4);
    EXPECT_EQ(style->lineSpacing(), 0);
    EXPECT_EQ(NSParagraphStyle::defaultParagraphStyle()->alignment(), NSTextAlignmentNatural);
    auto frozen = style->copy();
    style->setLineBreakMode(NSLineBreakByTruncatingTail);
    EXPECT_EQ(frozen->lineBreakMode(), NSLineBreakByWordWrapping);
    EXPECT_FALSE(frozen->isEqual(*style));
}
