// The service requests, from the transport up: the exact bytes and headers of the envelope POST
// and the completion rules (status ignored, empty replies and transport errors are failures, every
// completion on the main queue, also for URLs that do not parse); the generic reply decoder; and the
// service's API operations against the service stub: what each sends, every branch of its decoding
// rule with the exact ready-to-show texts, the transport failures, the route lengths, the captcha,
// and the requests that are never sent for lack of a room id.

#include "app/core/RequestService.h"

#include "app/core/AppConfiguration.h"
#include "app/core/RequestCore.h"
#include "app/core/ServiceModels.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/net/URLError.h"
#include "platform/runloop/Thread.h"
#include "tests/peers/HttpServer.h"
#include "tests/peers/ServiceStub.h"
#include "tests/support/HttpReplies.h"
#include "tests/support/MainLoop.h"

#include <cstdlib>
#include <fmt/format.h>
#include <functional>
#include <gtest/gtest.h>
#include <set>

using namespace liveapp::test;
using platform::Data;
using platform::ErrorPtr;
using platform::Value;

namespace {

// Which block ran, how often, with what (the service's text, the transport's bytes or error), and
// whether always on the main thread.
struct Outcome {
    int successes{0};
    int failures{0};
    std::string message;
    std::optional<Data> data;
    ErrorPtr error;
    bool onMainThread{true};

