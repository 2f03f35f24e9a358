#include "platform/foundation/JSONSerialization.h"

#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using platform::Data;
using platform::ErrorPtr;
using platform::JSONReadingOptions;
using platform::JSONSerialization;
using platform::Number;
using platform::Value;

namespace {

Value parse(std::string_view text, JSONReadingOptions options = 0) {
    ErrorPtr error;
    Value value = JSONSerialization::JSONObjectWithData(Data(text), options, &error);
    EXPECT_FALSE(error) << text << ": " << error->localizedDescription();
    return value;
}

// The description of the error a failed parse reports; every failure is nil plus a 3840 error.
std::string parseFailure(std::string_view text, JSONReadingOptions options = 0) {
    ErrorPtr error;
    Value value = JSONSerialization::JSONObjectWithData(Data(text), options, &error);
    EXPECT_TRUE(value.isNil()) << text << " parsed as " << value.description();
    if (!error) {
        ADD_FAILURE() << text << ": no error";
        return {};
    }
    EXPECT_EQ(error->domain(), platform::NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), 3840);
    return error->localizedDescription();
}

std::string nested(size_t depth, std::string_view open, std::string_view close) {
    std::string text;
    for (size_t i = 0; i < depth; ++i)
        text += open;
    for (size_t i = 0; i < depth; ++i)
        text += close;
    return text;
}

} // namespace

TEST(JSONReadingStructure, BuildsValuesOfEveryJSONType) {
    Value v = parse(R"({"s":"text","i":-7,"d":2.5,"t":true,"f":false,"n":null,"a":[1,"x"],"o":{"k":{}}})");
    ASSERT_TRUE(v.isDictionary());
    EXPECT_EQ(v["s"], Value("text"));
    EXPECT_EQ(v["i"].number()->kind(), Number::Kind::Int);
    EXPECT_EQ(v["i"].int64Or(), -7);
    EXPECT_EQ(v["d"].number()->kind(), Number::Kind::Double);
    EXPECT_EQ(v["d"].doubleOr(), 2.5);
    EXPECT_EQ(v["t"].number()->kind(), Number::Kind::Bool);
    EXPECT_TRUE(v["t"].boolOr(false));
    EXPECT_FALSE(v["f"].boolOr(true));
    EXPECT_TRUE(v["n"].isNull());
    EXPECT_EQ(v["a"], Value::array({1, "x"}));
    EXPECT_TRUE(v["o"]["k"].isDictionary());
    EXPECT_EQ(v["o"]["k"].count(), 0u);
}

TEST(JSONReadingStructure, DictionariesKeepTheDocumentsKeyOrderAndARepeatedKeyItsFirstPlace) {
    Value v = parse(R"({"zeta":1,"alpha":2,"mid":3,"beta":{"y":1,"x":2},"alpha":4})");
    EXPECT_EQ(v.dictionary()->keys(), (std::vector<std::string>{"zeta", "alpha", "mid", "beta"}));
    EXPECT_EQ(v["beta"].dictionary()->keys(), (std::vector<std::string>{"y", "x"}));
    EXPECT_EQ(v["alpha"], Value(4));
}

TEST(JSONReadingStructure, ARepeatedKeyKeepsItsFirstPlaceAndLastValueInDictionariesOfEverySize) {
    std::string large = "{";
    for (int i = 0; i < 30; ++i)
        large += "\"key" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    large += R"("key7":"last","key29":null})";
    struct Case {
        std::string text;
        std::string key;
        Value value;
        size_t count;
        size_t place;
    };
    const std::vector<Case> cases{
        {R"({"a":1,"a":2})", "a", Value(2), 1, 0},
        {R"({"abcXe":1,"abcYe":2,"abcXe":3})", "abcXe", Value(3), 2, 0},
        {R"({"x":[1],"y":{"x":0},"x":{"z":1}})", "x", Value::dictionary({{"z", 1}}), 2, 0},
        {large, "key7", Value("last"), 30, 7},
        {large, "key29", Value::null(), 30, 29},
    };
    for (const auto& c : cases) {
        Value v = parse(c.text);
        ASSERT_TRUE(v.isDictionary()) << c.text;
        EXPECT_EQ(v[c.key], c.value) << c.text;
        EXPECT_EQ(v.count(), c.count) << c.text;
        EXPECT_EQ(v.dictionary()->keys().at(c.place), c.key) << c.text;
    }
}

