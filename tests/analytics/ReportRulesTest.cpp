#include "LibraryFixture.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UsageAnalyticsEnvelope.h"
#include "platform/ui/UIApplication.h"

using analyticstest::LibraryTest;
using platform::Value;
using Config = UsageAnalyticsConfig;

namespace {

constexpr double kDay = 86400;

void lastPostedAgo(double seconds) {
    Config::setConfigure(Value(platform::Clock::timeIntervalSince1970() - seconds), "lastPostInterval");
}

void imprintLatentHours(const std::string& hours) {
    UATImprint::Properties properties{{"latent_hours", std::make_shared<UATImprintValue>(hours, 1, "g")}};
    UAPayloadBuild::updateImprint(UATImprint(properties, 1, ""));
}

} // namespace

class ReportRulesTest : public LibraryTest {
protected:
    // Uploads so far, once every job started so far has ended.
    size_t uploads() {
        drain();
        finishUploads();
        return primary.uploads().size();
    }
};

TEST_F(ReportRulesTest, ThePolicyInForceDecidesWhichOffersStartAJob) {
    start(); // the application's policy 0 acts as "on activation"
    EXPECT_EQ(app()->reportPolicy(), 1);
    EXPECT_EQ(uploads(), 1u);
    UsageAnalytics::event("an event offers a job");
    EXPECT_EQ(uploads(), 1u);
    UsageAnalyticsJob::preparePerformJob(0);
    EXPECT_EQ(uploads(), 2u);

    Config::setConfigure(Value(6), "uacReportPolicy");
    UsageAnalytics::event("within the interval");
    EXPECT_EQ(uploads(), 2u);
    advance(91);
    UsageAnalytics::event("after it");
    EXPECT_EQ(uploads(), 3u);

    Config::setConfigure(Value(8), "uacReportPolicy");
    advance(10801);
    UsageAnalytics::event("3 hours on, with background tasks: 36 hours are needed");
    EXPECT_EQ(uploads(), 3u);
    UsageAnalytics::setBackgroundTaskEnabled(false);
    UsageAnalytics::event("3 hours on, without them");
    EXPECT_EQ(uploads(), 4u);
    auto application = platform::UIApplication::sharedApplication();
    application->simulateLaunch();
    application->simulateResignActive();
    internal()->stopSession(5);
    UsageAnalyticsJob::preparePerformJob(1);
    EXPECT_EQ(uploads(), 4u); // in the background only with background tasks
    UsageAnalytics::setBackgroundTaskEnabled(true);
    UsageAnalyticsJob::preparePerformJob(1);
    EXPECT_EQ(uploads(), 5u);
}

TEST_F(ReportRulesTest, BackOffLevelsHoldJobsBackToTheirLastSecondAndTheRareDrawStaysInBounds) {
    Config::setConfigure(Value("3"), "uaDefcon");
    EXPECT_TRUE(UsageAnalyticsJob::defconPass()); // never posted
    for (const auto& [level, quiet] : {std::pair{"1", 14400.0}, {"2", 28800.0}, {"3", 86400.0}}) {
        Config::setConfigure(Value(level), "uaDefcon");
        lastPostedAgo(quiet - 1);
        EXPECT_FALSE(UsageAnalyticsJob::defconPass()) << level;
        lastPostedAgo(quiet);
        EXPECT_TRUE(UsageAnalyticsJob::defconPass()) << level;
    }
    Config::setConfigure(Value("4"), "uaDefcon");
    lastPostedAgo(1);
    EXPECT_TRUE(UsageAnalyticsJob::defconPass());

    // The rare draw stays within its bounds with or without a signature.
    UsageAnalyticsJob::setRandomSource([] { return 1000u; }); // the rare draw, then the top of any span
    EXPECT_EQ(job()->latencySeed(), 0);
    EXPECT_EQ(job()->calculateLatency(), 128);
    std::string signature(32, '\0');
    signature[4] = '\x3c';
    signature[5] = '\x5a';
    Config::setConfigure(Value(platform::Data(std::string_view(signature))), "uaSignature");
    EXPECT_EQ(job()->latencySeed(), 0xc5);
    EXPECT_EQ(job()->calculateLatency(), 148); // 128 to 197
}

TEST_F(ReportRulesTest, AfterALongSilenceTheUploadWaitsARandomDelayAndAfterTwoDaysNone) {
    start();
    EXPECT_EQ(uploads(), 1u);
    std::vector<uint32_t> draws = {5, 7}; // not the rare draw; then 7 of 0 to 9 seconds
    UsageAnalyticsJob::setRandomSource([&draws] {
        uint32_t next = draws.front();
        draws.erase(draws.begin());
        return next;
    });
    lastPostedAgo(16 * kDay);
    UsageAnalytics::event("recorded");
    drain();
    UsageAnalyticsJob::preparePerformJob(0);
    EXPECT_EQ(envelopeFiles().size(), 1u); // written at once
    EXPECT_TRUE(job()->bLatencyJob());
    advance(6);
    EXPECT_EQ(uploads(), 1u);
    advance(1);
    ASSERT_TRUE(liveapp::test::pumpMainLoopUntil([&] { return primary.uploads().size() == 2; }));
    finishUploads();
    auto latent = primary.uploads()[1].payload["body"]["control_policy"]["latent"];
    EXPECT_EQ(latent["latency"], Value(7));
    EXPECT_EQ(latent["interval"], Value(int64_t(16 * kDay * 1000)));
    EXPECT_FALSE(job()->bLatencyJob());

    // After two days the upload goes at once and says so.
    lastPostedAgo(2 * kDay);
    UsageAnalytics::event("recorded");
    drain();
    UsageAnalyticsJob::preparePerformJob(0);
    EXPECT_EQ(uploads(), 3u);
    latent = primary.uploads()[2].payload["body"]["control_policy"]["latent"];
    EXPECT_EQ(latent["latency"], Value(0));
    EXPECT_EQ(latent["interval"], Value(int64_t(2 * kDay * 1000)));
}

TEST_F(ReportRulesTest, LatentHoursFrom48OnMoveTheThreshold) {
    for (const auto& [hours, delayed] : {std::pair{"47", false}, {"48", true}}) {
        imprintLatentHours(hours);
        lastPostedAgo(48 * 3600);
        EXPECT_TRUE(UsageAnalyticsJob::checkLatentCondition()) << hours;
        EXPECT_EQ(job()->bLatencyJob(), delayed) << hours;
        EXPECT_EQ(job()->bDisguisedLatency(), !delayed) << hours;
        job()->setBLatencyJob(false);
    }
    start();
    UsageAnalytics::event("waiting");
    drain();
    UsageAnalyticsEnvelope::sharedInstance()->makeEnvelopeData();
    lastPostedAgo(20 * kDay);
    EXPECT_FALSE(UsageAnalyticsJob::checkLatentCondition()); // an envelope is waiting
}