    void note() { onMainThread = onMainThread && platform::Thread::isMainThread(); }
    // Serves as the service's failure block (a text) and the transport's (an error).
    struct Failure {
        Outcome* outcome;
        void operator()(const std::string& text) const { outcome->message = text, outcome->failed(); }
        void operator()(const ErrorPtr& error) const { outcome->error = error, outcome->failed(); }
    };
    Failure failure() { return {this}; }
    void failed() { ++failures, note(); }
    RequestCore::SuccessBlock success() {
        return [this](const Data& bytes) { ++successes, data = bytes, note(); };
    }
    RequestService::DoneBlock done() {
        return [this] { ++successes, note(); };
    }
    template <typename T> std::function<void(const T&)> success(T& into) {
        return [this, &into](const T& value) { ++successes, into = value, note(); };
    }
    template <typename T> std::function<void(const T&)> counted() {
        return [this](const T&) { ++successes, note(); };
    }
    int calls() const { return successes + failures; }
    bool wait() {
        bool answered = pumpMainLoopUntil([this] { return calls() > 0; }, std::chrono::seconds(30));
        pumpMainLoopOnce(); // a second answer would show up here
        return answered;
    }
    bool failedWith(std::string_view text) const {
        return successes == 0 && failures == 1 && message == text;
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
    void TearDown() override {
        platform::Clock::install(nullptr);
        unsetenv(AppConfiguration::kServiceURLVariable);
    }

    std::string api() const { return server.url("/api/v1"); }

    HttpServer server;
};

TEST_F(RequestCoreTest, PostSendsThePrettyPrintedEnvelopeWithItsThreeHeadersGetTheURLAlone) {
    server.route("POST", "/api/v1", HttpResponse::json(R"({"code":200})"));
    Outcome outcome;
    RequestCore::POST(api(), "room.update", Value::dictionary({{"title", "晚安"}, {"categoryId", "3"}}),
                      outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    auto request = server.requests().at(0);
    const std::string expected = "{\n"
                                 "  \"m\" : \"room.update\",\n"
                                 "  \"p\" : {\n"
                                 "    \"title\" : \"晚安\",\n"
                                 "    \"categoryId\" : \"3\"\n"
                                 "  }\n"
                                 "}";
    EXPECT_EQ(request.method + " " + request.path, "POST /api/v1");
    EXPECT_EQ(request.body, expected);
    EXPECT_EQ(request.header("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("Accept"), "application/json");
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(outcome.data->toString(), R"({"code":200})");
    // GET sends the URL as given, without the parameters or a body.
    server.route("GET", "/json/rooms/42/info.json", HttpResponse::json(R"({"uid":"42"})"));
    Outcome get;
    RequestCore::GET(server.url("/json/rooms/42/info.json?t=100"), Value::dictionary({{"ignored", 1}}),
                     get.success(), get.failure());
    ASSERT_TRUE(get.wait());
    request = server.requests().at(1);
    EXPECT_EQ(request.method + " " + request.target + request.body, "GET /json/rooms/42/info.json?t=100");
    EXPECT_EQ(get.successes, 1);
}

TEST_F(RequestCoreTest, EnvelopeCarriesParametersOnlyWhenGiven) {
    EXPECT_EQ(RequestCore::envelope("login.logout", Value())->toString(), "{\n  \"m\" : \"login.logout\"\n}");
    EXPECT_EQ(RequestCore::envelope("category.list", Value(platform::ValueArray{}))->toString(),
              "{\n  \"m\" : \"category.list\",\n  \"p\" : [\n\n  ]\n}");
}

TEST_F(RequestCoreTest, AnyBodyIsASuccessWhateverTheStatusEmptyOrNoReplyAFailure) {
    server.route("POST", "/api/v1", HttpResponse::text(500, "internal trouble"));
    server.route("GET", "/empty", HttpResponse::text(200, ""));
    Outcome error, empty, refused;
    RequestCore::POST(api(), "user.myInfo", Value(), error.success(), error.failure());
    RequestCore::GET(server.url("/empty"), Value(), empty.success(), empty.failure());
    ASSERT_TRUE(error.wait() && empty.wait());
    EXPECT_EQ(error.successes, 1);
    EXPECT_EQ(error.data->toString(), "internal trouble");
    EXPECT_EQ(empty.failures, 1);
    EXPECT_FALSE(empty.error);
    server.stop();
    RequestCore::POST(api(), "login.logout", Value(), refused.success(), refused.failure());
    ASSERT_TRUE(refused.wait());
    ASSERT_EQ(refused.failures, 1);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->domain(), platform::NSURLErrorDomain);
    EXPECT_TRUE(error.onMainThread && empty.onMainThread && refused.onMainThread);
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

// An unparsable or absent URL, or parameters JSON cannot carry: a failure on the main queue, never
// before the call returns, and nothing sent.
TEST_F(RequestCoreTest, UnusableRequestsFailOnTheMainQueueWithoutSending) {
    for (std::optional<std::string_view> url :
         {std::optional<std::string_view>("http://bad host/api"), std::optional<std::string_view>()}) {
        Outcome outcome;
        RequestCore::POST(url, "login", Value(), outcome.success(), outcome.failure());
        EXPECT_EQ(outcome.calls(), 0);
        ASSERT_TRUE(outcome.wait());
        EXPECT_EQ(outcome.failures, 1);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->code(), platform::NSURLErrorBadURL);
        EXPECT_TRUE(outcome.onMainThread);
    }
    Outcome unwritable;
    RequestCore::POST(api(), "room.update", Value::dictionary({{"when", platform::Date::now()}}),
                      unwritable.success(), unwritable.failure());
    ASSERT_TRUE(unwritable.wait());
    EXPECT_EQ(unwritable.failures, 1);
    EXPECT_TRUE(unwritable.error);
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
    EXPECT_EQ(last.successes, 1);
}

// The sample requests go to the configured service with a fixed path and read the reply as ASCII.
TEST_F(RequestCoreTest, SampleRequestsSendTheirFixedRequestToTheServiceAndReadTheReplyAsASCII) {
    setenv(AppConfiguration::kServiceURLVariable, server.baseURL().c_str(), 1);
    const struct {
        bool post;
        HttpResponse reply;
        std::optional<std::string> text;
    } cases[] = {
        {true, HttpResponse::text(200, "posted"), "posted"},
        {false, HttpResponse::text(200, "got"), "got"},
        {false, HttpResponse::text(500, "trouble"), "trouble"}, // the status is not looked at
        {true, HttpResponse::text(200, "晚安"), std::nullopt},
        {false, HttpResponse::text(200, ""), std::nullopt},
    };
    auto core = std::make_shared<RequestCore>();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.body);
        server.clearRequests();
        server.route(c.post ? "POST" : "GET", "/sample", c.reply);
        int calls = 0;
        std::optional<std::string> text;
        bool onMain = false;
        auto done = [&](const std::optional<std::string>& reply) {
            ++calls, text = reply, onMain = platform::Thread::isMainThread();
        };
        c.post ? core->postRequest(done) : core->getRequest(done);
        ASSERT_TRUE(pumpMainLoopUntil([&] { return calls > 0; }));
        pumpMainLoopOnce();
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(text, c.text);
        EXPECT_TRUE(onMain);
        auto request = server.requests().at(0);
        if (c.post) {
            EXPECT_EQ(request.method + " " + request.target, "POST /sample");
            EXPECT_EQ(request.body, "test=Message&this=isNotReal");
            EXPECT_EQ(request.header("Content-Length"), "27");
            EXPECT_EQ(request.header("Content-Type"), "application/json");
            EXPECT_EQ(request.header("Accept"), "application/json");
        } else {
            EXPECT_EQ(request.method + " " + request.target + request.body, "GET /sample");
        }
    }
    // Without a block the reply is dropped, but the request still goes out.
    server.clearRequests();
    core->getRequest();
    EXPECT_TRUE(server.waitForRequests(1));
    // Without a service address nothing is sent.
    unsetenv(AppConfiguration::kServiceURLVariable);
    auto folder = platform::Paths::home() / "no-configuration";
    std::filesystem::create_directories(folder);
    platform::Paths::setResources(folder);
    int calls = 0;
    std::optional<std::string> text = "unset";
    core->postRequest([&](const std::optional<std::string>& reply) { ++calls, text = reply; });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return calls > 0; }));
    EXPECT_EQ(text, std::nullopt);
    platform::Paths::setResources({});
    EXPECT_EQ(server.requestCount(), 1u);
}

