// The service stub that the application's tests talk to. Checked here: what the application's tests
// compare against (the route bytes, the service's own texts and state, the recorded requests), where
// a fault in the stub would let a faulty application pass. Scripts and gates that misbehave fail the
// tests that use them.

#include "tests/peers/ServiceStub.h"

#include "platform/foundation/JSONSerialization.h"
#include "platform/net/URLResponse.h"
#include "platform/net/URLSession.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

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
