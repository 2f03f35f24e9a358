#include "platform/foundation/JSONSerialization.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using platform::Data;
using platform::ErrorPtr;
using platform::JSONSerialization;
using platform::JSONWritingOptions;
using platform::Number;
using platform::Value;
using platform::ValueDictionary;

namespace {

std::string write(const Value& value, JSONWritingOptions options = 0) {
    ErrorPtr error;
    auto data = JSONSerialization::dataWithJSONObject(value, options, &error);
    EXPECT_TRUE(data.has_value()) << (error ? error->localizedDescription() : "no error");
    EXPECT_FALSE(error);
    return data ? data->toString() : std::string();
}

std::string writeFailure(const Value& value, JSONWritingOptions options = 0) {
    ErrorPtr error;
    auto data = JSONSerialization::dataWithJSONObject(value, options, &error);
    EXPECT_FALSE(data.has_value()) << data->toString();
    if (!error) {
        ADD_FAILURE() << "no error";
        return {};
    }
    EXPECT_EQ(error->domain(), platform::NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), JSONSerialization::writeInvalidErrorCode);
    return error->localizedDescription();
}

std::string writeNumber(Value number) {
    return write(Value::array({std::move(number)}));
}

Value read(std::string_view text) {
    return JSONSerialization::JSONObjectWithData(Data(text), platform::NSJSONReadingAllowFragments);
}

class Opaque : public platform::Object {};

} // namespace

TEST(JSONWritingLayout, CompactHasNoSpaces) {
    Value v = Value::dictionary({{"a", 1}, {"b", Value::array({1, 2})}, {"c", Value::null()}});
    EXPECT_EQ(write(v), R"({"a":1,"b":[1,2],"c":null})");
    EXPECT_EQ(write(Value(platform::ValueArray{})), "[]");
    EXPECT_EQ(write(Value(ValueDictionary{})), "{}");
    EXPECT_EQ(write(Value(platform::ValueArray{}), platform::NSJSONWritingPrettyPrinted), "[\n\n]");
    EXPECT_EQ(write(Value(ValueDictionary{}), platform::NSJSONWritingPrettyPrinted), "{\n\n}");
}

TEST(JSONWritingLayout, PrettyPrintedMatchesThePlatformsBytes) {
    Value v = Value::dictionary({{"m", "login"}, {"p", Value::dictionary({{"name", "x"}})}});
    EXPECT_EQ(write(v, platform::NSJSONWritingPrettyPrinted), "{\n"
                                                              "  \"m\" : \"login\",\n"
                                                              "  \"p\" : {\n"
                                                              "    \"name\" : \"x\"\n"
                                                              "  }\n"
                                                              "}");
}

TEST(JSONWritingLayout, PrettyPrintedArraysAndEmptyContainers) {
    Value v =
        Value::array({1, Value::array({true, Value::null()}), Value(platform::ValueArray{}),
                      Value(ValueDictionary{}), Value::dictionary({{"e", Value(platform::ValueArray{})}})});
    EXPECT_EQ(write(v, platform::NSJSONWritingPrettyPrinted), "[\n"
                                                              "  1,\n"
                                                              "  [\n"
                                                              "    true,\n"
                                                              "    null\n"
                                                              "  ],\n"
                                                              "  [\n"
                                                              "\n"
                                                              "  ],\n"
                                                              "  {\n"
                                                              "\n"
                                                              "  },\n"
                                                              "  {\n"
                                                              "    \"e\" : [\n"
                                                              "\n"
                                                              "    ]\n"
                                                              "  }\n"
                                                              "]");
}

TEST(JSONWritingLayout, DictionariesKeepInsertionOrderUnlessSorted) {
    Value v = Value::dictionary({{"b", 1}, {"c", 2}, {"a", 3}});
    EXPECT_EQ(write(v), R"({"b":1,"c":2,"a":3})");
    EXPECT_EQ(write(v, platform::NSJSONWritingSortedKeys), R"({"a":3,"b":1,"c":2})");
    EXPECT_EQ(write(Value::dictionary({{"b", Value::dictionary({{"z", 1}, {"y", 2}})}, {"a", 0}}),
                    platform::NSJSONWritingSortedKeys | platform::NSJSONWritingPrettyPrinted),
              "{\n  \"a\" : 0,\n  \"b\" : {\n    \"y\" : 2,\n    \"z\" : 1\n  }\n}");
}