// The generic reply decoder: raw reply bytes to a model, a list of models, the parsed value or the
// bytes themselves, always through the success block, at once, on the caller's thread.
class ReplyDecoderTest : public testing::Test {
protected:
    void SetUp() override { registerServiceModels(); }

    // What the decoder answered, checking it answered exactly once before returning.
    Value decode(std::optional<std::string_view> bytes, std::optional<std::string_view> modelClass) {
        int calls = 0;
        Value result;
        RequestCore::requestResult(
            bytes ? std::optional<Data>(Data(*bytes)) : std::nullopt,
            [&](const Value& value) { ++calls, result = value; }, modelClass);
        EXPECT_EQ(calls, 1);
        return result;
    }
};

TEST_F(ReplyDecoderTest, NoBytesGiveNothingAndBytesThatAreNotJSONComeBackUnchanged) {
    EXPECT_TRUE(decode(std::nullopt, "UserModel").isNil());
    for (std::string_view bytes : {"<html>busy</html>", "{\"a\":", "42"}) {
        Value result = decode(bytes, "UserModel");
        ASSERT_TRUE(result.isData()) << bytes;
        EXPECT_EQ(result.data()->view(), bytes);
    }
    RequestCore::requestResult(Data(std::string_view("{}")), nullptr, "UserModel"); // no block: skipped
}

// One model from an object; from an array, the models in order without what does not import ("nick"
// must be text).
TEST_F(ReplyDecoderTest, ModelClassMakesOneModelOrAListInOrder) {
    auto user = decode(R"({"id": 42, "nick": "小王"})", "UserModel").objectAs<UserModel>();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->uidText(), "42");
    EXPECT_EQ(user->nick, "小王");
    EXPECT_TRUE(decode(R"({"nick": {"first": "x"}})", "UserModel").isNil());
    Value result = decode(R"([{"id": 3}, 17, {"id": 1}, "x", {"id": 2}])", "UserModel");
    ASSERT_TRUE(result.isArray());
    std::vector<std::string> ids;
    for (const Value& member : *result.array())
        ids.push_back(member.objectAs<UserModel>() ? member.objectAs<UserModel>()->uidText().value_or("")
                                                   : "?");
    EXPECT_EQ(ids, (std::vector<std::string>{"3", "1", "2"}));
}

