// The generic reply decoder: raw reply bytes to a model, a list of models, the parsed value or the
// bytes themselves, always through the success block, at once, on the caller's thread.

#include "app/core/RequestCore.h"
#include "app/core/ServiceModels.h"

#include <gtest/gtest.h>

using platform::Data;
using platform::Value;

namespace {

class ReplyDecoderTest : public testing::Test {
protected:
    void SetUp() override { registerServiceModels(); }

    // What the decoder answered, checking it answered exactly once before returning.
    Value decode(std::optional<std::string_view> bytes, std::optional<std::string_view> modelClass) {
        int calls = 0;
        Value result;
        std::optional<Data> data;
        if (bytes)
            data = Data(*bytes);
        RequestCore::requestResult(
            data,
            [&](const Value& value) {
                ++calls;
                result = value;
            },
            modelClass);
        EXPECT_EQ(calls, 1);
        return result;
    }
};

TEST_F(ReplyDecoderTest, NoBytesGiveNothing) {
    EXPECT_TRUE(decode(std::nullopt, "UserModel").isNil());
}

TEST_F(ReplyDecoderTest, BytesThatAreNotJSONComeBackUnchanged) {
    for (std::string_view bytes :
         {std::string_view("<html>busy</html>"), std::string_view("{\"a\":"), std::string_view("42")}) {
        Value result = decode(bytes, "UserModel");
        ASSERT_TRUE(result.isData()) << bytes;
        EXPECT_EQ(result.data()->view(), bytes);
    }
}

TEST_F(ReplyDecoderTest, ObjectWithAModelClassBecomesOneModel) {
    Value result = decode(R"({"id": 42, "nick": "小王"})", "UserModel");
    auto user = result.objectAs<UserModel>();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->uidText(), "42");
    EXPECT_EQ(user->nick, "小王");
}

TEST_F(ReplyDecoderTest, ArrayWithAModelClassKeepsTheOrderAndDropsWhatDoesNotImport) {
    Value result = decode(R"([{"id": 3}, 17, {"id": 1}, "x", {"id": 2}])", "UserModel");
    ASSERT_TRUE(result.isArray());
    std::vector<std::string> ids;
    for (const Value& member : *result.array()) {
        auto user = member.objectAs<UserModel>();
        ASSERT_TRUE(user);
        ids.push_back(user->uidText().value_or("?"));
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"3", "1", "2"}));
}

TEST_F(ReplyDecoderTest, ObjectThatDoesNotImportGivesNothing) {
    // "nick" must be text; an object there fails the import.
    EXPECT_TRUE(decode(R"({"nick": {"first": "x"}})", "UserModel").isNil());
}

TEST_F(ReplyDecoderTest, WithoutAModelClassTheParsedValueComesBack) {
    Value result = decode(R"({"code": 200, "data": [1, 2]})", std::nullopt);
    EXPECT_EQ(result, Value::dictionary({{"code", 200}, {"data", Value::array({1, 2})}}));
    EXPECT_EQ(decode("[1, \"a\"]", std::nullopt), Value::array({1, "a"}));
}

TEST_F(ReplyDecoderTest, ClassesOutsideTheModelFamilyGiveTheParsedValue) {
    EXPECT_EQ(decode(R"({"title": "高清"})", "ResolutionDataModel"), Value::dictionary({{"title", "高清"}}));
    EXPECT_EQ(decode(R"({"id": 1})", "NoSuchClass"), Value::dictionary({{"id", 1}}));
}

TEST_F(ReplyDecoderTest, AbsentSuccessBlockIsSkipped) {
    RequestCore::requestResult(Data(std::string_view("{}")), nullptr, "UserModel");
}

} // namespace
