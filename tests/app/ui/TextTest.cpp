#include "app/ui/NSString+Extension.h"

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
    const CGSize oneLine = sizeWithFont("直播", font, CGSizeMake(300, 1000));
    EXPECT_GT(oneLine.width, 0);
    EXPECT_NEAR(oneLine.height, font->lineHeight(), 0.5);

    const std::string longText(60, 'w');
    const CGSize wrapped = sizeWithFont(longText, font, CGSizeMake(120, 1000));
    EXPECT_LE(wrapped.width, 120);
    EXPECT_GT(wrapped.height, 2 * oneLine.height);
    // Only whole lines that fit the height are counted.
    const CGSize cut = sizeWithFont(longText, font, CGSizeMake(120, oneLine.height * 1.5));
    EXPECT_NEAR(cut.height, oneLine.height, 0.5);
}

} // namespace
