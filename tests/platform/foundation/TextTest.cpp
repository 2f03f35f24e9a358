#include "platform/foundation/Text.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using platform::Number;
using platform::Range;
namespace text = platform::text;

namespace {

// Family: man ZWJ woman ZWJ girl (three pictographs joined, 8 UTF-16 units).
const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
const std::string flagCN = "\xF0\x9F\x87\xA8\xF0\x9F\x87\xB3";
const std::string flagUS = "\xF0\x9F\x87\xBA\xF0\x9F\x87\xB8";
const std::string grinning = "\xF0\x9F\x98\x80"; // U+1F600

std::vector<std::string> pieces(const std::string& s) {
    std::vector<std::string> out;
    for (const auto& c : text::composedCharacters(s))
        out.push_back(s.substr(c.byteOffset, c.byteLength));
    return out;
}

} // namespace

TEST(UTF16Length, CountsUnitsNotBytes) {
    EXPECT_EQ(text::utf16Length(""), 0u);
    EXPECT_EQ(text::utf16Length("hello"), 5u);
    EXPECT_EQ(text::utf16Length("\xE4\xBD\xA0\xE5\xA5\xBD"), 2u); // two CJK characters, six bytes
    EXPECT_EQ(text::utf16Length(grinning), 2u);                   // one surrogate pair
    EXPECT_EQ(text::utf16Length("a" + grinning + "\xE4\xBD\xA0"), 4u);
    EXPECT_EQ(text::utf16Length(family), 8u);
}