TEST(JSONReadingStructure, ByteOrderMarkIsSkipped) {
    EXPECT_EQ(parse("\xEF\xBB\xBF[1]"), Value::array({1}));
    EXPECT_NE(parseFailure("\xEF\xBB\xBF[1,]").find("around character 6"), std::string::npos);
}

TEST(JSONReadingStructure, DocumentsLargerThanTheRetainedBuffersParseBeforeAndAfter) {
    std::string big = "[";
    while (big.size() < (9u << 20))
        big += R"({"k":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},)";
    big += "0]";
    EXPECT_EQ(parse("[1]"), Value::array({1}));
    Value v = parse(big);
    EXPECT_EQ(v[size_t(0)]["k"].stringOr().size(), 30u);
    EXPECT_EQ(v[v.count() - 1], Value(0));
    EXPECT_EQ(parse(R"({"after":true})")["after"], Value(true));
}

TEST(JSONReadingNumbers, IntegersStayExact) {
    Value v = parse("[16777217,9007199254740993,-9223372036854775808,9223372036854775807]");
    EXPECT_EQ(v[size_t(0)].number()->kind(), Number::Kind::Int);
    EXPECT_EQ(v[size_t(0)].int64Or(), 16777217);
    EXPECT_EQ(v[1].int64Or(), 9007199254740993);
    EXPECT_EQ(v[2].int64Or(), INT64_MIN);
    EXPECT_EQ(v[3].int64Or(), INT64_MAX);
}

TEST(JSONReadingNumbers, IntegersBeyondInt64UseUInt64ThenDecimal) {
    Value v = parse("[9223372036854775808,18446744073709551615,18446744073709551616,-9223372036854775809,"
                    "123456789012345678901234567890]");
    EXPECT_EQ(v[size_t(0)].number()->kind(), Number::Kind::UInt);
    EXPECT_EQ(v[size_t(0)].number()->uint64Value(), 1ULL << 63);
    EXPECT_EQ(v[1].number()->uint64Value(), UINT64_MAX);
    EXPECT_EQ(v[2].number()->kind(), Number::Kind::Decimal);
    EXPECT_EQ(v[2].number()->decimalText(), "18446744073709551616");
    EXPECT_EQ(v[3].number()->kind(), Number::Kind::Decimal);
    EXPECT_EQ(v[3].number()->decimalText(), "-9223372036854775809");
    EXPECT_EQ(v[4].number()->decimalText(), "123456789012345678901234567890");
}

TEST(JSONReadingNumbers, FractionsAndExponentsAreDoubles) {
    Value v = parse("[1.0,1e2,-0.0,0.1,1700000000.5,1E-2,-0]");
    for (size_t i = 0; i < v.count(); ++i)
        EXPECT_EQ(v[i].number()->kind(), Number::Kind::Double) << i;
    EXPECT_EQ(v[size_t(0)].doubleOr(), 1.0);
    EXPECT_EQ(v[1].doubleOr(), 100.0);
    EXPECT_TRUE(std::signbit(v[2].doubleOr()));
    EXPECT_EQ(v[3].doubleOr(), 0.1);
    EXPECT_EQ(v[4].doubleOr(), 1700000000.5);
    EXPECT_EQ(v[5].doubleOr(), 0.01);
    EXPECT_TRUE(std::signbit(v[6].doubleOr())); // the text a negative zero double is written as
    EXPECT_EQ(parse("[0]")[size_t(0)].number()->kind(), Number::Kind::Int);
}

