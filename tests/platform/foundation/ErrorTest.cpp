#include "platform/foundation/Error.h"

#include "platform/foundation/Exception.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

using platform::Error;
using platform::ErrorPtr;
using platform::Value;

TEST(ErrorTexts, DescriptionComesFromTheUserInfoOrTheGenericText) {
    auto described = Error::withDescription("LiveErrorDomain", 7, "The room is closed.");
    EXPECT_EQ(described->domain(), "LiveErrorDomain");
    EXPECT_EQ(described->code(), 7);
    EXPECT_EQ(described->localizedDescription(), "The room is closed.");
    EXPECT_EQ(described->description(), "Error Domain=LiveErrorDomain Code=7 \"The room is closed.\"");

    auto bare = Error::create("LiveErrorDomain", -1001);
    EXPECT_EQ(bare->localizedDescription(),
              "The operation couldn\u2019t be completed. (LiveErrorDomain error -1001.)");
    EXPECT_FALSE(bare->localizedFailureReason());
    EXPECT_FALSE(bare->localizedRecoverySuggestion());
}

TEST(ErrorTexts, ReasonAndSuggestionAreReadFromTheirKeys) {
    auto error = Error::create(
        platform::NSCocoaErrorDomain, 4,
        Value::dictionary({{platform::NSLocalizedFailureReasonErrorKey, "The file is missing."},
                           {platform::NSLocalizedRecoverySuggestionErrorKey, "Download it again."},
                           {platform::NSLocalizedDescriptionKey, 12}}));
    EXPECT_EQ(error->localizedFailureReason(), "The file is missing.");
    EXPECT_EQ(error->localizedRecoverySuggestion(), "Download it again.");
    // A description that is not text is ignored rather than shown as a number.
    EXPECT_EQ(error->localizedDescription(),
              "The operation couldn\u2019t be completed. (NSCocoaErrorDomain error 4.)");
}

TEST(ErrorTexts, UserInfoIsAlwaysADictionary) {
    EXPECT_TRUE(Error::create("D", 1)->userInfo().isDictionary());
    EXPECT_TRUE(Error::create("D", 1, Value("not a dictionary"))->userInfo().isDictionary());
    EXPECT_EQ(Error::create("D", 1, Value::dictionary({{"k", 1}}))->userInfo()["k"], Value(1));
}

TEST(ErrorTexts, PosixErrorsCarryTheSystemTextAndContext) {
    auto error = Error::posix(ECONNREFUSED, "connect to 127.0.0.1:1935");
    EXPECT_EQ(error->domain(), platform::NSPOSIXErrorDomain);
    EXPECT_EQ(error->code(), ECONNREFUSED);
    EXPECT_EQ(error->localizedDescription(), std::strerror(ECONNREFUSED));
    EXPECT_EQ(error->localizedFailureReason(),
              std::string("connect to 127.0.0.1:1935: ") + std::strerror(ECONNREFUSED));
    EXPECT_FALSE(Error::posix(ENOENT)->localizedFailureReason());
}

TEST(ErrorOutParameter, SetErrorAcceptsANullDestination) {
    platform::setError(nullptr, Error::create("D", 1));
    ErrorPtr error;
    platform::setError(&error, Error::create("D", 2));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 2);
}

TEST(ExceptionTexts, WhatJoinsNameAndReason) {
    try {
        throw platform::Exception(platform::NSInvalidArgumentException, "nil key",
                                  Value::dictionary({{"k", 1}}));
    } catch (const platform::Exception& e) {
        EXPECT_STREQ(e.what(), "NSInvalidArgumentException: nil key");
        EXPECT_EQ(e.name(), "NSInvalidArgumentException");
        EXPECT_EQ(e.reason(), "nil key");
        EXPECT_EQ(e.userInfo()["k"], Value(1));
    }
}
