#include "json/ValueTransformer.h"

#include "json/MappedModel.h"
#include <cmath>
#include <gtest/gtest.h>
#include <regex>

using platform::Number;
using platform::Value;

namespace {

const Number& numberOf(const Value& v) {
    static const Number none;
    return v.number() ? *v.number() : none;
}

} // namespace

TEST(ValueTransformerTable, HiddenConversionsAnswerOnlyUnderTheirPrefixedName) {
    ValueTransformer transformer;
    EXPECT_TRUE(transformer.responds("NSStringFromNSNumber:"));
    EXPECT_FALSE(transformer.responds("NSStringFromNSNumber"));
    EXPECT_FALSE(transformer.responds("NSDateFromNSString:"));
    EXPECT_TRUE(transformer.responds("__NSDateFromNSString:"));
    EXPECT_TRUE(transformer.respondsTo("__JSONObjectFromNSDate:"));
    EXPECT_TRUE(transformer.responds("__NSDictionaryFromNSArray:"));
    EXPECT_FALSE(transformer.responds("NSDecimalNumberFromNSNumber:"));
    EXPECT_TRUE(transformer.transform("NoSuchThingFromNSString:", Value("x")).isNil());
}

TEST(ValueTransformerTable, RegisteredConversionIsSeenByEveryInstance) {
    ValueTransformer first;
    ValueTransformer::registerConversion("NSStringFromNSData:",
                                         [](const Value& v) { return Value(v.data()->toString()); });
    ValueTransformer second;
    EXPECT_TRUE(first.responds("NSStringFromNSData:"));
    EXPECT_EQ(second.transform("NSStringFromNSData:", Value(platform::Data(std::string_view("hi")))),
              Value("hi"));

    ValueTransformer::registerConversion("NSStringFromNSData:",
                                         [](const Value&) { return Value("replaced"); });
    EXPECT_EQ(first.transform("NSStringFromNSData:", Value(platform::Data())), Value("replaced"));
}

TEST(ValueTransformerTable, PrimitiveCodesNameTheirTypesAndClustersResolveToTheirPublicClass) {
    ValueTransformer transformer;
    const std::pair<const char*, std::optional<std::string>> primitives[] = {
        {"q", "long"}, {"Q", "NSUInteger"}, {"I", "NSInteger"},  {"B", "BOOL"},
        {"c", "BOOL"}, {"@?", "Block"},     {"C", std::nullopt}, {"@", std::nullopt}};
    for (const auto& [code, name] : primitives)
        EXPECT_EQ(transformer.primitiveName(code), name) << code;
    EXPECT_EQ(transformer.primitivesNames().size(), 11u);
    const std::pair<const char*, const char*> clusters[] = {{"NSMutableString", "NSString"},
                                                            {"NSDecimalNumber", "NSNumber"},
                                                            {"NSMutableArray", "NSArray"},
                                                            {"NSMutableDictionary", "NSDictionary"},
                                                            {"MappedModelArray", "MappedModelArray"}};
    for (auto [concrete, cluster] : clusters)
        EXPECT_EQ(ValueTransformer::classByResolvingClusterClasses(concrete), cluster);
    const std::pair<Value, const char*> values[] = {{Value("a"), "NSString"},
                                                    {Value(Number::decimal("1.5")), "NSNumber"},
                                                    {Value(true), "NSNumber"},
                                                    {Value::array({}), "NSArray"},
                                                    {Value::dictionary({}), "NSDictionary"},
                                                    {Value::null(), "NSNull"},
                                                    {Value(platform::Date(0)), "NSDate"}};
    for (const auto& [value, cluster] : values)
        EXPECT_EQ(ValueTransformer::classByResolvingClusterClassesOfValue(value), cluster);
}

TEST(ValueTransformerNumbers, IntegralTextsAboveSinglePrecisionImportExactly) {
    auto id = ValueTransformer::NSNumberFromNSString(Value("16777217"));
    EXPECT_TRUE(numberOf(id).isInteger());
    EXPECT_EQ(numberOf(id).int64Value(), 16777217);
    EXPECT_NE(id, Value(16777216));

    auto big = ValueTransformer::NSNumberFromNSString(Value("9007199254740993")); // 2^53 + 1
    EXPECT_EQ(numberOf(big).int64Value(), 9007199254740993);
    auto negative = ValueTransformer::NSNumberFromNSString(Value("-9223372036854775808"));
    EXPECT_EQ(numberOf(negative).int64Value(), INT64_MIN);
    auto unsignedMax = ValueTransformer::NSNumberFromNSString(Value("18446744073709551615"));
    EXPECT_EQ(numberOf(unsignedMax).kind(), Number::Kind::UInt);
    EXPECT_EQ(numberOf(unsignedMax).uint64Value(), UINT64_MAX);
}

