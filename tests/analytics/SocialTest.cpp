#include "AnalyticsDoubles.h"
#include "analytics/UAEndpoints.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsSocialAnalytics.h"
#include "platform/runloop/RunLoop.h"
#include "tests/peers/HttpServer.h"
#include "tests/support/HttpReplies.h"
#include "tests/support/MainLoop.h"

#include <gtest/gtest.h>

using liveapp::test::HttpRequest;
using liveapp::test::HttpResponse;
using platform::Value;
using Social = UsageAnalyticsSocialAnalytics;
using Weibo = UsageAnalyticsSocialWeibo;

namespace {

constexpr const char* kKey = "9d4e2b7a1c3f5e8d0a6b4c2e";

struct Answer {
    Value response;
    platform::ErrorPtr error;
    bool onMainThread{false};
};

} // namespace

class SocialTest : public testing::Test {
protected:
    void SetUp() override {
        UsageAnalyticsApp::setLogEnabled(true);
        ::setenv(UAEndpoints::kSocialURLVariable, server.baseURL().c_str(), 1);
        // The host answers with the platforms it was told of.
        server.routePrefix("*", "/share/api/", [](const HttpRequest& request, HttpResponse& response) {
            response =
                HttpResponse::json("{\"platform\": \"" + request.queryValue("platform").value_or("") + "\"}");
        });
    }
    void TearDown() override {
        Social::sharedInstance()->operationQueue()->waitUntilAllOperationsAreFinished();
        ::unsetenv(UAEndpoints::kSocialURLVariable);
    }

    Social::Completion recordInto(std::vector<Answer>& answers) {
        return [&answers](const Value& response, const platform::ErrorPtr& error) {
            answers.push_back({response, error, platform::RunLoop::isMainThread()});
        };
    }
    static std::shared_ptr<Weibo> plain(const char* platform) {
        return std::make_shared<Weibo>(platform, std::nullopt, std::nullopt, std::nullopt);
    }

    analyticstest::Seams seams{false, false};
    liveapp::test::HttpServer server;
};

TEST_F(SocialTest, NoTargetsOrNoKeySendNothingAndATargetWithoutIdsOrParametersIsAPlainGet) {
    std::vector<Answer> answers;
    Social::postWeiboCounts({}, kKey, std::nullopt, recordInto(answers));
    Social::postWeiboCounts({plain("sina")}, "", std::nullopt, recordInto(answers));
    EXPECT_EQ(Social::sharedInstance()->operationQueue()->operationCount(), 0u);
    EXPECT_TRUE(seams.printed("UALOG: UsageAnalyticsSocialAnalytics: 请提供分享平台名称"));
    EXPECT_TRUE(seams.printed("UALOG: UsageAnalyticsSocialAnalytics: appKey 不能为空"));
    Social::postWeiboCounts({plain("sina")}, kKey, std::nullopt, recordInto(answers));
    ASSERT_TRUE(liveapp::test::pumpMainLoopUntil([&] { return answers.size() == 1; }));
    EXPECT_EQ(answers[0].response["platform"], Value("sina"));
    EXPECT_TRUE(!answers[0].error && answers[0].onMainThread);
    auto request = server.requests().at(0);
    EXPECT_EQ(request.method + " " + request.path + " " + request.body,
              std::string("GET /share/api/") + kKey + "/ ");
    std::vector<std::string> names;
    for (const auto& [name, value] : request.queryItems())
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"deviceid", "idtype", "platform", "channel", "version", "usid",
                                               "date"}));
    EXPECT_EQ(request.queryValue("idtype"), "opendeviceid,mac");
    EXPECT_EQ(request.queryValue("usid"), "");
    EXPECT_TRUE(request.queryValue("deviceid").value_or("").ends_with(",02:00:00:00:00:00"));
}

TEST_F(SocialTest, ParametersMakeAPostAndEveryValueIsEscaped) {
    std::vector<Answer> answers;
    Social::postWeiboCounts(
        {std::make_shared<Weibo>("sina", "w1", "u1", std::nullopt),
         std::make_shared<Weibo>("wx", std::nullopt, "u&2", platform::ValueDictionary{{"k", "v"}})},
        kKey, "热门 话题&x=1", recordInto(answers));
    ASSERT_TRUE(liveapp::test::pumpMainLoopUntil([&] { return answers.size() == 1; }));
    auto request = server.requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, "data={\"wx\":{\"k\":\"v\"}}");
    EXPECT_EQ(request.queryValue("topic"), "热门 话题&x=1");
    EXPECT_NE(request.target.find("&topic=%E7%83%AD%E9%97%A8%20"), std::string::npos) << request.target;
    EXPECT_EQ(request.queryValue("usid"), "u1,u&2");
    EXPECT_EQ(request.queryValue("weiboid"), "w1,");
    EXPECT_FALSE(request.queryValue("x"));
}

TEST_F(SocialTest, EachReportIsAnsweredToItsOwnCompletion) {
    auto gate = server.makeGate();
    server.routePrefix("*", "/share/api/slow/",
                       liveapp::test::replyAfter(gate, HttpResponse::json("{\"first\": 1}")));
    std::vector<Answer> first, second;
    Social::postWeiboCounts({plain("sina")}, "slow", std::nullopt, recordInto(first));
    ASSERT_TRUE(gate->waitForArrivals(1));
    Social::postWeiboCounts({plain("qq")}, kKey, std::nullopt, recordInto(second));
    ASSERT_TRUE(liveapp::test::pumpMainLoopUntil([&] { return second.size() == 1; }));
    gate->open();
    ASSERT_TRUE(liveapp::test::pumpMainLoopUntil([&] { return first.size() == 1; }));
    EXPECT_EQ(first[0].response["first"], Value(1));
    EXPECT_EQ(second[0].response["platform"], Value("qq"));
}