TEST(JSONReadingNumbers, NegativeZeroIsADoubleWhereverItStands) {
    Value v = parse(R"({"on":"2024-05-01","zero":-0,"list":[1,-0 ,0,-0e0],"deep":{"z":[-0]},"last":0})");
    EXPECT_EQ(v["on"].stringOr(), "2024-05-01");
    for (const Value* zero : {&v["zero"], &v["list"][1], &v["list"][3], &v["deep"]["z"][0]}) {
        ASSERT_TRUE(zero->isNumber());
        EXPECT_EQ(zero->number()->kind(), Number::Kind::Double);
        EXPECT_TRUE(std::signbit(zero->doubleOr()));
    }
    EXPECT_EQ(v["list"][2].number()->kind(), Number::Kind::Int);
    EXPECT_EQ(v["last"].number()->kind(), Number::Kind::Int);
    // A "-0" inside a string changes nothing.
    Value dated = parse(R"({"on":"x-0","n":0})");
    EXPECT_EQ(dated["on"].stringOr(), "x-0");
    EXPECT_EQ(dated["n"].number()->kind(), Number::Kind::Int);
}

// Texts whose only zero is a negative one, alone or beside other numbers, at any depth.
TEST(JSONReadingNumbers, ALoneNegativeZeroIsStillADouble) {
    struct Case {
        std::string_view text;
        std::vector<std::string_view> path; // keys, or indexes as digits
    };
    const Case cases[] = {
        {"[-0]", {"0"}},
        {R"({"a":1,"b":-0})", {"b"}},
        {R"({"a":{"b":[1,2.5,-0]}})", {"a", "b", "2"}},
        {R"([true,"-0",{"n":-0}])", {"2", "n"}},
        {"-0", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Value v = parse(c.text, platform::NSJSONReadingAllowFragments);
        const Value* at = &v;
        for (auto step : c.path)
            at = step[0] >= '0' && step[0] <= '9' ? &(*at)[size_t(step[0] - '0')] : &(*at)[step];
        ASSERT_TRUE(at->isNumber());
        EXPECT_EQ(at->number()->kind(), Number::Kind::Double);
        EXPECT_TRUE(std::signbit(at->doubleOr()));
    }
}

TEST(JSONReadingNumbers, DoubleBeyondRangeIsADecimalNeverInfinity) {
    Value v = parse("[1e400,-1.5E+999,1e-400]");
    EXPECT_EQ(v[size_t(0)].number()->kind(), Number::Kind::Decimal);
    EXPECT_EQ(v[size_t(0)].number()->decimalText(), "1e400");
    EXPECT_EQ(v[1].number()->decimalText(), "-1.5E+999");
    // Too small a magnitude rounds to zero, as any double conversion does.
    EXPECT_EQ(v[2].number()->kind(), Number::Kind::Double);
    EXPECT_EQ(v[2].doubleOr(1), 0.0);
    EXPECT_EQ(parse("1e400", platform::NSJSONReadingAllowFragments).number()->decimalText(), "1e400");
}

TEST(JSONReadingStrings, UnicodeEscapesDecodeToUTF8) {
    Value v = parse(R"(["\u00e9","\ud83d\ude00","a\u0000b","\/\"\\\b\f\n\r\t","\u0041\u4E2D"])");
    EXPECT_EQ(v[size_t(0)], Value("\xC3\xA9"));
    EXPECT_EQ(v[1], Value("\xF0\x9F\x98\x80"));
    EXPECT_EQ(*v[2].string(), std::string("a\0b", 3));
    EXPECT_EQ(v[3], Value("/\"\\\b\f\n\r\t"));
    EXPECT_EQ(v[4], Value("A\xE4\xB8\xAD"));
}

// A lone surrogate has no UTF-8 form; the platform's reader refuses it rather than guessing.
TEST(JSONReadingStrings, LoneSurrogateEscapesAreErrors) {
    for (const char* text : {R"(["\ud800"])", R"(["\udc00"])", R"(["\ud800\u0041"])", R"(["\ud800x"])",
                             R"(["\udbff\udbff"])", R"({"\ud800":1})"})
        EXPECT_NE(parseFailure(text).find("surrogate"), std::string::npos) << text;
}