TEST_F(ReplyDecoderTest, WithoutAModelClassOrOneOutsideTheFamilyTheParsedValueComesBack) {
    EXPECT_EQ(decode(R"({"code": 200, "data": [1, 2]})", std::nullopt),
              Value::dictionary({{"code", 200}, {"data", Value::array({1, 2})}}));
    EXPECT_EQ(decode("[1, \"a\"]", std::nullopt), Value::array({1, "a"}));
    EXPECT_EQ(decode(R"({"title": "高清"})", "ResolutionDataModel"), Value::dictionary({{"title", "高清"}}));
    EXPECT_EQ(decode(R"({"id": 1})", "NoSuchClass"), Value::dictionary({{"id", 1}}));
}

HttpResponse replyText(std::string body) {
    return HttpResponse::json(std::move(body));
}

class RequestServiceTest : public testing::Test {
protected:
    void SetUp() override {
        registerServiceModels();
        setenv(AppConfiguration::kServiceURLVariable, stub.baseURL().c_str(), 1);
    }
    void TearDown() override { unsetenv(AppConfiguration::kServiceURLVariable); }

    Value lastEnvelope(std::string_view operation) {
        auto requests = stub.requestsTo(operation);
        return requests.empty() ? Value() : ServiceStub::envelope(requests.back());
    }

    ServiceStub stub;
};

// The operations of the decoding table below, with the endpoint each one asks.
struct Op {
    std::string endpoint;
    void (*run)(Outcome&);
};
using Room = std::shared_ptr<RoomModel>;
const Op login{"login",
               [](Outcome& o) { RequestService::requestLogin("a", "s", "8888", o.done(), o.failure()); }};
const Op logout{"login.logout",
                [](Outcome& o) { RequestService::requestLogoutSuccess(o.done(), o.failure()); }};
const Op userInfo{"user.myInfo", [](Outcome& o) {
                      RequestService::requestUserInfoSuccess(o.counted<std::shared_ptr<UserModel>>(),
                                                             o.failure());
                  }};
const Op roomInfo{std::string(ServiceStub::kRoomInfoEndpoint),
                  [](Outcome& o) { RequestService::requestRoomInfo("42", o.counted<Room>(), o.failure()); }};
const Op roomView{"room.view", [](Outcome& o) {
                      RequestService::requestRoomInfoWith("42", o.counted<Room>(), o.failure());
                  }};
const Op categories{"category.list", [](Outcome& o) {
                        RequestService::requestCategoryListSuccess(
                            o.counted<std::vector<std::shared_ptr<CategoryListModel>>>(), o.failure());
                    }};
const Op secretKey{"room.viewSecretKey", [](Outcome& o) {
                       RequestService::requestSecretKeySuccess(o.counted<std::shared_ptr<SecretKeyModel>>(),
                                                               o.failure());
                   }};
const Op chatRoute{std::string(ServiceStub::kRouteEndpoint), [](Outcome& o) {
                       RequestService::requestChatRoomHost("42", o.counted<Data>(), o.failure());
                   }};
const Op update{"room.update",
                [](Outcome& o) { RequestService::requestUpdateRoomTitle("t", "3", o.done(), o.failure()); }};
const Op updateTitle{"room.update",
                     [](Outcome& o) { RequestService::requestUpdateRoomTitle("t", o.done(), o.failure()); }};
// Without a success block, a success is reported as the reply's failure text.
const Op logoutUnheard{"login.logout",
                       [](Outcome& o) { RequestService::requestLogoutSuccess(nullptr, o.failure()); }};
