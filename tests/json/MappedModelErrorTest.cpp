#include "json/MappedModelError.h"

#include <gtest/gtest.h>

using platform::Value;

namespace {

TEST(MappedModelError, CodesTextsAndUserInfo) {
    auto mismatch = MappedModelError::errorInvalidDataWithTypeMismatch("why");
    EXPECT_EQ(mismatch->domain(), "MappedModelErrorDomain");
    EXPECT_EQ(mismatch->code(), 1);
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
    EXPECT_FALSE(MappedModelError::isMappedModelError(platform::Error::create("Other", 1)));
}

// Prepending joins with a dot except before an index, leaves the original unchanged, and drops the
// response and bytes an error carried.
TEST(MappedModelError, PrependingAKeyPathMakesANewError) {
    auto response = std::make_shared<platform::Object>();
    auto error = MappedModelError::errorWithResponse(MappedModelError::errorInvalidDataWithMessage("x"),
                                                     response, Value("{}"));
    EXPECT_EQ(MappedModelError::httpResponse(error), response);
    EXPECT_EQ(MappedModelError::responseData(error), Value("{}"));
    auto room = MappedModelError::errorByPrependingKeyPathComponent(
        MappedModelError::errorByPrependingKeyPathComponent(error, "title"), "room");
    EXPECT_EQ(room->userInfo()[kMappedModelKeyPath], Value("room.title"));
    EXPECT_EQ(room->localizedDescription(), "Invalid JSON data: x");
    auto indexed = MappedModelError::errorByPrependingKeyPathComponent(
        MappedModelError::errorByPrependingKeyPathComponent(error, "[2]"), "rooms");
    EXPECT_EQ(indexed->userInfo()[kMappedModelKeyPath], Value("rooms[2]"));
    EXPECT_FALSE(error->userInfo()[kMappedModelKeyPath]);
    EXPECT_FALSE(MappedModelError::httpResponse(room));
    EXPECT_TRUE(MappedModelError::responseData(room).isNil());
}

} // namespace