TEST(JSONReadingHostile, EmptyDataIsAnError) {
    EXPECT_EQ(parseFailure(""), "Unable to parse empty data.");
    EXPECT_FALSE(parseFailure("   \n\t").empty());
    EXPECT_FALSE(parseFailure("\xEF\xBB\xBF").empty());
}

TEST(JSONReadingHostile, InvalidUTF8IsAnErrorNamingWhere) {
    EXPECT_EQ(parseFailure("[\"ab\xFF\"]"), "Unable to convert data to string around character 4.");
    EXPECT_EQ(parseFailure("[\"\xC0\xAF\"]"),
              "Unable to convert data to string around character 2."); // overlong
    EXPECT_EQ(parseFailure("[\"\xED\xA0\x80\"]"),
              "Unable to convert data to string around character 2."); // surrogate
    EXPECT_EQ(parseFailure("[\"\xF4\x90\x80\x80\"]"), "Unable to convert data to string around character 2.");
    EXPECT_EQ(parseFailure("[\"\xE5\xAD\"]"),
              "Unable to convert data to string around character 2."); // cut short
    EXPECT_FALSE(parseFailure("[\"\xE5\xAD").empty());
    EXPECT_FALSE(parseFailure("[1,\x80]").empty());
}

TEST(JSONReadingHostile, EveryTruncationOfADocumentIsAnError) {
    const std::string document = R"({"a":[1,2.5,"x\"y\u00e9",true,null,false],"b":{"c":-3,"d":[]}})";
    ASSERT_TRUE(parse(document).isDictionary());
    for (size_t length = 1; length < document.size(); ++length)
        EXPECT_FALSE(parseFailure(std::string_view(document).substr(0, length)).empty()) << length;
    EXPECT_NE(parseFailure("[1,2").find("end of file"), std::string::npos);
    EXPECT_NE(parseFailure("{\"a\":").find("end of file"), std::string::npos);
}

TEST(JSONReadingHostile, DeepNestingFailsCleanly) {
    EXPECT_NE(parseFailure(nested(10000, "[", "]")).find("Too many nested"), std::string::npos);
    EXPECT_NE(parseFailure(nested(10000, "{\"a\":", "}")).find("Too many nested"), std::string::npos);
    EXPECT_FALSE(parseFailure(std::string(10000, '[')).empty());
    EXPECT_FALSE(parseFailure(nested(JSONSerialization::maximumDepth + 1, "[", "]")).empty());
    Value deepest = parse(nested(JSONSerialization::maximumDepth, "[", "]"));
    EXPECT_TRUE(deepest.isArray());
}

TEST(JSONReadingHostile, FragmentsNeedTheOption) {
    const std::string refused =
        "JSON text did not start with array or object and option to allow fragments not set.";
    for (const char* text : {"123", "\"x\"", "null", "true", " -1.5 "})
        EXPECT_EQ(parseFailure(text), refused) << text;

    auto fragments = platform::NSJSONReadingAllowFragments;
    EXPECT_EQ(parse("123", fragments), Value(123));
    EXPECT_EQ(parse(" \"x\" ", fragments), Value("x"));
    EXPECT_TRUE(parse("null", fragments).isNull());
    EXPECT_EQ(parse("false", fragments), Value(false));
    EXPECT_EQ(parse("18446744073709551616", fragments).number()->decimalText(), "18446744073709551616");
    EXPECT_FALSE(parseFailure("tru", fragments).empty());
    EXPECT_FALSE(parseFailure("\"x", fragments).empty());
}