TEST(JSONWritingLayout, SortedKeysCompareByUTF16CodeUnits) {
    // U+FF21 sorts after U+1F600 in UTF-16 (FF21 > D83D) though its UTF-8 bytes sort first.
    Value v = Value::dictionary(
        {{"\xEF\xBC\xA1", 1}, {"\xF0\x9F\x98\x80", 2}, {"\xED\x9F\xBF", 3}, {"ab", 4}, {"a", 5}, {"B", 6}});
    EXPECT_EQ(write(v, platform::NSJSONWritingSortedKeys),
              "{\"B\":6,\"a\":5,\"ab\":4,\"\xED\x9F\xBF\":3,\"\xF0\x9F\x98\x80\":2,\"\xEF\xBC\xA1\":1}");
}

TEST(JSONWritingStrings, EscapesQuotesBackslashesSlashesAndControlCharacters) {
    std::string text("q\"b\\s/\b\f\n\r\t\x01\x1f\x7f\0end", 18);
    EXPECT_EQ(write(Value::array({text})), R"(["q\"b\\s\/\b\f\n\r\t\u0001\u001f)"
                                           "\x7f"
                                           R"(\u0000end"])");
    EXPECT_EQ(write(Value::array({"a/b"}), platform::NSJSONWritingWithoutEscapingSlashes), R"(["a/b"])");
    EXPECT_EQ(write(Value::dictionary({{"k/\n", 1}})), R"({"k\/\n":1})");
    EXPECT_EQ(write(Value::array({"名字 é 😀 \u2028"})), "[\"名字 é 😀 \u2028\"]"); // non-ASCII as is
}

TEST(JSONWritingNumbers, IntegersAndBooleans) {
    EXPECT_EQ(write(Value::array({0, -1, INT64_MIN, INT64_MAX, UINT64_MAX, true, false})),
              "[0,-1,-9223372036854775808,9223372036854775807,18446744073709551615,true,false]");
}

TEST(JSONWritingNumbers, DoublesUseTheShortestTextThatReadsBack) {
    EXPECT_EQ(writeNumber(1.0), "[1]");
    EXPECT_EQ(writeNumber(0.1), "[0.1]");
    EXPECT_EQ(writeNumber(1e20), "[100000000000000000000]");
    EXPECT_EQ(writeNumber(1e21), "[1e+21]");
    EXPECT_EQ(writeNumber(1.5e-7), "[1.5e-07]");
    EXPECT_EQ(writeNumber(0.0001), "[0.0001]");
    EXPECT_EQ(writeNumber(0.00001), "[1e-05]");
    EXPECT_EQ(writeNumber(-2.5), "[-2.5]");
    EXPECT_EQ(writeNumber(123.456), "[123.456]");
    EXPECT_EQ(writeNumber(1700000000.5), "[1700000000.5]");
    EXPECT_EQ(writeNumber(-0.0), "[-0]");
    EXPECT_EQ(writeNumber(5e-324), "[5e-324]");
    EXPECT_EQ(writeNumber(1.7976931348623157e308), "[1.7976931348623157e+308]");
    EXPECT_EQ(writeNumber(0.30000000000000004), "[0.30000000000000004]");
    EXPECT_EQ(writeNumber(Number::floating(0.1f)), "[0.1]");
    EXPECT_EQ(writeNumber(Number::floating(16777216.0f)), "[16777216]");
}

TEST(JSONWritingNumbers, DoublesRoundTripBitForBit) {
    std::mt19937_64 random(20240611);
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d))
            continue;
        std::string text = write(Value::array({d}));
        Value back = read(text);
        ASSERT_EQ(back.count(), 1u) << text;
        double r = back[size_t(0)].doubleOr(NAN);
        EXPECT_EQ(std::memcmp(&r, &d, sizeof d), 0) << text;
    }
}

TEST(JSONWritingNumbers, DecimalsAreWrittenByTheirText) {
    EXPECT_EQ(writeNumber(Number::decimal("18446744073709551616")), "[18446744073709551616]");
    EXPECT_EQ(writeNumber(Number::decimal("-1.5E+999")), "[-1.5E+999]");
    EXPECT_NE(writeFailure(Value::array({Number::decimal("12abc")})).find("12abc"), std::string::npos);
}

