#include "platform/foundation/Value.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

using platform::Number;
using platform::Value;
using platform::ValueDictionary;
using platform::ValueSet;

TEST(NumberEquality, NumbersCompareAcrossKinds) {
    EXPECT_EQ(Number::integer(1), Number::real(1.0));
    EXPECT_EQ(Number::boolean(true), Number::unsignedInteger(1));
    EXPECT_EQ(Number::floating(0.5f), Number::real(0.5));
    EXPECT_FALSE(Number::integer(-1) == Number::unsignedInteger(UINT64_MAX));
    // 2^53 + 1 is not representable as a double; integers must not be compared through double.
    EXPECT_FALSE(Number::integer(9007199254740993) == Number::integer(9007199254740992));
    EXPECT_FALSE(Number::integer(9007199254740993) == Number::real(9007199254740992.0));
    EXPECT_FALSE(Number::real(NAN) == Number::real(NAN));
}

TEST(NumberEquality, EqualNumbersHashAlike) {
    std::vector<Number> ones{Number::integer(1),     Number::unsignedInteger(1), Number::real(1.0),
                             Number::floating(1.0f), Number::boolean(true),      Number::decimal("1")};
    for (const auto& n : ones)
        EXPECT_EQ(n.hash(), ones.front().hash()) << n.stringValue();
    EXPECT_EQ(Number::unsignedInteger(1ULL << 63).hash(), Number::real(9223372036854775808.0).hash());
    EXPECT_EQ(Number::real(-0.0).hash(), Number::integer(0).hash());
}

TEST(NumberConversion, SaturatesAndDescribes) {
    EXPECT_EQ(Number::real(1e300).int64Value(), INT64_MAX);
    EXPECT_EQ(Number::real(-1e300).int64Value(), INT64_MIN);
    EXPECT_EQ(Number::real(NAN).int64Value(), 0);
    EXPECT_EQ(Number::real(-2.9).int64Value(), -2);
    EXPECT_EQ(Number::boolean(true).stringValue(), "1");
    EXPECT_EQ(Number::real(0.1).stringValue(), "0.1");
    EXPECT_EQ(Number::unsignedInteger(UINT64_MAX).stringValue(), "18446744073709551615");
    EXPECT_EQ(Number::decimal("1e400").decimalText(), "1e400");
}

TEST(ValueCollections, DictionaryKeepsInsertionOrderAndReplacesInPlace) {
    ValueDictionary d;
    d.set("b", 1);
    d.set("a", 2);
    d.set("b", 3);
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(d.get("b"), Value(3));
    d.set("a", Value());
    EXPECT_FALSE(d.contains("a"));
    for (int i = 0; i < 100; ++i)
        d.set("k" + std::to_string(i), i);
    EXPECT_EQ(d.get("k77"), Value(77));
    EXPECT_TRUE(d.remove("k10"));
    EXPECT_EQ(d.get("k11"), Value(11));
    EXPECT_TRUE(d.get("k10").isNil());
}

TEST(ValueCollections, CopiesDoNotSeeLaterChanges) {
    Value original = Value::dictionary({{"list", Value::array({1, 2})}});
    Value copy = original;
    original.mutableDictionary()->set("extra", true);
    EXPECT_EQ(copy.count(), 1u);
    EXPECT_EQ(original.count(), 2u);
    EXPECT_EQ(copy["list"][1], Value(2));
    EXPECT_TRUE(copy["missing"]["deeper"][3].isNil());
}

TEST(ValueCollections, EqualityIsMemberWiseAndOrderFree) {
    Value a = Value::dictionary({{"x", 1}, {"y", "two"}});
    Value b = Value::dictionary({{"y", "two"}, {"x", 1.0}});
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.hash(), b.hash());
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_NE(Value(), Value::null());
    ValueSet s{1, 1.0, true, "1"};
    EXPECT_EQ(s.size(), 2u);
    EXPECT_TRUE(s.contains(Value(1u)));
}

TEST(ValueLifetime, DeepTreesAreDestroyedWithoutExhaustingTheStack) {
    Value deep;
    for (int i = 0; i < 200000; ++i)
        deep = (i % 3 == 0) ? Value::array({deep}) : Value::dictionary({{"k", deep}});
    Value shared = deep["k"]; // a subtree still owned elsewhere must survive the teardown
    deep = Value();
    EXPECT_TRUE(shared.isDictionary() || shared.isArray());
}

TEST(ValueThreads, LargeDictionariesCanBeReadFromSeveralThreadsAtOnce) {
    ValueDictionary d;
    for (int i = 0; i < 64; ++i)
        d.set("key" + std::to_string(i), i);
    const Value shared(d);
    std::vector<std::thread> readers;
    std::atomic<int> found{0};
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&shared, &found] {
            Value copy = shared;
            for (int i = 0; i < 64; ++i)
                found += copy["key" + std::to_string(i)] == Value(i) ? 1 : 0;
        });
    }
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(found.load(), 4 * 64);
}