const Op roomInfoUnheard{std::string(ServiceStub::kRoomInfoEndpoint),
                         [](Outcome& o) { RequestService::requestRoomInfo("42", nullptr, o.failure()); }};

HttpResponse refused(Value error) {
    return ServiceStub::failure(400, std::move(error));
}
Value field(const char* name, platform::ValueArray texts) {
    return Value::dictionary({{name, Value(std::move(texts))}});
}

// Each operation's decoding rule: the reply it is given and the text it shows ("" for success).
TEST_F(RequestServiceTest, RepliesDecodeToSuccessOrEachOperationsText) {
    const std::string route = ServiceStub::routeBytes("10.0.0.7", 8080);
    const auto binary = [](std::string bytes) {
        return HttpResponse::text(200, std::move(bytes), "application/octet-stream");
    };
    const auto r = replyText;
    const struct {
        const Op& op;
        std::vector<HttpResponse> replies;
        std::string text;
    } cases[] = {
        // The standard rule: the first text of the first error field, else the general text.
        {login,
         {refused(Value::dictionary(
             {{"password", Value::array({"密码错误", "x"})}, {"name", Value::array({"用户名"})}}))},
         "密码错误"},
        {login,
         {refused(Value(platform::ValueDictionary{})), refused(field("name", {})),
          refused(field("name", {5})), refused(Value(7)), refused(Value())},
         "登录失败，请求异常"},
        {login, {refused(Value("验证码不正确."))}, "验证码不正确."},
        {login, {HttpResponse::text(200, "")}, "数据发送失败，请稍后重试"},
        // The code is a number or a decimal text; the HTTP status is not looked at.
        {logout,
         {r(R"({"code": 200})"), r(R"({"code": "200"})"), r(R"({"code": 200.0})"),
          ServiceStub::json(Value::dictionary({{"code", 200}}), 500)},
         ""},
        {logout,
         {r(R"({"code": "201"})"), r(R"({"code": [200]})"), r(R"({"code": {"value": 200}})"),
          r(R"({"code": true})"), r(R"({"code": null})"), r(R"({"data": {}})"),
          HttpResponse::text(200, "<html>oops</html>"), r("[1, 2]"), r("\"200\""),
          HttpResponse::text(500, R"({"code": 500)")},
         "退出失败，请求异常"},
        {logoutUnheard, {r(R"({"code": 200})")}, "退出失败，请求异常"},
        // What does not import is a failure, never a success with nothing; refusals show no service text.
        {userInfo,
         {ServiceStub::failure(401, Value("请先登录")), r(R"({"code": 200})"),
          r(R"({"code": 200, "data": "me"})"), r(R"({"code": 200, "data": {"nick": {"a": 1}}})")},
         "数据请求失败，请稍后重试"},
        {roomInfo,
         {r("[{\"uid\": \"42\"}]"), HttpResponse::text(404, "Not Found"), r(R"({"uid": ["42"]})")},
         "暂无房间信息"},
        {roomInfoUnheard, {r(R"({"uid": "42"})")}, "暂无房间信息"},
        {roomView, {r(R"({"code": 500, "data": {"title": "还是有"}})")}, ""},
        {roomView, {r(R"({"code": 200, "error": "无"})")}, "暂无房间信息"},
        {categories,
         {r(R"({"code": 200, "data": {"id": "1"}})"), r(R"({"code": 400, "data": []})"),
          r(R"({"code": 400, "error": "分类不可用"})")},
         "分类列表请求异常"},
        {secretKey,
         {r(R"({"code": 200})"), r(R"({"code": 200, "data": []})"),
          r(R"({"code": 200, "data": {"secretKey": ["k"]}})"), r(R"({"code": 403})")},
         "房间秘钥重置失败，请重试"},
        {secretKey, {ServiceStub::failure(401, Value("请先登录"))}, "请先登录"},
        // Room updates show only the title's own refusal, and the title-only update none at all.
        {update, {ServiceStub::success()}, ""},
        {updateTitle, {ServiceStub::success()}, ""},
        {update, {refused(field("title", {"房间标题不能为空"}))}, "房间标题不能为空"},
        {update,
         {refused(Value("标题过长")), refused(field("categoryId", {"分类不存在"})),
          refused(field("title", {}))},
         "修改失败，请求异常"},
        {updateTitle, {refused(field("title", {"不行"}))}, "修改失败，请求异常"},
        // The chat route is exactly twenty bytes.
        {chatRoute, {binary(route)}, ""},
        {chatRoute, {binary(route.substr(0, 19)), binary(route + "x"), binary("[]")}, "请求弹幕服务器失败"},
    };
    for (const auto& c : cases) {
        for (const auto& reply : c.replies) {
            SCOPED_TRACE(c.op.endpoint + " " + reply.body);
            stub.scriptOnce(c.op.endpoint, reply);
            Outcome outcome;
            c.op.run(outcome);
            ASSERT_TRUE(outcome.wait());
            if (c.text.empty())
                EXPECT_TRUE(outcome.successes == 1 && outcome.failures == 0) << outcome.message;
            else
                EXPECT_TRUE(outcome.failedWith(c.text)) << outcome.message;
            EXPECT_TRUE(outcome.onMainThread);
        }
    }
}

