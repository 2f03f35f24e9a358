// The service stub that the application's tests talk to: it must play the service faithfully (the
// captcha session, the login checks, the route bytes), obey scripts in the promised order, hold
// replies on a gate, and record every request.

#include "tests/peers/ServiceStub.h"

#include "platform/foundation/JSONSerialization.h"
#include "platform/graphics/Image.h"
#include "platform/net/URLResponse.h"
#include "platform/net/URLSession.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <thread>

using namespace liveapp::test;
using platform::Value;

namespace {

struct Reply {
    int64_t status{0};
    std::string body;
    std::optional<std::string> contentType;
    std::optional<std::string> setCookie;
};

class ServiceStubTest : public testing::Test {
protected:
    Reply send(const std::string& method, const std::string& pathAndQuery,
               std::optional<std::string> body = {}) {
        platform::MutableURLRequest request(platform::URL::create(stub.baseURL() + pathAndQuery));
        request.setHTTPMethod(method);
        if (body)
            request.setHTTPBody(platform::Data(std::string_view(*body)));
        platform::URLResponsePtr response;
        platform::ErrorPtr error;
        auto data = platform::URLSession::sendSynchronousRequest(request, &response, &error);
        EXPECT_FALSE(error) << (error ? error->description() : "");
        Reply reply;
        if (auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(response)) {
            reply.status = http->statusCode();
            reply.contentType = http->allHeaderFields().value("Content-Type");
            reply.setCookie = http->allHeaderFields().value("Set-Cookie");
        }
        if (data)
            reply.body = data->toString();
        return reply;
    }

    Value call(const std::string& operation, Value params = {}) {
        platform::ValueDictionary envelope{{"m", operation}};
        if (!params.isNil())
            envelope.set("p", params);
        auto body = platform::JSONSerialization::dataWithJSONObject(Value(std::move(envelope)));
        return parse(send("POST", "/api/v1", body->toString()).body);
    }

    static Value parse(const std::string& text) {
        return platform::JSONSerialization::JSONObjectWithData(platform::Data(std::string_view(text)));
    }

    Value login(std::string captcha = "8888", std::string password = "secret") {
        return call("login",
                    Value::dictionary({{"name", "anchor"}, {"password", password}, {"captcha", captcha}}));
    }

    ServiceStub stub;
};

TEST_F(ServiceStubTest, RouteBytesAreFiveMaskedBigEndianWords) {
    std::string bytes = ServiceStub::routeBytes("127.0.0.1", 9000);
    std::string hex;
    for (unsigned char byte : bytes)
        hex += fmt::format("{:02x}", byte);
    EXPECT_EQ(hex, "000000aa000000d5000000d5000000d4000023fd");
    EXPECT_EQ(ServiceStub::routeBytes("10.0.0.7", 8080).size(), 20u);
}

TEST_F(ServiceStubTest, RouteAnswersTheConfiguredChatServer) {
    stub.setChatServer("10.0.0.7", 8080);
    Reply reply = send("GET", "/site/route?roomId=42");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, ServiceStub::routeBytes("10.0.0.7", 8080));
}

TEST_F(ServiceStubTest, CaptchaIsAPictureWithASessionCookie) {
    Reply reply = send("GET", "/token/captcha");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentType, "image/png");
    ASSERT_TRUE(reply.setCookie);
    EXPECT_TRUE(reply.setCookie->starts_with(std::string(ServiceStub::kSessionCookie) + "="));
    auto image = platform::UIImage::imageWithData(platform::Data(std::string_view(reply.body)));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size().width, 8);
}

TEST_F(ServiceStubTest, LoginNeedsTheCaptchaOfItsOwnSession) {
    EXPECT_EQ(login(), Value::dictionary({{"code", 400}, {"error", "验证码不正确."}})); // no captcha fetched
    send("GET", "/token/captcha");
    EXPECT_EQ(login("1234")["error"], Value("验证码不正确."));
    EXPECT_EQ(login("8888", "wrong")["error"]["password"][0], Value("用户名或密码错误"));
    EXPECT_EQ(login(), Value::dictionary({{"code", 200}}));
    EXPECT_EQ(call("user.myInfo")["data"]["id"], Value(42));
}

TEST_F(ServiceStubTest, AccountOperationsNeedALogin) {
    EXPECT_EQ(call("user.myInfo")["code"], Value(401));
    EXPECT_EQ(call("room.viewSecretKey")["code"], Value(401));
    stub.setRequiresLogin(false);
    EXPECT_EQ(call("room.viewSecretKey"),
              Value::dictionary({{"code", 200}, {"data", Value::dictionary({{"secretKey", "key-42"}})}}));
}

