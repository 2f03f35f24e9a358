#include "AnalyticsDoubles.h"
#include "analytics/UAHelper.h"
#include "analytics/UANUtil.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "platform/foundation/Text.h"
#include "tests/support/ShellCommand.h"

#include <gtest/gtest.h>
#include <random>
#include <regex>

using analyticstest::Seams;
using platform::Value;

TEST(AnalyticsHelpers, CutsNeverSplitACharacterOrPassTheByteLimit) {
    EXPECT_EQ(UANUtil::getString("a\u00e9", 2), "a");
    EXPECT_EQ(UANUtil::getString("a\u00e9", 3), "a\u00e9");
    EXPECT_EQ(UANUtil::getString("\U0001F600x", 3), "");
    EXPECT_EQ(UAHelper::trimUTF8String(std::string(200, 'a'), 160), std::string(160, 'a'));
    EXPECT_EQ(UAHelper::trimUTF8String("\u4e2d\u6587\u5b57", 7), "\u4e2d\u6587");

    std::mt19937 random(7);
    const char* pieces[] = {"a", "\u00e9", "\u4e2d", "\U0001F600", "e\u0301"};
    for (int round = 0; round < 200; ++round) {
        std::string text;
        for (int i = 0; i < 40; ++i)
            text += pieces[random() % 5];
        int64_t limit = random() % 60;
        auto cut = UAHelper::trimUTF8String(text, limit);
        ASSERT_LE(static_cast<int64_t>(cut.size()), limit);
        ASSERT_TRUE(platform::text::isValidUTF8(cut));
        ASSERT_EQ(text.rfind(cut, 0), 0u);
        ASSERT_EQ(UANUtil::getString(text, limit), cut);
    }
}

TEST(AnalyticsHelpers, TextChecksAndJsonBothWays) {
    EXPECT_TRUE(UANUtil::isEmptyString(Value(" \n")));
    EXPECT_TRUE(UANUtil::isEmptyString(Value()));
    EXPECT_TRUE(UANUtil::isEmptyString(Value::null()));
    EXPECT_FALSE(UANUtil::isEmptyString(Value("0")));
    EXPECT_FALSE(UANUtil::isEmptyString(Value(0)));

    EXPECT_EQ(UAHelper::arrayToAgStr({"a", "", "b"}), "a!b");
    EXPECT_EQ(UAHelper::arrayToAgStr({"", "b"}), "!b");
    EXPECT_EQ(UAHelper::arrayToAgStr({}), "");

    EXPECT_TRUE(UAHelper::checkU48Character("a0Z_~\u4e2d"));
    for (const char* refused : {"", "a b", "a/b", "a!", "\t", "a.b"})
        EXPECT_FALSE(UAHelper::checkU48Character(refused)) << refused;

    EXPECT_EQ(UANUtil::urlEncode("a b&c=d/\u00e9~_-."), "a%20b%26c%3Dd%2F%C3%A9~_-.");
    EXPECT_EQ(UANUtil::bytesToHexString(reinterpret_cast<const uint8_t*>("\x01\xab"), 2), "01ab");
    EXPECT_EQ(UANUtil::bytesToHexString(reinterpret_cast<const uint8_t*>("x"), 0), "");
    EXPECT_EQ(UANUtil::returnCheck(Value()), Value(""));
    EXPECT_EQ(UAHelper::encodeBase64(platform::Data(std::string_view("ab?"))), "YWI/");

    // JSON both ways.
    EXPECT_EQ(UANUtil::JSONFragment(Value::dictionary({{"a", 1}, {"b", Value::array({"x"})}})),
              R"({"a":1,"b":["x"]})");
    EXPECT_FALSE(UANUtil::JSONFragment(Value(platform::Data())));
    EXPECT_EQ(UANUtil::JSONValue(R"({"a":[1]})")["a"][0], Value(1));
    EXPECT_TRUE(UANUtil::JSONValue("{broken").isNil());
}

TEST(AnalyticsHelpers, DigestsAgreeWithMd5sumAndSessionIdsAreFresh) {
    int status = -1;
    auto theirs =
        liveapp::test::runCommand("printf '%s' 'analytics \xe4\xb8\xad' | md5sum | cut -c1-32", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(UANUtil::md5("analytics \u4e2d"), platform::text::uppercaseASCII(theirs.substr(0, 32)));
    EXPECT_EQ(UANUtil::md5BytesWithString("x"),
              UANUtil::md5DataWithData(platform::Data(std::string_view("x"))));

    auto first = UANUtil::sessionId();
    EXPECT_TRUE(std::regex_match(first, std::regex("[0-9A-F]{32}"))) << first;
    EXPECT_NE(UANUtil::sessionId(), first);
}

TEST(AnalyticsHelpers, OverseasFromTheImprintCountryFirst) {
    Seams seams;
    setenv("LANG", "zh_CN.UTF-8", 1);
    unsetenv("LC_ALL");
    EXPECT_FALSE(UAHelper::checkIsOverseas());
    seams.imprint->values["country"] = "us";
    EXPECT_TRUE(UAHelper::checkIsOverseas());
    seams.imprint->values["country"] = "cn";
    EXPECT_FALSE(UAHelper::checkIsOverseas());
}