// The chat route the stub serves: five big-endian words, the address bytes masked.
TEST(ServiceStubRoute, RouteBytesAreFiveMaskedBigEndianWords) {
    std::string hex;
    for (unsigned char byte : ServiceStub::routeBytes("127.0.0.1", 9000))
        hex += fmt::format("{:02x}", byte);
    EXPECT_EQ(hex, "000000aa000000d5000000d5000000d4000023fd");
}

TEST_F(RequestServiceTest, LoginAfterTheCaptchaSucceedsWithTheSessionCookie) {
    Outcome early; // the service wants the captcha of the same session first
    RequestService::requestLogin("anchor", "secret", "8888", early.done(), early.failure());
    ASSERT_TRUE(early.wait());
    EXPECT_TRUE(early.failedWith("验证码不正确."));
    platform::UIImagePtr image;
    Outcome captcha;
    RequestService::requestCaptchaImage(
        [&](const platform::UIImagePtr& picture) {
            image = picture;
            ++captcha.successes;
        },
        nullptr);
    ASSERT_TRUE(captcha.wait());
    ASSERT_TRUE(image);
    Outcome outcome;
    RequestService::requestLogin("anchor", "secret", "8888", outcome.done(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_TRUE(outcome.onMainThread);
    EXPECT_EQ(
        lastEnvelope("login"),
        Value::dictionary(
            {{"m", "login"},
             {"p", Value::dictionary({{"name", "anchor"}, {"password", "secret"}, {"captcha", "8888"}})}}));
    EXPECT_TRUE(stub.requestsTo("login").at(1).cookies().count(std::string(ServiceStub::kSessionCookie)));
}

TEST_F(RequestServiceTest, TransportFailuresGetEachOperationsOwnText) {
    stub.stop();
    const struct {
        const Op& op;
        const char* text;
    } cases[] = {
        {login, "数据发送失败，请稍后重试"},
        {logout, "退出失败，请检查网络"},
        {userInfo, "数据请求失败，请稍后重试"},
        {roomInfo, "房间信息获取失败，请检查网络后重试"},
        {roomView, "房间信息获取失败，请检查网络后重试"},
        {categories, "分类列表请求失败"},
        {update, "修改失败，请稍后重试"},
        {updateTitle, "修改失败，请稍后重试"},
        {secretKey, "房间秘钥获取失败，请检查网络后重试"},
        {chatRoute, "请求弹幕服务器失败"},
    };
    std::vector<Outcome> outcomes(std::size(cases));
    for (size_t i = 0; i < outcomes.size(); ++i)
        cases[i].op.run(outcomes[i]);
    for (size_t i = 0; i < outcomes.size(); ++i) {
        ASSERT_TRUE(outcomes[i].wait()) << cases[i].text;
        EXPECT_TRUE(outcomes[i].failedWith(cases[i].text)) << outcomes[i].message;
        EXPECT_TRUE(outcomes[i].onMainThread) << cases[i].text;
    }
}

TEST_F(RequestServiceTest, EmptyFailureBlocksAreSkipped) {
    stub.stop();
    Outcome last;
    RequestService::requestLogin("a", "b", "c", nullptr, nullptr);
    RequestService::requestRoomInfo(std::nullopt, nullptr, nullptr);
    RequestService::requestChatRoomHost("42", nullptr, nullptr);
    RequestService::requestLogoutSuccess(nullptr, last.failure());
    ASSERT_TRUE(last.wait());
    Outcome later; // answered after anything the earlier requests would still report
    RequestService::requestLogoutSuccess(nullptr, later.failure());
    ASSERT_TRUE(later.wait());
    EXPECT_EQ(last.failures, 1);
}

// What each logged-in operation sends, and what it imports from the service's own replies.
TEST_F(RequestServiceTest, OperationsSendTheirEnvelopesAndImportTheReplies) {
    stub.setRequiresLogin(false);
    Outcome update, title;
    RequestService::requestUpdateRoomTitle("夜聊", "3", update.done(), update.failure());
    ASSERT_TRUE(update.wait());
    EXPECT_EQ(lastEnvelope("room.update")["p"], Value::dictionary({{"title", "夜聊"}, {"categoryId", "3"}}));
    RequestService::requestUpdateRoomTitle("新的", title.done(), title.failure());
    ASSERT_TRUE(title.wait());
    EXPECT_EQ(update.successes + title.successes, 2);
    EXPECT_EQ(lastEnvelope("room.update")["p"], Value::dictionary({{"title", "新的"}}));

    stub.setSecretKey("42", Value::dictionary({{"secretKey", "k-9"}, {"server", "rtmp://127.0.0.1/live"}}));
    stub.setCategories(Value::array({Value::dictionary({{"id", "9"}, {"name", "舞蹈"}}), Value(5),
                                     Value::dictionary({{"id", "4"}, {"name", "聊天"}})}));
    std::shared_ptr<UserModel> user;
    std::shared_ptr<RoomModel> room, view;
    std::shared_ptr<SecretKeyModel> key;
    std::vector<std::shared_ptr<CategoryListModel>> categories;
    Outcome outcome;
    RequestService::requestUserInfoSuccess(outcome.success(user), outcome.failure());
    RequestService::requestRoomInfo("42", outcome.success(room), outcome.failure());
    RequestService::requestRoomInfoWith("42", outcome.success(view), outcome.failure());
    RequestService::requestSecretKeySuccess(outcome.success(key), outcome.failure());
    RequestService::requestCategoryListSuccess(outcome.success(categories), outcome.failure());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return outcome.calls() == 5; }, std::chrono::seconds(30)));
    EXPECT_EQ(outcome.successes, 5) << outcome.message;
    ASSERT_TRUE(user && room && view && key);
    EXPECT_EQ(user->uidText(), "42");
    EXPECT_EQ(user->nick, "主播小王");
    EXPECT_EQ(lastEnvelope("user.myInfo"), Value::dictionary({{"m", "user.myInfo"}}));
    // The public room information is the whole reply, fetched by GET without looking at a code.
    EXPECT_EQ(room->view, "17");
    EXPECT_EQ(room->title(), "新的");
    EXPECT_EQ(stub.requestsTo(ServiceStub::kRoomInfoEndpoint).at(0).target, "/json/rooms/42/info.json?t=100");
    EXPECT_EQ(view->categoryName(), "音乐");
    EXPECT_EQ(lastEnvelope("room.view")["p"], Value::dictionary({{"title", "42"}}));
    EXPECT_EQ(key->secretKey, "k-9");
    EXPECT_EQ(key->server, "rtmp://127.0.0.1/live");
    EXPECT_EQ(lastEnvelope("room.viewSecretKey"), Value::dictionary({{"m", "room.viewSecretKey"}}));
    // The list keeps the service's order, drops what does not import, and is asked for with "p": [].
    ASSERT_EQ(categories.size(), 2u);
    EXPECT_EQ(categories[0]->categoryId, "9");
    EXPECT_EQ(categories[0]->name, "舞蹈");
    EXPECT_EQ(categories[1]->categoryName, "聊天");
    EXPECT_NE(stub.requestsTo("category.list").at(0).body.find("\"p\" : ["), std::string::npos);
}

