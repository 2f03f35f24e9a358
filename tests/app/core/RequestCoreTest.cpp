// The HTTP transport: the exact bytes and headers of the envelope POST, cookies carried from one
// request to the next, the completion rules (status ignored, empty replies and transport errors are
// failures) and that every completion arrives on the main queue, also for URLs that do not parse.

#include "app/core/RequestCore.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/net/URLError.h"
#include "platform/runloop/Thread.h"
#include "tests/support/HttpReplies.h"
#include "tests/peers/HttpServer.h"
#include "tests/support/MainLoop.h"
#include "tests/peers/ServiceStub.h"

#include <functional>
#include <gtest/gtest.h>

using namespace liveapp::test;
using platform::Data;
using platform::ErrorPtr;
using platform::Value;

namespace {

// Which block ran, with what, and whether on the main thread.
struct Outcome {
    int successes{0};
    int failures{0};
    std::optional<Data> data;
    ErrorPtr error;
    bool onMainThread{true};

    RequestCore::SuccessBlock success() {
        return [this](const Data& bytes) {
            ++successes;
            data = bytes;
            onMainThread = onMainThread && platform::Thread::isMainThread();
        };
    }
    RequestCore::FailureBlock failure() {
        return [this](const ErrorPtr& reported) {
            ++failures;
            error = reported;
            onMainThread = onMainThread && platform::Thread::isMainThread();
        };
    }
    int calls() const { return successes + failures; }
    bool wait() {
        return pumpMainLoopUntil([this] { return calls() > 0; }, std::chrono::seconds(30));
    }
};

// Moves the manual clock by `step` and lets the main loop run, until `done` holds (or a generous
// number of steps has passed).
bool advanceUntil(platform::ManualClock& clock, platform::Duration step, const std::function<bool()>& done) {
    for (int i = 0; i < 100 && !done(); ++i) {
        clock.advance(step);
        pumpMainLoopUntil(done, std::chrono::milliseconds(200));
    }
    return done();
}

class RequestCoreTest : public testing::Test {
protected:
    void TearDown() override { platform::Clock::install(nullptr); }

    std::string api() const { return server.url("/api/v1"); }