TEST(ValueTransformerNumbers, OtherTextsReadAsDoublesOrTheirNumericPrefix) {
    auto fraction = ValueTransformer::NSNumberFromNSString(Value("3.14159265358979"));
    EXPECT_EQ(numberOf(fraction).kind(), Number::Kind::Double);
    EXPECT_DOUBLE_EQ(numberOf(fraction).doubleValue(), 3.14159265358979);
    EXPECT_EQ(ValueTransformer::NSNumberFromNSString(Value("1e3")), Value(1000));
    EXPECT_EQ(ValueTransformer::NSNumberFromNSString(Value("  42abc")), Value(42));
    EXPECT_EQ(ValueTransformer::NSNumberFromNSString(Value("+7")), Value(7));
    auto padded = ValueTransformer::NSNumberFromNSString(Value("0016777217"));
    EXPECT_TRUE(numberOf(padded).isInteger());
    EXPECT_EQ(numberOf(padded).int64Value(), 16777217);
    EXPECT_TRUE(numberOf(ValueTransformer::NSNumberFromNSString(Value("-0"))).isInteger());
    EXPECT_EQ(ValueTransformer::NSNumberFromNSString(Value("abc")), Value(0));
    EXPECT_EQ(ValueTransformer::NSNumberFromNSString(Value("")), Value(0));
    EXPECT_EQ(ValueTransformer::NSNumberFromNSString(Value("-.5")), Value(-0.5));
    auto huge = ValueTransformer::NSNumberFromNSString(Value("99999999999999999999"));
    EXPECT_DOUBLE_EQ(numberOf(huge).doubleValue(), 1e20);
}

TEST(ValueTransformerNumbers, FloatConversionsKeepSinglePrecision) {
    EXPECT_EQ(ValueTransformer::floatFromNSString(Value("16777217")), 16777216.0f);
    EXPECT_EQ(ValueTransformer::floatFromNSNumber(Value(0.1)), 0.1f);
    EXPECT_EQ(ValueTransformer::floatFromObject(Value::null()), 0.0f);
    auto boxed = ValueTransformer::NSNumberFromfloat(1.5f);
    EXPECT_EQ(numberOf(boxed).kind(), Number::Kind::Float);
    ValueTransformer transformer;
    EXPECT_EQ(transformer.transform("floatFromNSString:", Value("2.5")), Value(2.5f));
}

TEST(ValueTransformerNumbers, NumbersAndDecimalsWriteTheirTextForm) {
    EXPECT_EQ(ValueTransformer::NSStringFromNSNumber(Value(42)), Value("42"));
    EXPECT_EQ(ValueTransformer::NSStringFromNSNumber(Value(1.5)), Value("1.5"));
    EXPECT_EQ(ValueTransformer::NSStringFromNSNumber(Value(true)), Value("1"));

    auto decimal = ValueTransformer::NSDecimalNumberFromNSString(Value("12.50"));
    EXPECT_EQ(numberOf(decimal).kind(), Number::Kind::Decimal);
    EXPECT_EQ(numberOf(decimal).decimalText(), "12.50");
    EXPECT_EQ(ValueTransformer::NSStringFromNSDecimalNumber(decimal), Value("12.50"));
    auto exact = ValueTransformer::NSDecimalNumberFromNSString(Value("12345678901234567890.123"));
    EXPECT_EQ(numberOf(exact).decimalText(), "12345678901234567890.123");
    auto notANumber = ValueTransformer::NSDecimalNumberFromNSString(Value("abc"));
    EXPECT_TRUE(std::isnan(numberOf(notANumber).doubleValue()));
}

TEST(ValueTransformerBooleans, TextsReadYesTrueAndNonZeroAsYesNumbersByTheirIntegerValue) {
    for (auto yes : {"YES", "yes", "Yes", "TRUE", "true", "1", "2", "-3"})
        EXPECT_EQ(ValueTransformer::BOOLFromNSString(Value(yes)), Value(true)) << yes;
    for (auto no : {"NO", "no", "0", "false", "abc", ""})
        EXPECT_EQ(ValueTransformer::BOOLFromNSString(Value(no)), Value(false)) << no;
    EXPECT_EQ(numberOf(ValueTransformer::BOOLFromNSString(Value("yes"))).kind(), Number::Kind::Bool);
    for (auto no : {Value::null(), Value(), Value(0.5)})
        EXPECT_EQ(ValueTransformer::BOOLFromNSNumber(no), Value(false));
    EXPECT_EQ(ValueTransformer::BOOLFromNSNumber(Value(3)), Value(true));
    EXPECT_EQ(ValueTransformer::JSONObjectFromBOOL(Value(7)), Value(true));
    EXPECT_EQ(ValueTransformer::JSONObjectFromBOOL(Value(0)), Value(false));
    EXPECT_EQ(numberOf(ValueTransformer::JSONObjectFromBOOL(Value(1))).kind(), Number::Kind::Bool);
}

