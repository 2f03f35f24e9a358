#include "LibraryFixture.h"
#include "PythonRecords.h"
#include "analytics/UANWorker.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UsageAnalyticsEnvelope.h"
#include "platform/security/MD5.h"

using analyticstest::kAppKey;
using analyticstest::LibraryTest;
using liveapp::test::AnalyticsCollector;
using liveapp::test::HttpResponse;
using platform::Value;
using Config = UsageAnalyticsConfig;

class UploadTest : public LibraryTest {
protected:
    // Started, with the first upload done and `count` envelope files waiting.
    std::vector<std::string> startWithEnvelopes(int count) {
        start();
        finishUploads();
        for (int i = 0; i < count; ++i) {
            UsageAnalytics::event("e" + std::to_string(i));
            drain();
            UsageAnalyticsEnvelope::sharedInstance()->makeEnvelopeData();
        }
        auto files = envelopeFiles();
        UsageAnalyticsUtility::sortFileWithCreatedTime(files);
        return files;
    }
    void post(std::vector<std::string> files) { std::make_shared<UANWorker>(std::move(files))->main(); }
    int64_t counted(const char* key) { return Config::integerWithKey(key).value_or(0); }
};

TEST_F(UploadTest, TheFirstUploadOfAnInstallationIsAcceptedAndReadsIndependently) {
    start();
    finishUploads();
    ASSERT_EQ(primary.uploads().size(), 1u);
    auto upload = primary.uploads()[0];
    EXPECT_EQ(upload.problem, "");
    EXPECT_TRUE(upload.payload["body"]["activate_msg"]["ts"].isNumber());
    EXPECT_EQ(upload.request.method, "POST");
    EXPECT_EQ(upload.request.path, "/app_logs");
    EXPECT_EQ(upload.request.header("Msg-Type"), "envelope/json");
    EXPECT_EQ(upload.request.header("Content-Type"), "envelope/json");
    auto sdk = upload.request.header("X-Halvek-Sdk").value_or("");
    EXPECT_TRUE(sdk.starts_with("iOS/4.0.1 ") && sdk.ends_with(" 7EA2481017F8EB26031B4DCD8CDF9AB1")) << sdk;
    EXPECT_TRUE(upload.request.header("X-Halvek-UTC"));
    EXPECT_TRUE(envelopeFiles().empty());
    EXPECT_EQ(counted("uaSuccessfulRequests"), 1);
    EXPECT_FALSE(Config::configureWithKey("uaLastRequestSpentMS")); // the clock stood still
    EXPECT_TRUE(Config::configureWithKey("uaActivateMsg").isNumber());

    if (!analyticstest::PythonRecords::available())
        GTEST_SKIP() << "no /usr/bin/python3";
    auto fields =
        analyticstest::PythonRecords::decode(platform::Data(std::string_view(upload.request.body)))["fields"];
    ASSERT_EQ(fields.count(), 10u);
    EXPECT_EQ(fields[1]["value"]["hex"],
              Value(platform::hexString(platform::Data(std::string_view(kAppKey)).span())));
    EXPECT_EQ(fields[2]["value"]["hex"],
              Value(platform::hexString(platform::Data(std::string_view(upload.signature)).span())));
    EXPECT_EQ(fields[3]["value"], Value(1));
    EXPECT_EQ(fields[5]["value"], Value(upload.length));
    EXPECT_EQ(fields[9]["value"], Value(0));
}

TEST_F(UploadTest, WithThePrimaryDownEachFileGoesToTheFallbackExceptUnderBackOff) {
    AnalyticsCollector down;
    down.stop();
    ::setenv(UAEndpoints::kCollectorURLVariable, down.baseURL().c_str(), 1);
    auto files = startWithEnvelopes(2);
    ASSERT_EQ(files.size(), 2u);
    post(files);
    EXPECT_TRUE(envelopeFiles().empty());
    ASSERT_EQ(fallback.uploads().size(), 3u); // the start's, then the two in order
    EXPECT_LT(fallback.uploads()[1].serialNum, fallback.uploads()[2].serialNum);
    EXPECT_EQ(fallback.uploads()[2].problem, "");

    // Under back-off a failed post drops every listed file and tries no fallback.
    files = startWithEnvelopes(2);
    auto fallbackUploads = fallback.uploads().size();
    Config::setConfigure(Value("1"), "uaDefcon");
    auto failed = counted("uaFailedRequests");
    post(files);
    EXPECT_TRUE(envelopeFiles().empty());
    EXPECT_EQ(fallback.uploads().size(), fallbackUploads);
    EXPECT_EQ(counted("uaFailedRequests"), failed + 1);
}

