// The service's API operations against the service stub: what each sends, every branch of its
// decoding rule with the exact ready-to-show texts, the transport failures, the route lengths, the
// captcha, and the requests that are never sent for lack of a room id.

#include "app/core/RequestService.h"

#include "app/core/AppConfiguration.h"
#include "app/core/ServiceModels.h"
#include "platform/foundation/Clock.h"
#include "platform/net/URLError.h"
#include "platform/runloop/Thread.h"
#include "tests/support/MainLoop.h"
#include "tests/peers/ServiceStub.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace liveapp::test;
using platform::Data;
using platform::Value;

namespace {

// Which block ran, how often, with what text, and whether always on the main thread.
struct Outcome {
    int successes{0};
    int failures{0};
    std::string message;
    bool onMainThread{true};

    void note() { onMainThread = onMainThread && platform::Thread::isMainThread(); }
    RequestService::FailureBlock failure() {
        return [this](const std::string& text) {
            ++failures;
            message = text;
            note();
        };
    }
    RequestService::DoneBlock done() {
        return [this] {
            ++successes;
            note();
        };
    }
    template <typename T> std::function<void(const T&)> success(T& into) {
        return [this, &into](const T& value) {
            ++successes;
            into = value;
            note();
        };
    }
    template <typename T> std::function<void(const T&)> counted() {
        return [this](const T&) {
            ++successes;
            note();
        };
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

HttpResponse replyText(std::string body) {
    return HttpResponse::json(std::move(body));
}

class RequestServiceTest : public testing::Test {
protected:
    void SetUp() override {
        registerServiceModels();
        setenv(AppConfiguration::kServiceURLVariable, stub.baseURL().c_str(), 1);
    }
    void TearDown() override {
        platform::Clock::install(nullptr);
        unsetenv(AppConfiguration::kServiceURLVariable);
    }

    Value lastEnvelope(std::string_view operation) {
        auto requests = stub.requestsTo(operation);
        return requests.empty() ? Value() : ServiceStub::envelope(requests.back());
    }

    void login(Outcome& outcome, std::string captcha = "8888") {
        RequestService::requestLogin("anchor", "secret", captcha, outcome.done(), outcome.failure());
        ASSERT_TRUE(outcome.wait());
    }

    // Scripts `reply` once for `endpoint`, runs `operation` and answers its outcome.
    Outcome after(const std::string& endpoint, const HttpResponse& reply,
                  const std::function<void(Outcome&)>& operation) {
        stub.scriptOnce(endpoint, reply);
        Outcome outcome;
        operation(outcome);
        EXPECT_TRUE(outcome.wait());
        return outcome;
    }

    ServiceStub stub;
};

// The operations of the decoding table below.
namespace ops {
void login(Outcome& o) {
    RequestService::requestLogin("anchor", "secret", "8888", o.done(), o.failure());
}
void logout(Outcome& o) {
    RequestService::requestLogoutSuccess(o.done(), o.failure());
}
void userInfo(Outcome& o) {
    RequestService::requestUserInfoSuccess(o.counted<std::shared_ptr<UserModel>>(), o.failure());
}
void roomInfo(Outcome& o) {
    RequestService::requestRoomInfo("42", o.counted<std::shared_ptr<RoomModel>>(), o.failure());
}
void roomView(Outcome& o) {
    RequestService::requestRoomInfoWith("42", o.counted<std::shared_ptr<RoomModel>>(), o.failure());
}
void categories(Outcome& o) {
    RequestService::requestCategoryListSuccess(o.counted<std::vector<std::shared_ptr<CategoryListModel>>>(),
                                               o.failure());
}
void secretKey(Outcome& o) {
    RequestService::requestSecretKeySuccess(o.counted<std::shared_ptr<SecretKeyModel>>(), o.failure());
}
void chatRoute(Outcome& o) {
    RequestService::requestChatRoomHost("42", o.counted<Data>(), o.failure());
}

} // namespace ops

// Each operation's decoding rule: the reply it is given and the text it shows ("" for success).
TEST_F(RequestServiceTest, RepliesDecodeToSuccessOrEachOperationsText) {
    using Error = platform::ValueDictionary;
    const std::string route = ServiceStub::routeBytes("10.0.0.7", 8080);
    const auto binary = [](std::string bytes) {
        return HttpResponse::text(200, std::move(bytes), "application/octet-stream");
    };
    const struct {
        std::string endpoint;
        HttpResponse reply;
        void (*operation)(Outcome&);
        std::string text;
    } cases[] = {
        // The standard rule: the first text of the first error field, else the general text.
        {"login",
         ServiceStub::failure(400, Value::dictionary({{"password", Value::array({"密码错误", "x"})},
                                                      {"name", Value::array({"用户名"})}})),
         ops::login, "密码错误"},
        {"login", ServiceStub::failure(400, Value(Error{})), ops::login, "登录失败，请求异常"},
        {"login", ServiceStub::failure(400, Value::dictionary({{"name", platform::ValueArray{}}})),
         ops::login, "登录失败，请求异常"},
        {"login", ServiceStub::failure(400, Value::dictionary({{"name", Value::array({5})}})), ops::login,
         "登录失败，请求异常"},
        {"login", ServiceStub::failure(400, Value(7)), ops::login, "登录失败，请求异常"},
        {"login", ServiceStub::failure(400, Value()), ops::login, "登录失败，请求异常"},
        {"login", HttpResponse::text(200, ""), ops::login, "数据发送失败，请稍后重试"},
        // The code is a number or a decimal text; the HTTP status is not looked at.
        {"login.logout", replyText(R"({"code": 200})"), ops::logout, ""},
        {"login.logout", replyText(R"({"code": "200"})"), ops::logout, ""},
        {"login.logout", replyText(R"({"code": 200.0})"), ops::logout, ""},
        {"login.logout", ServiceStub::json(Value::dictionary({{"code", 200}}), 500), ops::logout, ""},
        {"login.logout", replyText(R"({"code": "201"})"), ops::logout, "退出失败，请求异常"},
        {"login.logout", replyText(R"({"code": [200]})"), ops::logout, "退出失败，请求异常"},
        {"login.logout", replyText(R"({"code": {"value": 200}})"), ops::logout, "退出失败，请求异常"},
        {"login.logout", replyText(R"({"code": true})"), ops::logout, "退出失败，请求异常"},
        {"login.logout", replyText(R"({"code": null})"), ops::logout, "退出失败，请求异常"},
        {"login.logout", replyText(R"({"data": {}})"), ops::logout, "退出失败，请求异常"},
        {"login.logout", HttpResponse::text(200, "<html>oops</html>"), ops::logout, "退出失败，请求异常"},
        {"login.logout", replyText("[1, 2]"), ops::logout, "退出失败，请求异常"},
        {"login.logout", replyText("\"200\""), ops::logout, "退出失败，请求异常"},
        {"login.logout", HttpResponse::text(500, R"({"code": 500)"), ops::logout, "退出失败，请求异常"},
        // What does not import is a failure, never a success with nothing.
        {"user.myInfo", replyText(R"({"code": 200})"), ops::userInfo, "数据请求失败，请稍后重试"},
        {"user.myInfo", replyText(R"({"code": 200, "data": "me"})"), ops::userInfo,
         "数据请求失败，请稍后重试"},
        {"user.myInfo", replyText(R"({"code": 200, "data": {"nick": {"a": 1}}})"), ops::userInfo,
         "数据请求失败，请稍后重试"},
        {std::string(ServiceStub::kRoomInfoEndpoint), replyText("[{\"uid\": \"42\"}]"), ops::roomInfo,
         "暂无房间信息"},
        {std::string(ServiceStub::kRoomInfoEndpoint), HttpResponse::text(404, "Not Found"), ops::roomInfo,
         "暂无房间信息"},
        {std::string(ServiceStub::kRoomInfoEndpoint), replyText(R"({"uid": ["42"]})"), ops::roomInfo,
         "暂无房间信息"},
        {"room.view", replyText(R"({"code": 500, "data": {"title": "还是有"}})"), ops::roomView, ""},
        {"room.view", replyText(R"({"code": 200, "error": "无"})"), ops::roomView, "暂无房间信息"},
        {"category.list", replyText(R"({"code": 200, "data": {"id": "1"}})"), ops::categories,
         "分类列表请求异常"},
        {"category.list", replyText(R"({"code": 400, "data": []})"), ops::categories, "分类列表请求异常"},
        {"category.list", replyText(R"({"code": 400, "error": "分类不可用"})"), ops::categories,
         "分类列表请求异常"},
        {"room.viewSecretKey", replyText(R"({"code": 200})"), ops::secretKey, "房间秘钥重置失败，请重试"},
        {"room.viewSecretKey", replyText(R"({"code": 200, "data": []})"), ops::secretKey,
         "房间秘钥重置失败，请重试"},
        {"room.viewSecretKey", replyText(R"({"code": 200, "data": {"secretKey": ["k"]}})"), ops::secretKey,
         "房间秘钥重置失败，请重试"},
        {"room.viewSecretKey", replyText(R"({"code": 403})"), ops::secretKey, "房间秘钥重置失败，请重试"},
        // The chat route is exactly twenty bytes.
        {std::string(ServiceStub::kRouteEndpoint), binary(route), ops::chatRoute, ""},
        {std::string(ServiceStub::kRouteEndpoint), binary(route.substr(0, 19)), ops::chatRoute,
         "请求弹幕服务器失败"},
        {std::string(ServiceStub::kRouteEndpoint), binary(route + "x"), ops::chatRoute, "请求弹幕服务器失败"},
        {std::string(ServiceStub::kRouteEndpoint), binary("[]"), ops::chatRoute, "请求弹幕服务器失败"},
    };
    for (const auto& c : cases) {
        auto outcome = after(c.endpoint, c.reply, c.operation);
        if (c.text.empty()) {
            EXPECT_EQ(outcome.successes, 1) << c.endpoint << " " << c.reply.body;
            EXPECT_EQ(outcome.failures, 0) << c.endpoint << " " << c.reply.body << " " << outcome.message;
        } else {
            EXPECT_TRUE(outcome.failedWith(c.text))
                << c.endpoint << " " << c.reply.body << " " << outcome.message;
        }
        EXPECT_TRUE(outcome.onMainThread);
    }
}

// ---- Login and logout: the standard rule ----
TEST_F(RequestServiceTest, LoginAfterTheCaptchaSucceedsWithTheSessionCookie) {
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
    login(outcome);
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_TRUE(outcome.onMainThread);
    EXPECT_EQ(
        lastEnvelope("login"),
        Value::dictionary(
            {{"m", "login"},
             {"p", Value::dictionary({{"name", "anchor"}, {"password", "secret"}, {"captcha", "8888"}})}}));
    EXPECT_TRUE(stub.requestsTo("login").at(0).cookies().count(std::string(ServiceStub::kSessionCookie)));
}

TEST_F(RequestServiceTest, WrongCaptchaFailsWithTheServiceText) {
    Outcome outcome;
    login(outcome, "0000"); // no captcha fetched either: the service answers the same
    EXPECT_TRUE(outcome.failedWith("验证码不正确."));
}

TEST_F(RequestServiceTest, SuccessWithoutASuccessBlockReportsTheReplyText) {
    Outcome outcome;
    RequestService::requestLogoutSuccess(nullptr, outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_TRUE(outcome.failedWith("退出失败，请求异常"));
}

TEST_F(RequestServiceTest, TransportFailuresGetEachOperationsOwnText) {
    stub.stop();
    Outcome loginOutcome, logoutOutcome, userOutcome, roomOutcome, viewOutcome, listOutcome, updateOutcome,
        titleOutcome, keyOutcome, routeOutcome;
    std::shared_ptr<UserModel> user;
    std::shared_ptr<RoomModel> room;
    std::vector<std::shared_ptr<CategoryListModel>> categories;
    std::shared_ptr<SecretKeyModel> key;
    Data route;
    RequestService::requestLogin("anchor", "secret", "8888", loginOutcome.done(), loginOutcome.failure());
    RequestService::requestLogoutSuccess(logoutOutcome.done(), logoutOutcome.failure());
    RequestService::requestUserInfoSuccess(userOutcome.success(user), userOutcome.failure());
    RequestService::requestRoomInfo("42", roomOutcome.success(room), roomOutcome.failure());
    RequestService::requestRoomInfoWith("42", viewOutcome.success(room), viewOutcome.failure());
    RequestService::requestCategoryListSuccess(listOutcome.success(categories), listOutcome.failure());
    RequestService::requestUpdateRoomTitle("t", "1", updateOutcome.done(), updateOutcome.failure());
    RequestService::requestUpdateRoomTitle("t", titleOutcome.done(), titleOutcome.failure());
    RequestService::requestSecretKeySuccess(keyOutcome.success(key), keyOutcome.failure());
    RequestService::requestChatRoomHost("42", routeOutcome.success(route), routeOutcome.failure());
    for (Outcome* outcome : {&loginOutcome, &logoutOutcome, &userOutcome, &roomOutcome, &viewOutcome,
                             &listOutcome, &updateOutcome, &titleOutcome, &keyOutcome, &routeOutcome})
        ASSERT_TRUE(outcome->wait());
    EXPECT_TRUE(loginOutcome.failedWith("数据发送失败，请稍后重试"));
    EXPECT_TRUE(logoutOutcome.failedWith("退出失败，请检查网络"));
    EXPECT_TRUE(userOutcome.failedWith("数据请求失败，请稍后重试"));
    EXPECT_TRUE(roomOutcome.failedWith("房间信息获取失败，请检查网络后重试"));
    EXPECT_TRUE(viewOutcome.failedWith("房间信息获取失败，请检查网络后重试"));
    EXPECT_TRUE(listOutcome.failedWith("分类列表请求失败"));
    EXPECT_TRUE(updateOutcome.failedWith("修改失败，请稍后重试"));
    EXPECT_TRUE(titleOutcome.failedWith("修改失败，请稍后重试"));
    EXPECT_TRUE(keyOutcome.failedWith("房间秘钥获取失败，请检查网络后重试"));
    EXPECT_TRUE(routeOutcome.failedWith("请求弹幕服务器失败"));
    for (Outcome* outcome : {&loginOutcome, &keyOutcome, &routeOutcome})
        EXPECT_TRUE(outcome->onMainThread);
}

TEST_F(RequestServiceTest, ReplyLaterThanTheTimeOutFailsWithTheTransportText) {
    auto clock = std::make_shared<platform::ManualClock>();
    platform::Clock::install(clock);
    auto gate = stub.hold("room.viewSecretKey");
    std::shared_ptr<SecretKeyModel> key;
    Outcome outcome;
    RequestService::requestSecretKeySuccess(outcome.success(key), outcome.failure());
    ASSERT_TRUE(gate->waitForArrivals(1));
    // The client may note the end of its upload after the request arrived, restarting the idle
    // time; the clock moves on until the time-out has been seen.
    for (int i = 0; i < 100 && outcome.calls() == 0; ++i) {
        clock->advance(std::chrono::seconds(16));
        pumpMainLoopUntil([&] { return outcome.calls() > 0; }, std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(outcome.wait());
    gate->open();
    EXPECT_TRUE(outcome.failedWith("房间秘钥获取失败，请检查网络后重试"));
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

// ---- User information ----
TEST_F(RequestServiceTest, UserInfoImportsTheUserFromData) {
    stub.setRequiresLogin(false);
    std::shared_ptr<UserModel> user;
    Outcome outcome;
    RequestService::requestUserInfoSuccess(outcome.success(user), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_EQ(outcome.successes, 1);
    ASSERT_TRUE(user);
    EXPECT_EQ(user->uidText(), "42");
    EXPECT_EQ(user->nick, "主播小王");
    EXPECT_EQ(lastEnvelope("user.myInfo"), Value::dictionary({{"m", "user.myInfo"}}));
}

TEST_F(RequestServiceTest, UserInfoRefusalNeverShowsTheServiceText) {
    std::shared_ptr<UserModel> user;
    Outcome outcome;
    RequestService::requestUserInfoSuccess(outcome.success(user), outcome.failure()); // not logged in: 401
    ASSERT_TRUE(outcome.wait());
    EXPECT_TRUE(outcome.failedWith("数据请求失败，请稍后重试"));
}

// ---- Rooms ----
TEST_F(RequestServiceTest, PublicRoomInfoReadsTheWholeReplyWithoutLookingAtCode) {
    std::shared_ptr<RoomModel> room;
    Outcome outcome;
    RequestService::requestRoomInfo("42", outcome.success(room), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(room);
    EXPECT_EQ(room->view, "17");
    EXPECT_EQ(room->title(), "周末户外直播");
    auto request = stub.requestsTo(ServiceStub::kRoomInfoEndpoint).at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/json/rooms/42/info.json?t=100");
}

TEST_F(RequestServiceTest, PublicRoomInfoWithoutASuccessBlockReportsNoRoom) {
    Outcome outcome;
    RequestService::requestRoomInfo("42", nullptr, outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_TRUE(outcome.failedWith("暂无房间信息"));
}

TEST_F(RequestServiceTest, RoomViewSendsTheIdAsTitleAndReadsData) {
    stub.setRequiresLogin(false);
    std::shared_ptr<RoomModel> room;
    Outcome outcome;
    RequestService::requestRoomInfoWith("42", outcome.success(room), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(room);
    EXPECT_EQ(room->categoryName(), "户外");
    EXPECT_EQ(lastEnvelope("room.view")["p"], Value::dictionary({{"title", "42"}}));
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

// ---- Categories ----
TEST_F(RequestServiceTest, CategoryListSendsAnEmptyArrayAndKeepsTheOrder) {
    stub.setCategories(Value::array({Value::dictionary({{"id", "9"}, {"name", "舞蹈"}}), Value(5),
                                     Value::dictionary({{"id", "4"}, {"name", "聊天"}})}));
    std::vector<std::shared_ptr<CategoryListModel>> categories;
    Outcome outcome;
    RequestService::requestCategoryListSuccess(outcome.success(categories), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_EQ(categories.size(), 2u);
    EXPECT_EQ(categories[0]->categoryId, "9");
    EXPECT_EQ(categories[0]->name, "舞蹈");
    EXPECT_EQ(categories[1]->categoryName, "聊天");
    EXPECT_EQ(lastEnvelope("category.list")["p"], Value(platform::ValueArray{}));
    EXPECT_NE(stub.requestsTo("category.list").at(0).body.find("\"p\" : ["), std::string::npos);
}

// ---- Room updates ----
TEST_F(RequestServiceTest, RoomUpdateSendsTitleAndCategory) {
    stub.setRequiresLogin(false);
    Outcome outcome;
    RequestService::requestUpdateRoomTitle("夜聊", "3", outcome.done(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(lastEnvelope("room.update")["p"], Value::dictionary({{"title", "夜聊"}, {"categoryId", "3"}}));
    EXPECT_EQ(stub.room("42")["categoryName"], Value("音乐"));
}

TEST_F(RequestServiceTest, RoomUpdateShowsOnlyTheTitleRefusal) {
    stub.setRequiresLogin(false);
    Outcome refused;
    RequestService::requestUpdateRoomTitle("", "3", refused.done(), refused.failure());
    ASSERT_TRUE(refused.wait());
    EXPECT_TRUE(refused.failedWith("房间标题不能为空"));
    for (Value error : {Value("标题过长"), Value::dictionary({{"categoryId", Value::array({"分类不存在"})}}),
                        Value::dictionary({{"title", platform::ValueArray{}}})}) {
        stub.scriptOnce("room.update", ServiceStub::failure(400, error));
        Outcome outcome;
        RequestService::requestUpdateRoomTitle("t", "3", outcome.done(), outcome.failure());
        ASSERT_TRUE(outcome.wait());
        EXPECT_TRUE(outcome.failedWith("修改失败，请求异常")) << error.description();
    }
}

TEST_F(RequestServiceTest, TitleOnlyUpdateSendsTheTitleAndShowsNoServiceText) {
    stub.setRequiresLogin(false);
    Outcome outcome;
    RequestService::requestUpdateRoomTitle("新的", outcome.done(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(lastEnvelope("room.update")["p"], Value::dictionary({{"title", "新的"}}));
    stub.scriptOnce("room.update",
                    ServiceStub::failure(400, Value::dictionary({{"title", Value::array({"不行"})}})));
    Outcome refused;
    RequestService::requestUpdateRoomTitle("x", refused.done(), refused.failure());
    ASSERT_TRUE(refused.wait());
    EXPECT_TRUE(refused.failedWith("修改失败，请求异常"));
}

// ---- Stream key ----
TEST_F(RequestServiceTest, SecretKeyImportsKeyAndServer) {
    stub.setRequiresLogin(false);
    stub.setSecretKey("42", Value::dictionary({{"secretKey", "k-9"}, {"server", "rtmp://127.0.0.1/live"}}));
    std::shared_ptr<SecretKeyModel> key;
    Outcome outcome;
    RequestService::requestSecretKeySuccess(outcome.success(key), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(key);
    EXPECT_EQ(key->secretKey, "k-9");
    EXPECT_EQ(key->server, "rtmp://127.0.0.1/live");
    EXPECT_EQ(lastEnvelope("room.viewSecretKey"), Value::dictionary({{"m", "room.viewSecretKey"}}));
}

TEST_F(RequestServiceTest, SecretKeyRefusalFollowsTheStandardRule) {
    std::shared_ptr<SecretKeyModel> key;
    Outcome notLoggedIn;
    RequestService::requestSecretKeySuccess(notLoggedIn.success(key), notLoggedIn.failure());
    ASSERT_TRUE(notLoggedIn.wait());
    EXPECT_TRUE(notLoggedIn.failedWith("请先登录"));
}

// ---- Chat route and captcha ----
TEST_F(RequestServiceTest, ChatRouteOfExactlyTwentyBytesIsPassedOnUnchanged) {
    Data route;
    Outcome outcome;
    RequestService::requestChatRoomHost("42", outcome.success(route), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_EQ(outcome.successes, 1);
    EXPECT_EQ(route.toString(), ServiceStub::routeBytes("127.0.0.1", 9000));
    EXPECT_EQ(stub.requestsTo(ServiceStub::kRouteEndpoint).at(0).target, "/site/route?roomId=42");
}

TEST_F(RequestServiceTest, RoomIdIsEscapedIntoThePathAndQuery) {
    Data route;
    Outcome outcome;
    RequestService::requestChatRoomHost("4 2&x=1", outcome.success(route), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    auto request = stub.requestsTo(ServiceStub::kRouteEndpoint).at(0);
    EXPECT_EQ(request.queryValue("roomId"), "4 2&x=1");
    EXPECT_FALSE(request.queryValue("x"));
}

TEST_F(RequestServiceTest, CaptchaBytesThatAreNotAPictureGiveNoImage) {
    stub.scriptOnce(std::string(ServiceStub::kCaptchaEndpoint), HttpResponse::text(200, "GIF89a broken"));
    bool gotImage = true;
    Outcome outcome;
    RequestService::requestCaptchaImage(
        [&](const platform::UIImagePtr& picture) {
            gotImage = picture != nullptr;
            ++outcome.successes;
        },
        [&](const platform::ErrorPtr&) { ++outcome.failures; });
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_FALSE(gotImage);
}

TEST_F(RequestServiceTest, CaptchaFailureReceivesTheTransportsOwnValue) {
    stub.scriptOnce(std::string(ServiceStub::kCaptchaEndpoint), HttpResponse::text(200, ""));
    std::vector<platform::ErrorPtr> errors;
    auto failure = [&](const platform::ErrorPtr& error) { errors.push_back(error); };
    RequestService::requestCaptchaImage(nullptr, failure);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return errors.size() == 1; }));
    EXPECT_FALSE(errors[0]); // an empty reply: nothing
    stub.stop();
    RequestService::requestCaptchaImage(nullptr, failure);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return errors.size() == 2; }));
    ASSERT_TRUE(errors[1]);
    EXPECT_EQ(errors[1]->domain(), platform::NSURLErrorDomain);
}

TEST_F(RequestServiceTest, UnusableServiceURLFailsAsATransportFailure) {
    setenv(AppConfiguration::kServiceURLVariable, "http://bad host:1", 1);
    Outcome outcome;
    RequestService::requestLogoutSuccess(outcome.done(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_TRUE(outcome.failedWith("退出失败，请检查网络"));
    EXPECT_TRUE(outcome.onMainThread);
}

} // namespace