TEST_F(RequestServiceTest, WithoutARoomIdNothingIsSentAndTheRequestFails) {
    std::shared_ptr<RoomModel> room;
    Data route;
    Outcome info, view, host;
    RequestService::requestRoomInfo(std::nullopt, info.success(room), info.failure());
    RequestService::requestRoomInfoWith(std::nullopt, view.success(room), view.failure());
    RequestService::requestChatRoomHost(std::nullopt, host.success(route), host.failure());
    EXPECT_EQ(info.calls() + view.calls() + host.calls(), 0); // never before the call returns
    ASSERT_TRUE(info.wait() && view.wait() && host.wait());
    EXPECT_TRUE(info.failedWith("暂无房间信息"));
    EXPECT_TRUE(view.failedWith("暂无房间信息"));
    EXPECT_TRUE(host.failedWith("请求弹幕服务器失败"));
    EXPECT_TRUE(info.onMainThread && view.onMainThread && host.onMainThread);
    EXPECT_TRUE(stub.requests().empty());
}

TEST_F(RequestServiceTest, ChatRouteIsPassedOnUnchangedAndTheRoomIdEscaped) {
    Data route, escaped;
    Outcome outcome;
    RequestService::requestChatRoomHost("42", outcome.success(route), outcome.failure());
    RequestService::requestChatRoomHost("4 2&x=1", outcome.success(escaped), outcome.failure());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return outcome.calls() == 2; }, std::chrono::seconds(30)));
    ASSERT_EQ(outcome.successes, 2);
    EXPECT_EQ(route.toString(), ServiceStub::routeBytes("127.0.0.1", 9000));
    std::set<std::string> targets;
    for (const auto& request : stub.requestsTo(ServiceStub::kRouteEndpoint))
        targets.insert(request.queryValue("roomId").value_or("") + (request.queryValue("x") ? "+x" : ""));
    EXPECT_EQ(targets, (std::set<std::string>{"42", "4 2&x=1"}));
}