TEST_F(UploadTest, OnlyA200ThriftAnswerConsumesTheFile) {
    const struct {
        const char* what;
        HttpResponse reply;
        bool consumed;
        int64_t successes, failures;
        std::string line;
    } cases[] = {
        {"json", HttpResponse::json("{}"), false, 0, 2, ""},
        {"500", HttpResponse::text(500, "x", "application/thrift"), false, 0, 2,
         "UALOG: (Response Applog) {\"fail\": \"statusCode\":500}"},
        {"empty", HttpResponse::text(200, "", "application/thrift"), false, 0, 2, ""},
        {"code 0", AnalyticsCollector::reply(0), true, 0, 1,
         "UALOG: (Response Applog) {\"fail\": \"error\"}"},
        {"garbage", HttpResponse::text(200, "\x08\x00\x01", "application/thrift"), true, 0, 1,
         "Exception occurred: "},
        {"code 1", AnalyticsCollector::reply(1), true, 1, 0,
         "UALOG: (Response Applog) {\"success\": \"ok\"}"},
    };
    auto files = startWithEnvelopes(1);
    for (const auto& c : cases) {
        seams.clearLines();
        primary.scriptOnce(c.reply);
        fallback.scriptOnce(c.reply);
        auto successes = counted("uaSuccessfulRequests"), failures = counted("uaFailedRequests");
        post(files);
        EXPECT_EQ(envelopeFiles().empty(), c.consumed) << c.what;
        EXPECT_EQ(counted("uaSuccessfulRequests") - successes, c.successes) << c.what;
        EXPECT_EQ(counted("uaFailedRequests") - failures, c.failures) << c.what;
        if (!c.line.empty()) {
            EXPECT_TRUE(seams.printed(c.line, true)) << c.what;
        }
        if (c.consumed)
            files = startWithEnvelopes(1);
    }
}

TEST_F(UploadTest, AcceptedRepliesApplyAnImprintOnlyWhenItsChecksumHolds) {
    auto files = startWithEnvelopes(2);
    auto build = UAPayloadBuild::sharedInstance();
    build->generateIdTracking(); // journals waiting for an acknowledgement
    primary.scriptOnce(AnalyticsCollector::reply(1, {{"defcon", "1"}}, 1, false));
    post({files[0]});
    EXPECT_TRUE(build->idTracking()->journals()->empty());
    EXPECT_EQ(UAPayloadBuild::imprintPropertyValueWithKey("defcon"), std::nullopt);

    primary.scriptOnce(AnalyticsCollector::reply(1, {{"defcon", "2"}, {"uaid", "U-7"}}));
    post({files[1]});
    EXPECT_EQ(Config::configureWithKey("uaDefcon"), Value("2"));
    EXPECT_EQ(UAPayloadBuild::imprintPropertyValueWithKey("uaid"), "U-7");
}

TEST_F(UploadTest, AJobHeldAtTheCollectorKeepsTheNextOneWaiting) {
    auto gate = primary.hold();
    start();
    ASSERT_TRUE(gate->waitForArrivals(1));
    EXPECT_TRUE(job()->jobRunning());
    UsageAnalytics::event("e");
    drain();
    UsageAnalyticsJob::preparePerformJob(0);
    EXPECT_EQ(internal()->sendLogQueue()->operationCount(), 1u);
    gate->open();
    finishUploads();
    EXPECT_FALSE(job()->jobRunning());
    EXPECT_EQ(primary.uploads().size(), 1u);

    job()->setJobRunning(true);
    post({});
    EXPECT_FALSE(job()->jobRunning());
}

TEST_F(UploadTest, EndpointsComeFromTheResourcesUnlessTheEnvironmentSaysOtherwise) {
    ::setenv(UAEndpoints::kCollectorURLVariable, "127.0.0.1:9/", 1);
    ::unsetenv(UAEndpoints::kCollectorFallbackURLVariable);
    EXPECT_EQ(UAEndpoints::collectorURLs(),
              (std::vector<std::string>{"http://127.0.0.1:9", "http://127.0.0.1:8091"}));
    EXPECT_EQ(UAEndpoints::socialURL(), "http://127.0.0.1:8092");
}