TEST(ValueTransformerDates, UnreadableTextsGiveNilAndExportWritesLocalTimeThatReadsBack) {
    EXPECT_TRUE(ValueTransformer::NSDateFromNSString(Value("yesterday")).isNil());
    EXPECT_TRUE(ValueTransformer::NSDateFromNSString(Value("2015-02-30T12:00:00+0000")).isNil());
    EXPECT_TRUE(ValueTransformer::NSDateFromNSString(Value(12)).isNil());
    // Export writes local time with a colon-free offset, and reads back.
    platform::Date date(1425443445.0);
    auto text = ValueTransformer::JSONObjectFromNSDate(Value(date));
    ASSERT_TRUE(text.isString());
    EXPECT_TRUE(
        std::regex_match(*text.string(), std::regex(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}[+-]\d{4})")))
        << *text.string();
    platform::DateFormatter local("yyyy-MM-dd'T'HH:mm:ssZZZ", platform::TimeZone::localTimeZone());
    EXPECT_EQ(*text.string(), local.stringFromDate(date));
    EXPECT_EQ(ValueTransformer::NSDateFromNSString(text), Value(date));
}

TEST(ValueTransformerObjects, URLsAndTimeZonesConvertBothWays) {
    auto url = ValueTransformer::NSURLFromNSString(Value("http://127.0.0.1:8080/a?b=1"));
    ASSERT_TRUE(url.isURL());
    EXPECT_EQ(ValueTransformer::JSONObjectFromNSURL(url), Value("http://127.0.0.1:8080/a?b=1"));
    EXPECT_TRUE(ValueTransformer::NSURLFromNSString(Value("not a url")).isNil());

    ValueTransformer transformer;
    auto zone = transformer.transform("NSTimeZoneFromNSString:", Value("UTC"));
    ASSERT_TRUE(zone.isObject());
    EXPECT_EQ(zone.object()->className(), "NSTimeZone");
    EXPECT_EQ(ValueTransformer::JSONObjectFromNSTimeZone(zone), Value("UTC"));
    EXPECT_TRUE(ValueTransformer::NSTimeZoneFromNSString(Value("Nowhere/Atlantis")).isNil());
}

TEST(ValueTransformerCollections, SetsAndArraysConvertBothWaysAndEmptyArraysStandInForDictionaries) {
    auto set = ValueTransformer::NSSetFromNSArray(Value::array({1, 2, 2, "a"}));
    ASSERT_TRUE(set.isSet());
    EXPECT_EQ(set.count(), 3u);
    EXPECT_EQ(ValueTransformer::NSMutableSetFromNSArray(Value::array({1, 1})).count(), 1u);
    EXPECT_EQ(ValueTransformer::JSONObjectFromNSSet(set), Value::array({1, 2, "a"}));
    EXPECT_EQ(ValueTransformer::JSONObjectFromNSMutableSet(set).count(), 3u);
    EXPECT_EQ(ValueTransformer::NSDictionaryFromNSArray(Value::array({})), Value::dictionary({}));
    EXPECT_TRUE(ValueTransformer::NSMutableDictionaryFromNSArray(Value::array({})).isDictionary());
    EXPECT_EQ(ValueTransformer::NSDictionaryFromNSArray(Value::array({1})), Value::array({1}));
}

TEST(ValueTransformerCollections, MutableFormsKeepTheValueAndPassObjectsThrough) {
    EXPECT_EQ(ValueTransformer::NSMutableStringFromNSString(Value("x")), Value("x"));
    EXPECT_EQ(ValueTransformer::NSMutableArrayFromNSArray(Value::array({1})), Value::array({1}));
    EXPECT_EQ(ValueTransformer::NSMutableDictionaryFromNSDictionary(Value::dictionary({{"a", 1}})),
              Value::dictionary({{"a", 1}}));
    auto lazy = Value(std::make_shared<platform::Object>());
    for (auto convert :
         {&ValueTransformer::NSMutableArrayFromNSArray, &ValueTransformer::NSArrayFromMappedModelArray,
          &ValueTransformer::NSMutableArrayFromMappedModelArray})
        EXPECT_EQ(convert(lazy).object(), lazy.object());
}
