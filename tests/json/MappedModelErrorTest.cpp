#include "json/MappedModelError.h"

#include <gtest/gtest.h>

using platform::Value;

namespace {

TEST(MappedModelErrorConstructors, CodesDescriptionsAndUserInfo) {
    auto message = MappedModelError::errorInvalidDataWithMessage("boom");
    EXPECT_EQ(message->domain(), "MappedModelErrorDomain");
    EXPECT_EQ(message->code(), 1);
    EXPECT_EQ(message->localizedDescription(), "Invalid JSON data: boom");

    auto missing = MappedModelError::errorInvalidDataWithMissingKeys({"a", "b"});
    EXPECT_EQ(missing->code(), 1);
    EXPECT_EQ(missing->userInfo()[kMappedModelMissingKeys], Value::array({"a", "b"}));

    auto mismatch = MappedModelError::errorInvalidDataWithTypeMismatch("why");
    EXPECT_EQ(mismatch->userInfo()[kMappedModelTypeMismatch], Value("why"));
    EXPECT_EQ(
        mismatch->localizedDescription(),
        "Invalid JSON data. The JSON type mismatches the expected type. Check the error user information.");

    EXPECT_EQ(MappedModelError::errorBadResponse()->code(), 2);
    EXPECT_EQ(MappedModelError::errorBadResponse()->localizedDescription(),
              "Bad network response. Probably the JSON URL is unreachable.");
    EXPECT_EQ(MappedModelError::errorBadJSON()->code(), 3);
    EXPECT_EQ(MappedModelError::errorModelIsInvalid()->code(), 4);
    EXPECT_EQ(MappedModelError::errorInputIsNil()->code(), 5);
    EXPECT_TRUE(MappedModelError::isMappedModelError(message));
    EXPECT_FALSE(MappedModelError::isMappedModelError(platform::Error::create("Other", 1)));
}

TEST(MappedModelErrorKeyPath, PrependingJoinsWithADotExceptBeforeAnIndex) {
    auto error = MappedModelError::errorInvalidDataWithMessage("x");
    auto title = MappedModelError::errorByPrependingKeyPathComponent(error, "title");
    EXPECT_EQ(title->userInfo()[kMappedModelKeyPath], Value("title"));
    auto room = MappedModelError::errorByPrependingKeyPathComponent(title, "room");
    EXPECT_EQ(room->userInfo()[kMappedModelKeyPath], Value("room.title"));
    auto indexed = MappedModelError::errorByPrependingKeyPathComponent(
        MappedModelError::errorByPrependingKeyPathComponent(error, "[2]"), "rooms");
    EXPECT_EQ(indexed->userInfo()[kMappedModelKeyPath], Value("rooms[2]"));
    EXPECT_EQ(room->localizedDescription(), "Invalid JSON data: x");
    EXPECT_FALSE(error->userInfo()[kMappedModelKeyPath]); // the original is unchanged
}

TEST(MappedModelErrorResponse, ResponseAndBytesTravelWithTheErrorButNotThroughPrepending) {
    auto response = std::make_shared<platform::Object>();
    auto error =
        MappedModelError::errorWithResponse(MappedModelError::errorBadResponse(), response, Value("{}"));
    EXPECT_EQ(MappedModelError::httpResponse(error), response);
    EXPECT_EQ(MappedModelError::responseData(error), Value("{}"));
    EXPECT_EQ(error->code(), 2);
    auto prepended = MappedModelError::errorByPrependingKeyPathComponent(error, "a");
    EXPECT_FALSE(MappedModelError::httpResponse(prepended));
    EXPECT_TRUE(MappedModelError::responseData(prepended).isNil());
}

} // namespace