TEST(UTF16Length, MalformedBytesCountAsReplacementCharacters) {
    for (std::string bad :
         {"\xFF\xFE", "\xC0\xAF", "\xE4\xBD", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80z"}) {
        EXPECT_FALSE(text::isValidUTF8(bad));
        EXPECT_EQ(text::utf16Length(bad), text::toUTF16(bad).size());
        EXPECT_EQ(text::utf16Length(bad), bad.size()); // one U+FFFD per byte
        EXPECT_TRUE(text::isValidUTF8(text::fromUTF16(text::toUTF16(bad))));
    }
    EXPECT_TRUE(text::isValidUTF8("plain \xE4\xBD\xA0 " + grinning + " \xEF\xBF\xBD"));
}

TEST(UTF16Conversion, RoundTripsAndMendsLoneSurrogates) {
    std::string mixed = "a" + grinning + "\xE4\xBD\xA0" + family;
    std::u16string units = text::toUTF16(mixed);
    EXPECT_EQ(units.substr(0, 4), std::u16string(u"a\U0001F600\u4F60"));
    EXPECT_EQ(text::fromUTF16(units), mixed);
    EXPECT_EQ(text::fromUTF16(u"x\xD83Dy"), "x\xEF\xBF\xBDy"); // high surrogate alone
    EXPECT_EQ(text::fromUTF16(u"\xDE00"), "\xEF\xBF\xBD");     // low surrogate alone
}

TEST(UTF16Conversion, ExactDecodingRefusesALoneSurrogateAnywhere) {
    EXPECT_EQ(text::fromUTF16Exactly(u"a\xD83D\xDE00z"), "a\xF0\x9F\x98\x80z");
    for (std::u16string lone : {u"\xD83D", u"x\xD83Dy", u"\xDE00x", u"\xD83D\xD83D\xDE00", u"\xDE00\xD83D"})
        EXPECT_EQ(text::fromUTF16Exactly(lone), std::nullopt) << text::fromUTF16(lone);
}

TEST(UTF16Substring, NeverCutsASurrogatePair) {
    std::string s = "a" + grinning + "b";
    EXPECT_EQ(text::substringToIndex(s, 1), "a");
    EXPECT_EQ(text::substringToIndex(s, 2), "a"); // inside the pair: the pair's start
    EXPECT_EQ(text::substringFromIndex(s, 2), grinning + "b");
    EXPECT_EQ(text::substringToIndex(s, 3), "a" + grinning);
    EXPECT_EQ(text::substringWithRange(s, {1, 2}), grinning);
    EXPECT_EQ(text::substringWithRange(s, {3, 100}), "b");
    EXPECT_EQ(text::substringWithRange(s, {9, 1}), "");
    EXPECT_EQ(text::substringWithRange(s, {1, UINT64_MAX}), grinning + "b");
    EXPECT_EQ(text::utf16IndexOfByteOffset(s, 5), 3u);
    EXPECT_EQ(text::utf16IndexOfByteOffset(s, 3), 1u); // inside the UTF-8 sequence: its start
}

TEST(UTF16Substring, PrefixAndSuffixAlwaysMakeTheWholeValidText) {
    std::string s = "x\xE4\xBD\xA0" + grinning + family + "e\xCC\x81" + flagCN;
    uint64_t length = text::utf16Length(s);
    for (uint64_t i = 0; i <= length + 1; ++i) {
        auto prefix = text::substringToIndex(s, i);
        auto suffix = text::substringFromIndex(s, i);
        EXPECT_EQ(prefix + suffix, s) << i;
        EXPECT_TRUE(text::isValidUTF8(prefix)) << i;
        EXPECT_LE(text::utf16Length(prefix), i);
        for (uint64_t n = 0; n + i <= length + 1; ++n)
            ASSERT_TRUE(text::isValidUTF8(text::substringWithRange(s, {i, n}))) << i << "," << n;
    }
}

TEST(ComposedCharacters, KeepCombiningMarksWithTheirBase) {
    EXPECT_EQ(pieces("e\xCC\x81x"), (std::vector<std::string>{"e\xCC\x81", "x"})); // e + acute
    EXPECT_EQ(pieces("a\xCC\x81\xCC\xA7"), (std::vector<std::string>{"a\xCC\x81\xCC\xA7"}));
    // Devanagari KA + vowel sign I (a spacing mark) is one character.
    EXPECT_EQ(text::composedCharacterCount("\xE0\xA4\x95\xE0\xA4\xBF"), 1u);
    // A mark with no base stands alone.
    EXPECT_EQ(text::composedCharacterCount("\xCC\x81"), 1u);
}

TEST(ComposedCharacters, KeepEmojiSequencesWhole) {
    EXPECT_EQ(pieces(family + "!"), (std::vector<std::string>{family, "!"}));
    std::string thumbsUpMedium = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";
    EXPECT_EQ(text::composedCharacterCount(thumbsUpMedium), 1u);
    EXPECT_EQ(text::composedCharacterCount("\xE2\x9D\xA4\xEF\xB8\x8F"), 1u);  // heart + VS16
    EXPECT_EQ(text::composedCharacterCount("1\xEF\xB8\x8F\xE2\x83\xA3"), 1u); // keycap one
    // A ZWJ after a letter does not glue the next pictograph to it.
    EXPECT_EQ(text::composedCharacterCount("a\xE2\x80\x8D" + grinning), 2u);
}

TEST(ComposedCharacters, PairFlagsTwoByTwo) {
    EXPECT_EQ(pieces(flagCN + flagUS), (std::vector<std::string>{flagCN, flagUS}));
    std::string three = flagCN + "\xF0\x9F\x87\xBA";
    EXPECT_EQ(pieces(three), (std::vector<std::string>{flagCN, "\xF0\x9F\x87\xBA"}));
}

TEST(ComposedCharacters, KeepCRLFAndHangulTogether) {
    EXPECT_EQ(pieces("a\r\nb"), (std::vector<std::string>{"a", "\r\n", "b"}));
    EXPECT_EQ(pieces("\n\r"), (std::vector<std::string>{"\n", "\r"}));
    EXPECT_EQ(pieces("\r\xCC\x81"), (std::vector<std::string>{"\r", "\xCC\x81"})); // no mark after a control
    EXPECT_EQ(text::composedCharacterCount("\xE1\x84\x80\xE1\x85\xA1\xE1\x86\xA8"), 1u); // L V T jamo
    EXPECT_EQ(text::composedCharacterCount("\xED\x95\x9C\xEA\xB5\xAD"), 2u);             // two syllables
    EXPECT_EQ(text::composedCharacterCount("\xEA\xB0\x80\xE1\x86\xA8"), 1u);             // LV syllable + T
}

TEST(ComposedCharacters, RangesAreInUTF16Units) {
    std::string s = "a" + family + "b";
    EXPECT_EQ(text::rangeOfComposedCharacterSequenceAtIndex(s, 0), (Range{0, 1}));
    EXPECT_EQ(text::rangeOfComposedCharacterSequenceAtIndex(s, 4), (Range{1, 8}));
    EXPECT_EQ(text::rangeOfComposedCharacterSequenceAtIndex(s, 9), (Range{9, 1}));
    EXPECT_EQ(text::rangeOfComposedCharacterSequenceAtIndex(s, 10).location, Range::notFound);
    EXPECT_EQ(text::rangeOfComposedCharacterSequencesForRange(s, {2, 1}), (Range{1, 8}));
    EXPECT_EQ(text::rangeOfComposedCharacterSequencesForRange(s, {0, 2}), (Range{0, 9}));
    EXPECT_EQ(text::rangeOfComposedCharacterSequencesForRange(s, {9, 0}), (Range{9, 1}));
    EXPECT_EQ(text::rangeOfComposedCharacterSequencesForRange(s, {50, 3}), (Range{10, 0}));
    auto characters = text::composedCharacters(s);
    ASSERT_EQ(characters.size(), 3u);
    EXPECT_EQ(characters[1].byteOffset, 1u);
    EXPECT_EQ(characters[1].byteLength, family.size());
    EXPECT_EQ(text::nextComposedCharacterBoundary(s, 1), 1 + family.size());
}

TEST(ComposedCharacters, PrefixKeepsOnlyWholeCharactersThatFit) {
    std::string s = "ab" + family + "c";
    EXPECT_EQ(text::prefixOfComposedCharacters(s, 9), "ab");
    EXPECT_EQ(text::prefixOfComposedCharacters(s, 10), "ab" + family);
    EXPECT_EQ(text::prefixOfComposedCharacters(s, 100), s);
    EXPECT_EQ(text::prefixOfComposedCharacters(s, 0), "");
}

// The Unicode conformance file, where the machine has it (Debian's unicode-data package).
TEST(ComposedCharacters, AgreeWithTheUnicodeConformanceCases) {
    std::ifstream in("/usr/share/unicode/auxiliary/GraphemeBreakTest.txt");
    if (!in)
        GTEST_SKIP() << "GraphemeBreakTest.txt is not installed";
    std::string line;
    int cases = 0;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        std::istringstream words(line);
        std::string word;
        std::string s;
        std::vector<std::string> expected;
        while (words >> word) {
            if (word == "\xC3\xB7") { // DIVISION SIGN: a break
                expected.emplace_back();
            } else if (word == "\xC3\x97") { // MULTIPLICATION SIGN: no break
            } else {
                std::string encoded;
                text::appendUTF8(encoded, static_cast<char32_t>(std::stoul(word, nullptr, 16)));
                s += encoded;
                expected.back() += encoded;
            }
        }
        expected.pop_back(); // the break after the last character opens nothing
        ASSERT_EQ(pieces(s), expected) << line;
        ++cases;
    }
    EXPECT_GT(cases, 500);
}

