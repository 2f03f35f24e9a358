#include "app/ui/CustomSearchBar.h"
#include "app/ui/CustomTextField.h"
#include "app/ui/CustomTextView.h"
#include "app/ui/NSString+Extension.h"
#include "platform/ui/UIKeyboard.h"
#include "tests/support/UIFixture.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

using namespace platform;

namespace {

TEST(TextTest, TimeIntervalShowsOnlyThePartsItReaches) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "0秒"},
        {59.9, "59秒"},
        {60, "1分0秒"},
        {3600, "1时0秒"},
        {3661, "1时1分1秒"},
        {-61, "-1分-1秒"},
        {-3600.5, "-1时0秒"},
        {std::nan(""), "0秒"},
        {1e12, "596523时14分7秒"},
        {-std::numeric_limits<double>::infinity(), "-596523时-14分-8秒"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(stringWithTimeInterval(c.seconds), c.text) << c.seconds;
}

TEST(TextTest, EmojiWalkFollowsTheSequenceRules) {
    const struct {
        const char* text;
        bool emoji;
    } cases[] = {
        {"", false},
        {"直播间 Live 2024", false},
        {"\u00A9", true},         // one unit in the list
        {"\u00A9\uFE0F", false},  // two units, the second is not the keycap mark
        {"abc\u00AE", true},      // found after plain text
        {"\U0001F600", true},     // a face: a surrogate pair in range
        {"\U0001F780", false},    // a surrogate pair just past the range
        {"#\u20E3", true},        // a keycap written directly
        {"1\uFE0F\u20E3", false}, // the platform's usual keycap: the second unit is U+FE0F
        {"\u2B50 star", true},
        {"\u3030", true},
        {"\u2B08", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isContainsEmoji(c.text), c.emoji) << c.text;
}

TEST(TextTest, MeasuredTextWrapsWithinTheWidth) {
    auto font = UIFont::systemFontOfSize(14);
    const double line = font->lineHeight();
    EXPECT_NEAR(sizeWithFont("直播", font, CGSizeMake(300, 1000)).height, line, 0.5);
    const CGSize wrapped = sizeWithFont(std::string(60, 'w'), font, CGSizeMake(120, 1000));
    EXPECT_LE(wrapped.width, 120);
    EXPECT_GT(wrapped.height, 2 * line);
    // Only whole lines that fit the height are counted.
    EXPECT_NEAR(sizeWithFont(std::string(60, 'w'), font, CGSizeMake(120, line * 1.5)).height, line, 0.5);
}

class TextInputWidgetsTest : public liveapp::test::UIFixture {
protected:
    void TearDown() override {
        if (auto responder = UIResponder::currentFirstResponder())
            responder->resignFirstResponder();
        UIKeyboard::reset();
        UIFixture::TearDown();
    }
};

TEST_F(TextInputWidgetsTest, TextFieldIsBuiltAndConstrainedAtCreation) {
    auto field = CustomTextField::create();
    EXPECT_DOUBLE_EQ(field->layer()->borderWidth(), 0.5) << "one pixel at scale 2";

    field->setFrame(CGRectMake(20, 100, 300, 44));
    window->addSubview(field);
    window->layoutIfNeeded();
    EXPECT_EQ(field->icon()->frame(), CGRectMake(12, 12, 20, 20));
    EXPECT_EQ(field->textField()->frame(), CGRectMake(44, 0, 249, 44));
    auto text = CustomTextView::create(CGRectMake(0, 0, 200, 100));
    window->addSubview(text);
    window->layoutIfNeeded();
    EXPECT_EQ(text->textView()->frame(), CGRectMake(5, 5, 190, 90));
}

TEST_F(TextInputWidgetsTest, SearchBarIsTwentyEightPointsTallAndCentresIconAndPlaceholderOnlyWhileIdle) {
    auto bar = CustomSearchBar::create(CGRectMake(10, 20, 300, 44));
    EXPECT_EQ(bar->frame(), CGRectMake(10, 20, 300, 28));
    ASSERT_TRUE(bar->background()) << "the generator's image";
    bar->adaptLightBar(true);
    EXPECT_TRUE(bar->layer()->borderColor()->isEqual(
        *UIColor::colorWithRed(229 / 255.0, 229 / 255.0, 229 / 255.0, 1)));
    bar->setPlaceholderTextColor(UIColor::blueColor());
    EXPECT_TRUE(UIColor::isEqual(bar->placeholderTextColor(), UIColor::blueColor()))
        << "the given colour, not a grey of the widget's own";
    window->addSubview(bar);
    bar->setPlaceholder("Search rooms");
    double max = std::numeric_limits<double>::max();
    double placeholderWidth =
        sizeWithFont("Search rooms", UIFont::systemFontOfSize(14), CGSizeMake(max, max)).width;
    ASSERT_GT(placeholderWidth, 50);
    double groupLeft = (300 - (placeholderWidth + 13 + 4)) / 2;
    CGRect bounds = bar->bounds();
    EXPECT_EQ(bar->leftViewRectForBounds(bounds), CGRectMake(groupLeft, 7.5, 13, 13));
    EXPECT_DOUBLE_EQ(bar->placeholderRectForBounds(bounds).origin.x, groupLeft + 17);
    window->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(bar->leftView()->frame().origin.x, groupLeft);

    ASSERT_TRUE(bar->becomeFirstResponder());
    window->layoutIfNeeded();
    EXPECT_EQ(bar->leftView()->frame(), CGRectMake(7, 7.5, 13, 13));
    EXPECT_DOUBLE_EQ(bar->editingRectForBounds(bounds).origin.x, 24) << "4 points after the icon";
    EXPECT_DOUBLE_EQ(bar->placeholderRectForBounds(bounds).origin.x, 24);

    bar->setText("live");
    bar->resignFirstResponder();
    window->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(bar->leftView()->frame().origin.x, 7) << "text keeps the icon at the left";
    EXPECT_DOUBLE_EQ(bar->textRectForBounds(bounds).origin.x, 24);
}

} // namespace
