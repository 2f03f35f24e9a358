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

TEST(ValueCollections, LargeDictionariesFindEveryKeyAfterGrowingRemovingCopyingAndMoving) {
    auto holdsExactly = [](const ValueDictionary& d, int from, int to) {
        for (int i = 0; i < 60; ++i) {
            const Value* found = d.find("k" + std::to_string(i));
            if ((i >= from && i < to) != (found && *found == Value(i)))
                return false;
        }
        return d.size() == size_t(to - from);
    };
    ValueDictionary d;
    for (int i = 0; i < 40; ++i)
        d.set("k" + std::to_string(i), i);
    EXPECT_TRUE(holdsExactly(d, 0, 40));
    EXPECT_TRUE(d.remove("k0"));
    EXPECT_TRUE(holdsExactly(d, 1, 40));
    auto copy = std::make_unique<ValueDictionary>(d);
    d = ValueDictionary();
    ValueDictionary moved(std::move(*copy));
    copy.reset(); // the survivor must not look up keys through the dead ones
    EXPECT_TRUE(holdsExactly(moved, 1, 40));
    ValueDictionary assigned;
    assigned = moved;
    moved.clear();
    EXPECT_TRUE(holdsExactly(assigned, 1, 40));
}

TEST(ValueCollections, ReaderBuiltDictionarySettlesRepeatedKeysAsSettingWould) {
    struct Case {
        const char* name;
        size_t expected;
        std::vector<std::pair<std::string, Value>> appended;
        std::vector<std::string> keys;
        std::vector<int> values;
    };
    std::vector<std::pair<std::string, Value>> many;
    std::vector<std::string> manyKeys;
    std::vector<int> manyValues;
    for (int i = 0; i < 20; ++i) {
        many.emplace_back("key" + std::to_string(i), i);
        manyKeys.push_back("key" + std::to_string(i));
        manyValues.push_back(i == 3 ? 99 : i);
    }
    many.emplace_back("key3", 99);
    const std::vector<Case> cases{
        {"unique", 3, {{"b", 1}, {"a", 2}, {"c", 3}}, {"b", "a", "c"}, {1, 2, 3}},
        {"repeat keeps first place, last value", 3, {{"b", 1}, {"a", 2}, {"b", 3}}, {"b", "a"}, {3, 2}},
        {"alike keys stay apart", 2, {{"abcXe", 1}, {"abcYe", 2}}, {"abcXe", "abcYe"}, {1, 2}},
        {"nil entries dropped", 3, {{"a", 1}, {"gone", Value()}, {"c", 3}}, {"a", "c"}, {1, 3}},
        {"more than expected", 1, {{"x", 1}, {"y", 2}, {"z", 3}, {"x", 4}}, {"x", "y", "z"}, {4, 2, 3}},
        {"nothing expected", 0, {{"x", 1}}, {"x"}, {1}},
        {"large with a repeat", 21, many, manyKeys, manyValues},
    };
    // Each case both ways: entries appended with their values, and appended nil and then assigned.
    for (bool assignedAfter : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(assignedAfter ? "assigned after" : "appended with values");
            platform::ValueDictionaryBuilder builder(c.expected);
            for (const auto& [key, value] : c.appended) {
                if (assignedAfter)
                    builder.append(key) = value;
                else
                    builder.append(key, value);
            }
            Value built = builder.finish();
            ASSERT_TRUE(built.isDictionary()) << c.name;
            EXPECT_EQ(built.dictionary()->keys(), c.keys) << c.name;
            for (size_t i = 0; i < c.keys.size(); ++i)
                EXPECT_EQ(built[c.keys[i]], Value(c.values[i])) << c.name << " " << c.keys[i];
        }
    }
}

TEST(ValueCollections, ReaderBuiltDictionaryChangesAndMovesLikeAnyOther) {
    platform::ValueDictionaryBuilder builder(2);
    builder.append("first", 1);
    builder.append("second", Value::array({2}));
    Value built = builder.finish();
    Value snapshot = built;
    ValueDictionary* d = built.mutableDictionary();
    for (int i = 0; i < 30; ++i) // outgrows the storage it was built in
        d->set("more" + std::to_string(i), i);
    EXPECT_TRUE(d->remove("first"));
    EXPECT_EQ(built["more29"], Value(29));
    EXPECT_EQ(built.count(), 31u);
    EXPECT_EQ(snapshot.dictionary()->keys(), (std::vector<std::string>{"first", "second"}));

    ValueDictionary taken = std::move(*snapshot.mutableDictionary());
    EXPECT_EQ(taken.get("second"), Value::array({2}));
    EXPECT_EQ(snapshot.count(), 0u);
    snapshot.mutableDictionary()->set("again", true);
    EXPECT_EQ(snapshot["again"], Value(true));
}

TEST(ValueCollections, ADictionaryTakesTheEntriesOfOneItHolds) {
    Value outer = Value::dictionary({{"inner", Value::dictionary({{"kept", "yes"}})}, {"dropped", 1}});
    ValueDictionary* outerDictionary = outer.mutableDictionary();
    ValueDictionary* innerDictionary = outerDictionary->find("inner")->mutableDictionary();
    *outerDictionary = std::move(*innerDictionary);
    EXPECT_EQ(outer.dictionary()->keys(), (std::vector<std::string>{"kept"}));
    EXPECT_EQ(outer["kept"], Value("yes"));
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