TEST_F(RequestServiceTest, CaptchaGivesNoImageForOtherBytesAndTheTransportsOwnFailure) {
    stub.scriptOnce(std::string(ServiceStub::kCaptchaEndpoint), HttpResponse::text(200, "GIF89a broken"));
    std::vector<bool> images;
    std::vector<platform::ErrorPtr> errors;
    auto success = [&](const platform::UIImagePtr& picture) { images.push_back(picture != nullptr); };
    auto failure = [&](const platform::ErrorPtr& error) { errors.push_back(error); };
    RequestService::requestCaptchaImage(success, failure);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return images.size() == 1; }));
    EXPECT_FALSE(images[0]);
    stub.scriptOnce(std::string(ServiceStub::kCaptchaEndpoint), HttpResponse::text(200, ""));
    RequestService::requestCaptchaImage(nullptr, failure);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return errors.size() == 1; }));
    EXPECT_FALSE(errors[0]); // an empty reply: nothing
    stub.stop();
    RequestService::requestCaptchaImage(nullptr, failure);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return errors.size() == 2; }));
    ASSERT_TRUE(errors[1]);
    EXPECT_EQ(errors[1]->domain(), platform::NSURLErrorDomain);
    EXPECT_EQ(images.size(), 1u);
}

} // namespace