TEST(NumericValue, SkipsLeadingBlanksAndReadsTheLongestPrefix) {
    EXPECT_EQ(text::intValue("  42abc"), 42);
    EXPECT_EQ(text::intValue("\t\n -17 apples"), -17);
    EXPECT_EQ(text::intValue("+5"), 5);
    EXPECT_EQ(text::intValue("12.9"), 12);
    EXPECT_EQ(text::integerValue("\xE3\x80\x80"
                                 "8"),
              8); // ideographic space
    EXPECT_EQ(text::doubleValue(" 3.25e2xyz"), 325.0);
    EXPECT_EQ(text::doubleValue(".5"), 0.5);
    EXPECT_EQ(text::doubleValue("-.5e-1"), -0.05);
    EXPECT_EQ(text::doubleValue("7."), 7.0);
    EXPECT_EQ(text::doubleValue("1e"), 1.0);
    EXPECT_EQ(text::doubleValue("1e+"), 1.0);
    EXPECT_FLOAT_EQ(text::floatValue("0.1"), 0.1f);
    EXPECT_TRUE(std::isinf(text::doubleValue("1e400")));
}

TEST(NumericValue, GarbageReadsAsZero) {
    for (const char* garbage :
         {"", "   ", "abc", "- 5", "+-5", "0x1A", ".", "-.", "e5", "inf", "nan", "\xFF"}) {
        EXPECT_EQ(text::integerValue(garbage), 0) << garbage;
        EXPECT_EQ(text::doubleValue(garbage), 0.0) << garbage;
        EXPECT_FALSE(text::boolValue(garbage)) << garbage;
    }
    EXPECT_EQ(text::integerValue("0x1A"), 0);
}

