#include "PipelineFixture.h"
#include "platform/foundation/PropertyList.h"

using analyticstest::PipelineTest;
using platform::Value;
using Config = UsageAnalyticsConfig;

TEST_F(PipelineTest, RecordsBeforeTheFirstSessionWaitAndTheQuotaIs5000Per8HoursAnd10000ForGames) {
    UsageAnalytics::event("early");
    drain();
    EXPECT_EQ(internal()->tmpContainer.size(), 1u);
    EXPECT_TRUE(internal()->events.empty());
    start();
    EXPECT_TRUE(internal()->tmpContainer.empty());
    ASSERT_EQ(internal()->events.size(), 1u);
    EXPECT_EQ(eventAt(0)->event_id, "early");
    internal()->removeCacheData();
    Config::setConfigure(Value(4999), "uaPeriodEvtCount");
    UsageAnalytics::event("accepted");
    UsageAnalytics::event("refused");
    drain();
    EXPECT_EQ(internal()->events.size(), 1u);
    EXPECT_TRUE(seams.printed("UALOG: WARNING event max count 5000 per 8 hours."));
    app()->setScenarioType(1);
    UsageAnalytics::event("game");
    drain();
    EXPECT_EQ(internal()->events.size(), 2u);

    app()->setScenarioType(0);
    advance(28801);
    UsageAnalytics::event("next window");
    drain();
    EXPECT_EQ(internal()->events.size(), 3u);
    EXPECT_EQ(Config::integerWithKey("uaPeriodEvtCount"), 0);
}

TEST_F(PipelineTest, TimedEventsPairWithTheLatestBeginAndStayUnderTwoHours) {
    start();
    UsageAnalytics::endEvent("never begun");
    UsageAnalytics::beginEvent("t", "l");
    drain();
    advance(5);
    UsageAnalytics::beginEvent("t", "l");
    drain();
    advance(3);
    UsageAnalytics::endEventLabel("t", "l");
    drain();
    ASSERT_EQ(internal()->events.size(), 1u);
    EXPECT_EQ(eventAt(0)->du, 3000);
    EXPECT_EQ(internal()->eventBeginTimes.at("tl").size(), 1u);

    UsageAnalytics::beginEvent("keyed", "order", {{"a", "b"}});
    UsageAnalytics::beginEvent("long");
    UsageAnalytics::beginEvent("weeks");
    drain();
    advance(7200);
    UsageAnalytics::endEventPrimarykey("keyed", "order");
    UsageAnalytics::endEvent("long");
    drain();
    advance(25 * 86400.0); // past 2^31 milliseconds
    UsageAnalytics::endEvent("weeks");
    drain();
    EXPECT_EQ(internal()->events.size(), 1u);
    EXPECT_TRUE(internal()->ekv.empty());
    EXPECT_FALSE(internal()->eventBeginTimes.count("long"));
    EXPECT_FALSE(internal()->eventBeginTimes.count("weeks"));
    EXPECT_FALSE(internal()->ekvBeginTimes.count("keyedorder"));
}

TEST_F(PipelineTest, ASessionEndsWithItsDurationAndTheNextGetsANewId) {
    start();
    auto application = platform::UIApplication::sharedApplication();
    application->simulateLaunch();
    std::string firstId = internal()->sessionID();
    advance(30);
    application->simulateResignActive();
    EXPECT_EQ(application->backgroundTaskCount(), 1u);
    drain();
    EXPECT_TRUE(internal()->terminates.empty()); // in the cache file now
    EXPECT_TRUE(platform::PropertyList::readFile(UsageAnalyticsUtility::cacheFilePath()).isDictionary());

    application->simulateBecomeActive();
    drain();
    EXPECT_NE(internal()->sessionID(), firstId);
    ASSERT_EQ(internal()->terminates.size(), 1u);
    auto record = last<UANTerminate>(internal()->terminates);
    EXPECT_NEAR(record->duration, 30, 0.001);
    EXPECT_EQ(record->session_id, firstId);
    EXPECT_FALSE(UsageAnalyticsUtility::isExistAtPath(UsageAnalyticsUtility::cacheFilePath()));

    application->simulateBackgroundTaskExpiry();
    drain();
    EXPECT_EQ(application->backgroundTaskCount(), 0u);

    // Long sessions count as one hour.
    advance(7200);
    EXPECT_EQ(session()->endSessionTime(), 7200);
    advance(0.001);
    EXPECT_EQ(session()->endSessionTime(), 3600);
}

TEST_F(PipelineTest, WithoutBackgroundTasksResigningSavesAtOnce) {
    start();
    UsageAnalytics::setBackgroundTaskEnabled(false);
    UsageAnalytics::event("kept");
    drain();
    session()->appInactivate(nullptr);
    // No round through the main queue: the cache file is there before anything is pumped.
    EXPECT_TRUE(UsageAnalyticsUtility::isExistAtPath(UsageAnalyticsUtility::cacheFilePath()));
    EXPECT_TRUE(internal()->events.empty());
    EXPECT_EQ(platform::UIApplication::sharedApplication()->backgroundTaskCount(), 0u);
    EXPECT_EQ(session()->sessionStatus(), 2);
}