    HttpServer server;
};

TEST_F(RequestCoreTest, PostSendsThePrettyPrintedEnvelopeWithItsThreeHeaders) {
    server.route("POST", "/api/v1", HttpResponse::json(R"({"code":200})"));
    Outcome outcome;
    RequestCore::POST(api(), "room.update", Value::dictionary({{"title", "晚安"}, {"categoryId", "3"}}),
                      outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_EQ(server.requestCount(), 1u);
    auto request = server.requests().front();
    const std::string expected = "{\n"
                                 "  \"m\" : \"room.update\",\n"
                                 "  \"p\" : {\n"
                                 "    \"title\" : \"晚安\",\n"
                                 "    \"categoryId\" : \"3\"\n"
                                 "  }\n"
                                 "}";
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/v1");
    EXPECT_EQ(request.body, expected);
    EXPECT_EQ(request.header("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("Accept"), "application/json");
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(outcome.data->toString(), R"({"code":200})");
}

TEST_F(RequestCoreTest, EnvelopeCarriesParametersOnlyWhenGiven) {
    EXPECT_EQ(RequestCore::envelope("login.logout", Value())->toString(), "{\n  \"m\" : \"login.logout\"\n}");
    EXPECT_EQ(RequestCore::envelope("category.list", Value(platform::ValueArray{}))->toString(),
              "{\n  \"m\" : \"category.list\",\n  \"p\" : [\n\n  ]\n}");
}

TEST_F(RequestCoreTest, PostWithoutParametersSendsTheOperationAlone) {
    server.route("POST", "/api/v1", HttpResponse::json("{}"));
    Outcome outcome;
    RequestCore::POST(api(), "login.logout", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    auto body = ServiceStub::envelope(server.requests().front());
    EXPECT_EQ(body, Value::dictionary({{"m", "login.logout"}}));
}

TEST_F(RequestCoreTest, GetSendsTheURLAsGivenWithoutABody) {
    server.route("GET", "/json/rooms/42/info.json", HttpResponse::json(R"({"uid":"42"})"));
    Outcome outcome;
    RequestCore::GET(server.url("/json/rooms/42/info.json?t=100"), Value::dictionary({{"ignored", 1}}),
                     outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    auto request = server.requests().front();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/json/rooms/42/info.json?t=100");
    EXPECT_TRUE(request.body.empty());
    EXPECT_EQ(outcome.successes, 1);
}

TEST_F(RequestCoreTest, CookieFromTheCaptchaGoesOutWithTheLoginPost) {
    ServiceStub stub;
    Outcome captcha;
    RequestCore::GET(stub.baseURL() + "/token/captcha", Value(), captcha.success(), captcha.failure());
    ASSERT_TRUE(captcha.wait());
    ASSERT_EQ(captcha.successes, 1);
    Outcome login;
    RequestCore::POST(stub.baseURL() + "/api/v1", "login",
                      Value::dictionary({{"name", "anchor"}, {"password", "secret"}, {"captcha", "8888"}}),
                      login.success(), login.failure());
    ASSERT_TRUE(login.wait());
    auto captchaRequest = stub.requestsTo(ServiceStub::kCaptchaEndpoint).at(0);
    auto loginRequest = stub.requestsTo("login").at(0);
    EXPECT_TRUE(captchaRequest.cookies().empty());
    EXPECT_TRUE(loginRequest.cookies().count(std::string(ServiceStub::kSessionCookie)));
    EXPECT_EQ(ServiceStub::envelope(loginRequest)["p"]["captcha"], Value("8888"));
    EXPECT_EQ(Value(platform::JSONSerialization::JSONObjectWithData(*login.data))["code"], Value(200));
}

TEST_F(RequestCoreTest, HttpErrorStatusWithABodyIsASuccess) {
    server.route("POST", "/api/v1", HttpResponse::text(500, "internal trouble"));
    Outcome outcome;
    RequestCore::POST(api(), "user.myInfo", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(outcome.data->toString(), "internal trouble");
    EXPECT_TRUE(outcome.onMainThread);
}

TEST_F(RequestCoreTest, EmptyReplyFailsWithNothing) {
    server.route("GET", "/empty", HttpResponse::text(200, ""));
    Outcome outcome;
    RequestCore::GET(server.url("/empty"), Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_FALSE(outcome.error);
    EXPECT_TRUE(outcome.onMainThread);
}

TEST_F(RequestCoreTest, RefusedConnectionFailsWithThePlatformError) {
    std::string url = server.url("/api/v1");
    server.stop();
    Outcome outcome;
    RequestCore::POST(url, "login.logout", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_EQ(outcome.failures, 1);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), platform::NSURLErrorDomain);
    EXPECT_TRUE(outcome.onMainThread);
}

TEST_F(RequestCoreTest, ReplyLaterThanFifteenSecondsTimesOutOnTheMainQueue) {
    auto clock = std::make_shared<platform::ManualClock>();
    platform::Clock::install(clock);
    auto gate = server.makeGate();
    server.route("POST", "/api/v1", replyAfter(gate, HttpResponse::json("{}")));
    Outcome outcome;
    RequestCore::POST(api(), "user.myInfo", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(gate->waitForArrivals(1));
    clock->advance(std::chrono::seconds(14));
    pumpMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(outcome.calls(), 0);
    // The client may still note the end of its upload after the request arrived, which restarts the
    // idle time; so the clock moves on in steps until the time-out has been seen.
    ASSERT_TRUE(advanceUntil(*clock, std::chrono::seconds(2), [&] { return outcome.calls() > 0; }));
    gate->open();
    ASSERT_EQ(outcome.failures, 1);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), platform::NSURLErrorTimedOut);
    EXPECT_TRUE(outcome.onMainThread);
}

TEST_F(RequestCoreTest, AReplyThatNeverStopsTricklingTimesOutAtTheLimitOnTheWholeExchange) {
    // A piece every few milliseconds keeps the idle time-out away for ever.
    HttpResponse trickle;
    trickle.bodyWriter = [](HttpBodySink& sink) {
        while (sink.write("{") && sink.pause(std::chrono::milliseconds(20))) {
        }
        return false;
    };
    server.route("*", "/api/v1", trickle);
    const double shortLimit = 0.3;
    for (bool post : {true, false}) {
        SCOPED_TRACE(post ? "POST" : "GET");
        Outcome outcome;
        if (post)
            RequestCore::POST(api(), "user.myInfo", Value(), outcome.success(), outcome.failure(),
                              shortLimit);
        else
            RequestCore::GET(api(), Value(), outcome.success(), outcome.failure(), shortLimit);
        ASSERT_TRUE(outcome.wait());
        ASSERT_EQ(outcome.failures, 1);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->domain(), platform::NSURLErrorDomain);
        EXPECT_EQ(outcome.error->code(), platform::NSURLErrorTimedOut);
        EXPECT_TRUE(outcome.onMainThread);
    }
}

TEST_F(RequestCoreTest, UnparsableOrAbsentURLFailsOnTheMainQueue) {
    for (std::optional<std::string_view> url :
         {std::optional<std::string_view>("http://bad host/api"), std::optional<std::string_view>()}) {
        Outcome outcome;
        RequestCore::POST(url, "login", Value(), outcome.success(), outcome.failure());
        EXPECT_EQ(outcome.calls(), 0); // never before the call returns
        ASSERT_TRUE(outcome.wait());
        EXPECT_EQ(outcome.failures, 1);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->code(), platform::NSURLErrorBadURL);
        EXPECT_TRUE(outcome.onMainThread);
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(RequestCoreTest, AbsentBlocksAreSkipped) {
    server.route("GET", "/empty", HttpResponse::text(200, ""));
    server.route("GET", "/full", HttpResponse::text(200, "x"));
    RequestCore::GET(server.url("/empty"), Value(), nullptr, nullptr);
    RequestCore::GET(server.url("/full"), Value(), nullptr, nullptr);
    RequestCore::GET("http://bad host/", Value(), nullptr, nullptr);
    // The last request tells when the two before it have been answered.
    Outcome last;
    ASSERT_TRUE(server.waitForRequests(2));
    RequestCore::GET(server.url("/full"), Value(), last.success(), last.failure());
    ASSERT_TRUE(last.wait());
    pumpMainLoopFor(std::chrono::milliseconds(50));
    EXPECT_EQ(last.successes, 1);
}

TEST_F(RequestCoreTest, ParametersJSONCannotCarryFailWithoutSending) {
    Outcome outcome;
    RequestCore::POST(api(), "room.update", Value::dictionary({{"when", platform::Date::now()}}),
                      outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_TRUE(outcome.error);
    EXPECT_EQ(server.requestCount(), 0u);
}

} // namespace
