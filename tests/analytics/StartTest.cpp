#include "PipelineFixture.h"
#include "analytics/UsageAnalyticsLocation.h"
#include "platform/foundation/ClassRegistry.h"

using analyticstest::kAppKey;
using analyticstest::PipelineTest;
using platform::Value;
using Config = UsageAnalyticsConfig;

TEST_F(PipelineTest, TheApplicationsStartResolvesPolicyIntervalAndCrashCapture) {
    start(); // the interval, channel, key and version are pinned by the description and the header
    EXPECT_EQ(app()->reportPolicy(), 1);
    EXPECT_EQ(Config::configureWithKey("uacReportPolicy"), Value(0));
    EXPECT_EQ(Config::configureWithKey("scenariotype"), Value(0));
    EXPECT_TRUE(Config::doubleWithKey("uaSeparatedTime"));
    EXPECT_EQ(seams.job->jobTypes, std::vector<int32_t>{0});
    EXPECT_TRUE(seams.printed("UALOG: session begin:" + internal()->sessionID()));

    // A second start registers nothing twice: one resignation makes one session record.
    start();
    EXPECT_EQ(seams.crash->installs, 1);
    UsageAnalytics::setBackgroundTaskEnabled(false);
    platform::NotificationCenter::defaultCenter().postNotificationName(
        platform::UIApplicationWillResignActiveNotification, platform::UIApplication::sharedApplication());
    EXPECT_EQ(internal()->terminates.size(), 0u); // saved to the cache file at once
    internal()->loadCache();
    EXPECT_EQ(internal()->terminates.size(), 1u);
}

TEST_F(PipelineTest, AnEmptyKeyStartsNothing) {
    auto config = UAAnalyticsConfig::sharedInstance();
    config->setAppKey("");
    UsageAnalytics::startWithConfigure(config);
    drain();
    EXPECT_TRUE(seams.printed("UALOG:(ERROR) appkey is empty."));
    EXPECT_TRUE(Config::configureWithKey("appkey").isNil());
    EXPECT_FALSE(session()->observerRegistered());
    EXPECT_EQ(session()->sessionStatus(), 0);

    UsageAnalyticsSession::startWithAppkey("");
    EXPECT_TRUE(
        seams.printed("UALOG: appkey can not be found or not valid. UsageAnalytics methods must be called "
                      "after [UsageAnalytics startWithAppkey...]!"));
    Config::setConfigure(Value("an older key"), "appkey");
    start();
    EXPECT_TRUE(seams.printed("WARNING: Appkey is different with the past."));
    EXPECT_EQ(Config::configureWithKey("appkey"), Value(kAppKey));
    EXPECT_EQ(session()->sessionStatus(), 1);
}

TEST_F(PipelineTest, SendIntervalIsAtLeast90SecondsAndAtMostADayAndLatencyAtMost1800) {
    UsageAnalytics::setLogSendInterval(89.9);
    EXPECT_TRUE(seams.printed("ERROR: can't less 90s for log send interval."));
    EXPECT_TRUE(Config::configureWithKey("uacReportInterval").isNil());
    UsageAnalytics::setLogSendInterval(90);
    EXPECT_EQ(app()->logSendInterval(), 90);
    UsageAnalytics::setLogSendInterval(600);
    EXPECT_EQ(app()->logSendInterval(), 600);
    UsageAnalytics::setLogSendInterval(86401);
    EXPECT_EQ(Config::doubleWithKey("uacReportInterval"), 86401);
    EXPECT_EQ(app()->logSendInterval(), 90);

    for (int32_t latency : {5000, -1, 10})
        UsageAnalytics::setLatency(latency);
    EXPECT_EQ(seams.job->latencies, (std::vector<int32_t>{1800, 1800, 10}));
}