TEST(NumericValue, IntegersReadExactlyAndSaturate) {
    EXPECT_EQ(text::intValue("16777217"), 16777217);
    EXPECT_EQ(text::longLongValue("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(text::longLongValue("9007199254740993"), 9007199254740993);
    EXPECT_EQ(text::longLongValue("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(text::integerValue("99999999999999999999"), INT64_MAX);
    EXPECT_EQ(text::integerValue("-99999999999999999999"), INT64_MIN);
    EXPECT_EQ(text::integerValue("9223372036854775808"), INT64_MAX);
    EXPECT_EQ(text::intValue("99999999999"), INT32_MAX);
    EXPECT_EQ(text::intValue("-2147483649"), INT32_MIN);
    EXPECT_EQ(text::integerValue(std::string(10000, '9')), INT64_MAX);
}

TEST(NumericValue, BoolReadsYesTrueAndNonZeroDigits) {
    for (const char* yes : {"YES", "yes", "true", "T", "1", "-0001", "  +2", "9 lives"})
        EXPECT_TRUE(text::boolValue(yes)) << yes;
    for (const char* no : {"NO", "no", "false", "0", "-0", "0.5", "000", "x1", "+"})
        EXPECT_FALSE(text::boolValue(no)) << no;
}

TEST(NumberFromString, KeepsIntegersExactAndRefusesPartialNumbers) {
    auto n = text::numberFromString("16777217");
    ASSERT_TRUE(n);
    EXPECT_EQ(n->kind(), Number::Kind::Int);
    EXPECT_EQ(n->int64Value(), 16777217);
    EXPECT_EQ(text::numberFromString("-9223372036854775808")->int64Value(), INT64_MIN);
    EXPECT_EQ(text::numberFromString("+7")->int64Value(), 7);
    auto big = text::numberFromString("18446744073709551615");
    EXPECT_EQ(big->kind(), Number::Kind::UInt);
    EXPECT_EQ(big->uint64Value(), UINT64_MAX);
    EXPECT_EQ(text::numberFromString("18446744073709551616")->kind(), Number::Kind::Double);
    EXPECT_EQ(text::numberFromString("-9223372036854775809")->kind(), Number::Kind::Double);
    auto real = text::numberFromString("1.5e3");
    EXPECT_EQ(real->kind(), Number::Kind::Double);
    EXPECT_EQ(real->doubleValue(), 1500.0);
    EXPECT_EQ(text::numberFromString("-.25")->doubleValue(), -0.25);
    for (const char* bad : {"", " 1", "1 ", "1a", "-", "+", ".", "e5", "1e", "0x10", "inf", "NaN", "1,000"})
        EXPECT_FALSE(text::numberFromString(bad)) << bad;
}

TEST(TextConveniences, CaseTrimSplitReplace) {
    EXPECT_EQ(text::lowercaseASCII("HeLLo \xC3\x84"), "hello \xC3\x84");
    EXPECT_EQ(text::uppercaseASCII("abc-1"), "ABC-1");
    EXPECT_TRUE(text::equalsIgnoringASCIICase("Content-Type", "content-type"));
    EXPECT_FALSE(text::equalsIgnoringASCIICase("a", "ab"));

    EXPECT_EQ(text::trimmingWhitespaceAndNewlines("\n\t \xE3\x80\x80 a b \r\n"), "a b");
    EXPECT_EQ(text::trimmingWhitespace(" a \n"), "a \n");
    EXPECT_EQ(text::trimmingWhitespaceAndNewlines(" \n "), "");
    EXPECT_EQ(text::trimmingWhitespaceAndNewlines("\xE4\xBD\xA0"), "\xE4\xBD\xA0");
    // Texts whose last byte is or is not a plain character that stays, and malformed bytes, which
    // are characters of their own and stay.
    struct Trim {
        std::string_view text;
        std::string_view trimmed;
    };
    for (auto [text, trimmed] : std::initializer_list<Trim>{
             {"", ""},
             {" \t ", ""},
             {"\xE3\x80\x80", ""},
             {"  text/plain", "text/plain"},
             {"a \xE3\x80\x80", "a"},
             {"\xC2\xA0"
              "a\xC2\xA0",
              "a"},
             {" \xE4\xBD\xA0 x", "\xE4\xBD\xA0 x"},
             {" \xE3\x80", "\xE3\x80"},
             {"\xE3\x80 ", "\xE3\x80"},
             {"\xFF a", "\xFF a"},
         })
        EXPECT_EQ(text::trimmingWhitespace(text), trimmed) << text;

    using V = std::vector<std::string>;
    EXPECT_EQ(text::componentsSeparatedByString("a,b,,c", ","), (V{"a", "b", "", "c"}));
    EXPECT_EQ(text::componentsSeparatedByString("", ","), (V{""}));
    EXPECT_EQ(text::componentsSeparatedByString(",", ","), (V{"", ""}));
    EXPECT_EQ(text::componentsSeparatedByString("a::b", "::"), (V{"a", "b"}));
    EXPECT_EQ(text::componentsSeparatedByString("abc", ""), (V{"abc"}));

    EXPECT_EQ(text::stringByReplacingOccurrencesOfString("aaa", "aa", "b"), "ba");
    EXPECT_EQ(text::stringByReplacingOccurrencesOfString("a.b.c", ".", ""), "abc");
    EXPECT_EQ(text::stringByReplacingOccurrencesOfString("abc", "", "x"), "abc");
    EXPECT_EQ(text::stringByReplacingOccurrencesOfString("x", "x", "xx"), "xx");
}