TEST(JSONReadingHostile, GarbageAfterTheDocumentIsAnError) {
    EXPECT_EQ(parseFailure("[1] 2"), "Garbage at end around character 4.");
    for (const char* text : {"{}}", "[]]", "[]x", "{} {}", "[1]\x01"})
        EXPECT_NE(parseFailure(text).find("Garbage at end"), std::string::npos) << text;
    EXPECT_NE(parseFailure("1 2", platform::NSJSONReadingAllowFragments).find("Garbage at end"),
              std::string::npos);
    for (const char* text : {"\"a\"\"b\"", "\"a\" x", "1e400 2", "null null", "true,", "1]"})
        EXPECT_NE(parseFailure(text, platform::NSJSONReadingAllowFragments).find("Garbage at end"),
                  std::string::npos)
            << text;
}

TEST(JSONReadingHostile, RawControlCharactersInStringsAreErrors) {
    EXPECT_EQ(parseFailure("[\"a\tb\"]"), "Unescaped control character around character 3.");
    EXPECT_FALSE(parseFailure("[\"a\nb\"]").empty());
    EXPECT_FALSE(parseFailure(std::string_view("[\"\0\"]", 5)).empty());
    EXPECT_FALSE(parseFailure("{\"\x1F\":1}").empty());
}

TEST(JSONReadingHostile, MalformedNumbersEscapesAndStructureAreErrors) {
    for (const char* text :
         {"[01]", "[-]", "[1.]", "[.5]", "[+1]", "[1e]", "[1e+]", "[0x10]", "[NaN]", "[Infinity]",
          "[-Infinity]", "[1.5.2]", "[--1]", "[1e400x]", "[18446744073709551616a]"})
        EXPECT_FALSE(parseFailure(text).empty()) << text;
    for (const char* text : {R"(["\x"])", R"(["\u12"])", R"(["\u12G4"])", R"(["\'"])", R"(["\U0041"])"})
        EXPECT_FALSE(parseFailure(text).empty()) << text;
    for (const char* text :
         {"[1,]",         "{\"a\":1,}", "[1 2]",   "{\"a\" 1}", "{1:2}",       "{\"a\"}", "{\"a\":}",
          "[1}",          "{\"a\":1]",  "]",       "[,]",       "[,1]",        "[1,,2]",  "{,}",
          "[\"a\":1]",    "['a']",      "[tru]",   "[nulll]",   "[truefalse]", "[True]",  "{\"a\":1 \"b\":2}",
          "[\"a\"\"b\"]", "[[]",        "/*c*/[]", "[1]//",     "{a:1}"})
        EXPECT_FALSE(parseFailure(text).empty()) << text;
}

TEST(JSONReadingHostile, ParsesAnUnpaddedSliceWithoutReadingPastIt) {
    // A slice of a larger buffer: the bytes after it must not be taken as part of the document.
    Data whole(std::string_view("[1,2]]]garbage"));
    EXPECT_EQ(JSONSerialization::JSONObjectWithData(whole.subdata(0, 5)), Value::array({1, 2}));
    EXPECT_TRUE(JSONSerialization::JSONObjectWithData(whole.subdata(0, 4)).isNil());
    // The same with bytes the caller holds.
    EXPECT_EQ(JSONSerialization::JSONObjectWithBytes(whole.view().substr(0, 5)), Value::array({1, 2}));
    EXPECT_TRUE(JSONSerialization::JSONObjectWithBytes(whole.view().substr(0, 4)).isNil());
}

// Each thread parses with its own parser; documents read at the same time must not mix.
TEST(JSONReadingThreads, ParsesOnManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> mismatches(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int i = 0; i < 200; ++i) {
                std::string text = "{\"thread\":" + std::to_string(t) + ",\"i\":" + std::to_string(i) +
                                   ",\"s\":\"" + std::string(static_cast<size_t>(i), 'x') + "\"}";
                Value v = JSONSerialization::JSONObjectWithData(Data(std::string_view(text)));
                if (v["thread"].int64Or(-1) != t || v["i"].int64Or(-1) != i ||
                    v["s"].stringOr().size() != size_t(i))
                    ++mismatches[static_cast<size_t>(t)];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(6, 0));
}