TEST_F(ServiceStubTest, LogoutEndsTheSession) {
    send("GET", "/token/captcha");
    ASSERT_EQ(login()["code"], Value(200));
    EXPECT_EQ(call("login.logout")["code"], Value(200));
    EXPECT_EQ(call("user.myInfo")["code"], Value(401));
}

TEST_F(ServiceStubTest, RoomUpdateChangesWhatRoomViewAndRoomInfoAnswer) {
    stub.setRequiresLogin(false);
    EXPECT_EQ(call("room.update", Value::dictionary({{"title", ""}}))["error"]["title"][0],
              Value("房间标题不能为空"));
    EXPECT_EQ(call("room.update", Value::dictionary({{"title", "新标题"}, {"categoryId", "3"}}))["code"],
              Value(200));
    Value room = call("room.view", Value::dictionary({{"title", "42"}}))["data"];
    EXPECT_EQ(room["title"], Value("新标题"));
    EXPECT_EQ(room["categoryName"], Value("音乐"));
    EXPECT_EQ(parse(send("GET", "/json/rooms/42/info.json?t=100").body)["title"], Value("新标题"));
    EXPECT_EQ(send("GET", "/json/rooms/7/info.json?t=100").status, 404);
}

TEST_F(ServiceStubTest, CategoryListAndUnknownOperations) {
    Value categories = call("category.list", Value(platform::ValueArray{}))["data"];
    ASSERT_EQ(categories.count(), 3u);
    EXPECT_EQ(categories[1]["name"], Value("户外"));
    EXPECT_EQ(call("room.delete")["code"], Value(404));
    EXPECT_EQ(parse(send("POST", "/api/v1", "not json").body)["code"], Value(400));
}

TEST_F(ServiceStubTest, OneTimeScriptsComeFirstInOrderThenTheStandingOneThenThePlayedService) {
    stub.script("category.list", ServiceStub::failure(500, "standing"));
    stub.scriptOnce("category.list", ServiceStub::failure(400, "first"));
    stub.scriptOnce("category.list", HttpResponse::text(500, "second"));
    EXPECT_EQ(call("category.list")["error"], Value("first"));
    Reply second = send("POST", "/api/v1", R"({"m":"category.list"})");
    EXPECT_EQ(second.status, 500);
    EXPECT_EQ(second.body, "second");
    EXPECT_EQ(call("category.list")["error"], Value("standing"));
    EXPECT_EQ(call("category.list")["error"], Value("standing"));
    stub.clearScripts("category.list");
    EXPECT_EQ(call("category.list")["code"], Value(200));
}

TEST_F(ServiceStubTest, ScriptsReachTheGetEndpointsToo) {
    stub.scriptOnce(std::string(ServiceStub::kRouteEndpoint), HttpResponse::text(200, std::string(19, 'x')));
    stub.scriptOnce(std::string(ServiceStub::kRoomInfoEndpoint), HttpResponse::text(200, ""));
    stub.scriptOnce(std::string(ServiceStub::kCaptchaEndpoint), HttpResponse::text(200, "not a picture"));
    EXPECT_EQ(send("GET", "/site/route?roomId=1").body.size(), 19u);
    EXPECT_EQ(send("GET", "/json/rooms/42/info.json?t=100").body, "");
    EXPECT_EQ(send("GET", "/token/captcha").body, "not a picture");
}

TEST_F(ServiceStubTest, HeldRequestsAreAnsweredWhenTheGateOpens) {
    auto gate = stub.hold("user.myInfo");
    stub.setRequiresLogin(false);
    Value reply;
    std::thread client([&] { reply = call("user.myInfo"); });
    ASSERT_TRUE(gate->waitForArrivals(1));
    EXPECT_EQ(stub.requestsTo("user.myInfo").size(), 1u); // recorded before it is answered
    gate->open();
    client.join();
    EXPECT_EQ(reply["code"], Value(200));
}

TEST_F(ServiceStubTest, RecordsEveryRequestWithItsEndpoint) {
    send("GET", "/token/captcha");
    login();
    send("GET", "/site/route?roomId=42");
    auto requests = stub.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(ServiceStub::endpointOf(requests[0]), ServiceStub::kCaptchaEndpoint);
    EXPECT_EQ(ServiceStub::endpointOf(requests[1]), "login");
    EXPECT_EQ(ServiceStub::envelope(requests[1])["p"]["name"], Value("anchor"));
    EXPECT_TRUE(requests[1].cookies().count(std::string(ServiceStub::kSessionCookie)));
    EXPECT_EQ(requests[2].queryValue("roomId"), "42");
    EXPECT_EQ(stub.requestsTo("login").size(), 1u);
}

} // namespace
