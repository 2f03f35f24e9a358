#include "analytics/UsageAnalyticsConfig.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"

#include <gtest/gtest.h>

using platform::Value;
using Config = UsageAnalyticsConfig;

namespace {

// What a fresh process would read from the defaults file.
Value onDisk(std::string_view key) {
    auto file = platform::UserDefaults::standardUserDefaults()->file();
    return platform::UserDefaults::create(file)->objectForKey(key);
}

} // namespace

TEST(AnalyticsConfigStore, WritesReachTheDiskAtOnceNilOrEmptyKeysChangeNothingAndCountersStartAtOne) {
    Config::setConfigure(Value("9d4e2b7a1c3f5e8d0a6b4c2e"), "appkey");
    EXPECT_EQ(onDisk("appkey"), Value("9d4e2b7a1c3f5e8d0a6b4c2e"));
    Config::setConfigure(Value(), "appkey");
    Config::setConfigure(Value("x"), " \n");
    Config::removeConfigureWithKey("");
    EXPECT_EQ(Config::configureWithKey("appkey"), Value("9d4e2b7a1c3f5e8d0a6b4c2e"));
    EXPECT_TRUE(Config::configureWithKey(" \n").isNil());
    Config::removeConfigureWithKey("appkey");
    EXPECT_TRUE(onDisk("appkey").isNil());

    // Counters start at one and readers ignore values of another kind.
    Config::incrementCounterWithKey("uaSerialNum");
    EXPECT_EQ(Config::integerWithKey("uaSerialNum"), 1);
    Config::setConfigure(Value(41), "uaSerialNum");
    Config::incrementCounterWithKey("uaSerialNum");
    EXPECT_EQ(onDisk("uaSerialNum"), Value(42));
    Config::setConfigure(Value("41"), "uaFailedRequests"); // a text where a number belongs
    EXPECT_FALSE(Config::integerWithKey("uaFailedRequests"));
    EXPECT_FALSE(Config::dataWithKey("uaFailedRequests"));
    EXPECT_FALSE(Config::doubleWithKey("uaFailedRequests"));
    Config::incrementCounterWithKey("uaFailedRequests");
    EXPECT_EQ(Config::integerWithKey("uaFailedRequests"), 1);

    Config::accumulateCount(3, "uaPeriodEvtCount");
    Config::accumulateCount(4, "uaPeriodEvtCount");
    EXPECT_EQ(Config::integerWithKey("uaPeriodEvtCount"), 7);
    Config::setConfigure(Value(INT32_MAX - 1), "uaPeriodEvtCount");
    Config::accumulateCount(5, "uaPeriodEvtCount");
    EXPECT_EQ(Config::integerWithKey("uaPeriodEvtCount"), INT32_MAX);
}