TEST_F(PipelineTest, ProfileSignInChecksAndIdentityChanges) {
    start();
    UsageAnalytics::profileSignInWithPUID("");
    UsageAnalytics::profileSignInWithPUID(std::string(65, 'p'));
    UsageAnalytics::profileSignInWithPUID("user", std::string(33, 'q'));
    drain();
    for (const char* text : {"UALOG: ERROR, invalid puid.", "UALOG: ERROR, puid's max length is 64 byte.",
                             "UALOG: ERROR, provider's max length is 32 byte."})
        EXPECT_TRUE(seams.printed(text)) << text;
    EXPECT_TRUE(Config::configureWithKey("UAProfilePUID").isNil());

    UsageAnalytics::profileSignInWithPUID(std::string(64, 'p'), "");
    drain();
    EXPECT_EQ(Config::stringWithKey("UAProfileProvider"), "_adhoc");
    EXPECT_EQ(Config::stringWithKey("UAProfilePUID"), std::string(64, 'p'));
    int envelopes = seams.envelope->calls;
    std::string id = internal()->sessionID();
    UsageAnalytics::profileSignInWithPUID(std::string(64, 'p'));
    drain();
    EXPECT_EQ(seams.envelope->calls, envelopes); // the same identity changes nothing
    EXPECT_EQ(internal()->sessionID(), id);

    UsageAnalytics::profileSignInWithPUID("someone else", "wx");
    drain();
    EXPECT_EQ(seams.envelope->calls, envelopes + 1);
    EXPECT_NE(internal()->sessionID(), id);
    EXPECT_TRUE(internal()->terminates.empty()); // packed into the envelope
    UsageAnalytics::profileSignOff();
    drain();
    EXPECT_TRUE(Config::configureWithKey("UAProfilePUID").isNil());
    EXPECT_EQ(seams.envelope->calls, envelopes + 2);
}

TEST_F(PipelineTest, TheCacheFileKeepsRecordsCrashRecordsOnlyForTheSameVersionAndSkipsWhatDoesNotRead) {
    start();
    UsageAnalytics::event("e");
    UsageAnalytics::event("x", {{"a", "b"}});
    drain();
    auto crash = std::make_shared<UANError>();
    crash->context = "reason\n(frames)";
    internal()->errors.push_back(crash);
    internal()->stopSession(12);
    internal()->saveAndCleanCache();
    EXPECT_FALSE(internal()->hasJob());
    EXPECT_EQ(Config::stringWithKey("UAAppVersion"), "1.0");

    internal()->loadCache();
    EXPECT_EQ(internal()->events.size(), 1u);
    EXPECT_EQ(internal()->ekv.size(), 1u);
    EXPECT_EQ(internal()->terminates.size(), 1u);
    ASSERT_EQ(internal()->errors.size(), 1u);
    EXPECT_EQ(std::dynamic_pointer_cast<UANError>(internal()->errors[0])->context, "reason\n(frames)");
    EXPECT_EQ(ekvAt(0)->values.get("a"), Value("b"));

    internal()->saveAndCleanCache();
    UsageAnalytics::setAppVersion("1.1"); // an update: the old version's crash is dropped
    internal()->loadCache();
    EXPECT_TRUE(internal()->errors.empty());
    EXPECT_EQ(internal()->events.size(), 1u);

    // Entries that do not read are skipped alone.
    internal()->removeCacheData();
    auto event = std::make_shared<UANEvent>();
    event->event_id = "good";
    internal()->events.push_back(event);
    platform::ValueDictionary body;
    internal()->archiveObjects(body);
    // A ten-byte entry, bytes that are no archive, and an archive of the wrong records.
    body.set("terminate", Value(platform::Data(std::string(10, 'x'))));
    body.set("error", Value(platform::Data(std::string(40, 'y'))));
    body.set("ekv", body.get("event"));
    platform::PropertyList::writeFile(Value::dictionary({{"body", Value(body)}}),
                                      UsageAnalyticsUtility::cacheFilePath());
    internal()->removeCacheData();
    internal()->loadCache();
    EXPECT_EQ(internal()->events.size(), 1u);
    EXPECT_TRUE(internal()->ekv.empty());
    EXPECT_TRUE(internal()->terminates.empty());
    EXPECT_TRUE(internal()->errors.empty());
    EXPECT_FALSE(UsageAnalyticsUtility::isExistAtPath(UsageAnalyticsUtility::cacheFilePath()));
}

TEST_F(PipelineTest, TheHeaderDescribesDeviceApplicationAndSettings) {
    start();
    auto header = internal()->header();
    for (const auto& [key, value] :
         std::vector<std::pair<std::string, std::string>>{{"appkey", analyticstest::kAppKey},
                                                          {"channel", "App Store"},
                                                          {"sdk_type", "iOS"},
                                                          {"sdk_version", "4.0.1"},
                                                          {"app_version", "1.0"},
                                                          {"mc", "02:00:00:00:00:00"}})
        EXPECT_EQ(header.get(key), Value(value)) << key;
    EXPECT_EQ(header.get("device_id").stringOr().size(), 40u);
    EXPECT_FALSE(header.contains("idfa"));
    EXPECT_FALSE(header.contains("vertical_type"));
    app()->setScenarioType(1);
    UsageAnalytics::setWrapperType("unity", "");
    header = internal()->header();
    EXPECT_EQ(header.get("vertical_type"), Value(1));
    EXPECT_EQ(header.get("wrapper_type"), Value("unity"));
    EXPECT_FALSE(header.contains("wrapper_version"));
}