TEST_F(PipelineTest, ImprintAndExperimentDecidePolicyAndIntervalAndCrashCaptureIsInstalledOnce) {
    Config::setConfigure(Value(6), "uaExperimentRPT");
    seams.imprint->values["test_report_interval"] = "30";
    EXPECT_EQ(UsageAnalyticsApp::minReportInterval(), 90);
    seams.imprint->values["test_report_interval"] = "600";
    EXPECT_EQ(UsageAnalyticsApp::minReportInterval(), 600);
    EXPECT_EQ(app()->reportPolicy(), 6);
    seams.imprint->values["integrated_test"] = "1"; // the experiment no longer applies
    seams.imprint->values["report_policy"] = "8";
    EXPECT_EQ(app()->reportPolicy(), 8);
    seams.imprint->values["report_policy"] = "0"; // integrated testing, but never debugging here
    EXPECT_EQ(app()->reportPolicy(), 1);
    for (int policy : {-1, 2, 5, 7, 9})
        EXPECT_EQ(UsageAnalyticsApp::verifyReportPolicy(policy), 1) << policy;

    // Crash capture is installed once and only observed while on.
    auto& center = platform::NotificationCenter::defaultCenter();
    UsageAnalytics::setCrashReportEnabled(true);
    UsageAnalytics::setCrashReportEnabled(true);
    EXPECT_EQ(seams.crash->installs, 1);
    UsageAnalytics::setCrashReportEnabled(false);
    center.postNotificationName("UsageAnalyticsCrashCatch");
    EXPECT_TRUE(seams.crash->crashes.empty());
    EXPECT_FALSE(app()->appCrashedHandlerInstalled());
    UsageAnalytics::setCrashReportEnabled(true);
    center.postNotificationName("UsageAnalyticsCrashCatch");
    EXPECT_EQ(seams.crash->crashes.size(), 1u);
    EXPECT_EQ(seams.crash->installs, 1);
}

TEST_F(PipelineTest, CompanionCallsGoThroughTheClassRegistryWhenOneIsLinked) {
    std::vector<std::string> calls;
    platform::ClassInfo companion;
    companion.name = "CompanionUsageAnalytics";
    companion.superclassName = "NSObject";
    for (const char* selector : {"setChannel:", "setDebugStatus:", "setSendInterval:"})
        companion.classMethods[selector] = [&calls, selector](const Value& v) {
            calls.push_back(std::string(selector) + v.description());
            return Value();
        };
    UsageAnalytics::setLogEnabled(false); // nothing linked yet: nothing to call
    platform::ClassRegistry::shared().registerClass(companion);
    UAAnalyticsConfig::sharedInstance()->setChannelId("store");
    start();
    UsageAnalytics::setLogEnabled(true);
    UsageAnalytics::setLogSendInterval(120.7);
    UsageAnalytics::preformClass("NoSuchClass", "setChannel:", Value("x"));
    EXPECT_EQ(calls,
              (std::vector<std::string>{"setChannel:store", "setDebugStatus:1", "setSendInterval:120"}));
    EXPECT_EQ(app()->channel(), "store");
    platform::ClassRegistry::shared().unregisterClass("CompanionUsageAnalytics");
}

TEST_F(PipelineTest, SettingsDescriptionAndLocation) {
    start();
    EXPECT_EQ(app()->description(),
              "<UsageAnalyticsApp: logEnabled=1, crashReportEnabled=1, sendInterval=90.000000, "
              "reportPolicy=1, appVersion=1.0, appid=9d4e2b7a1c3f5e8d0a6b4c2e, "
              "channel=App Store>");
    UsageAnalytics::setLatitude(0, 116.4);
    EXPECT_TRUE(seams.printed("UALOG: Latitude or longitude may be wrong."));
    UsageAnalytics::setLocation({39.9, 116.4});
    double setAt = platform::Clock::timeIntervalSince1970();
    internal()->stopSession(5);
    auto record = last<UANTerminate>(internal()->terminates);
    EXPECT_EQ(record->latitude, 39.9);
    EXPECT_EQ(record->gps_time, static_cast<int64_t>(setAt * 1000));
    EXPECT_EQ(UsageAnalyticsLocation::sharedInstance()->latitude(), 0);
    EXPECT_EQ(record->attributes().get("lng"), Value(116.4));
}