TEST(JSONWritingFailures, UnrepresentableValuesWriteNothing) {
    auto url = platform::URL::create("https://example.com/");
    std::vector<std::pair<Value, std::string>> cases{
        {Value(NAN), "NaN"},
        {Value(INFINITY), "infinite"},
        {Value(-std::numeric_limits<double>::infinity()), "infinite"},
        {Value(Number::floating(NAN)), "NaN"},
        {Value(), "nil"},
        {Value(Data(std::string_view("x"))), "NSData"},
        {Value(platform::Date(0)), "NSDate"},
        {Value(url), "NSURL"},
        {Value(platform::ValueSet{1}), "NSSet"},
        {Value(std::make_shared<Opaque>()), "Invalid type"},
        {Value("bad \xFF utf8"), "UTF-8"},
    };
    for (const auto& [member, expected] : cases) {
        EXPECT_NE(writeFailure(Value::array({1, member})).find(expected), std::string::npos) << expected;
        if (!member.isNil()) { // a nil value cannot be stored in a dictionary at all
            EXPECT_NE(writeFailure(Value::dictionary({{"k", member}})).find(expected), std::string::npos)
                << expected;
        }
        EXPECT_FALSE(JSONSerialization::isValidJSONObject(Value::array({member}))) << expected;
    }
    EXPECT_FALSE(JSONSerialization::isValidJSONObject(Value::dictionary({{"bad \xC0\x80 key", 1}})));
}

TEST(JSONWritingFailures, TopLevelFragmentsNeedTheOption) {
    for (const Value& fragment : {Value("x"), Value(5), Value::null(), Value(true)}) {
        EXPECT_EQ(writeFailure(fragment), "Invalid top-level type in JSON write.");
        EXPECT_FALSE(JSONSerialization::isValidJSONObject(fragment));
    }
    EXPECT_EQ(write(Value("x/y"), platform::NSJSONWritingFragmentsAllowed), R"("x\/y")");
    EXPECT_EQ(write(Value(2.5), platform::NSJSONWritingFragmentsAllowed), "2.5");
    EXPECT_EQ(write(Value::null(), platform::NSJSONWritingFragmentsAllowed), "null");
    EXPECT_EQ(writeFailure(Value(), platform::NSJSONWritingFragmentsAllowed),
              "Invalid type in JSON write (nil).");
    EXPECT_TRUE(
        JSONSerialization::isValidJSONObject(Value::array({Value::dictionary({{"a", Value::null()}})})));
}

TEST(JSONWritingFailures, NestingBeyondTheLimitFailsInsteadOfOverflowing) {
    Value deep = Value::array({});
    for (size_t i = 1; i < JSONSerialization::maximumDepth; ++i)
        deep = Value::array({deep});
    EXPECT_TRUE(JSONSerialization::isValidJSONObject(deep));
    EXPECT_NE(writeFailure(Value::array({deep})).find("Too many nested"), std::string::npos);
}

TEST(JSONRoundTrip, CompactDocumentReadsAndWritesBackToTheSameBytes) {
    const std::string document =
        R"({"type":"chat","uid":123456,"nickname":"名字","content":"a\"b\\c\/d\n\u0001","level":3,)"
        R"("timestamp":1700000000.5,"big":18446744073709551616,"huge":1e400,"min":-9223372036854775808,)"
        R"("max":18446744073709551615,"list":[true,false,null,[],{},0.1,-1,-0,1.5e-07],"z":{"y":{"x":[]}}})";
    Value v = read(document);
    ASSERT_TRUE(v.isDictionary());
    EXPECT_EQ(write(v), document);
}

TEST(JSONRoundTrip, PrettyPrintedTextReadsBackEqual) {
    Value v =
        Value::dictionary({{"m", "send"},
                           {"p", Value::dictionary({{"list", Value::array({1, 2.5, "é", Value::null()})},
                                                    {"empty", Value(ValueDictionary{})}})}});
    std::string pretty = write(v, platform::NSJSONWritingPrettyPrinted);
    Value back = read(pretty);
    EXPECT_EQ(back, v);
    EXPECT_EQ(write(back, platform::NSJSONWritingPrettyPrinted), pretty);
}
