#pragma once
// The live service as the application sees it, played by an in-process HTTP server on 127.0.0.1 (an
// ephemeral port): the JSON API at POST /api/v1 (dispatched on the envelope's "m"), the captcha
// picture with its session cookie, the public room information and the chat-server route. It keeps
// a small world (accounts, rooms, categories, stream keys, the chat server's address) that tests may
// change, and each endpoint can be scripted per test: a reply for the next request or for all of
// them, or requests held on a gate (a reply later than the client's time-out).
//
// Promises: every request is recorded (HttpServer's record: method, path, headers, cookies, body)
// before it is held or answered. Scripted replies win over the played service: first the queued
// one-time replies, in order, then the standing one. The world and the scripts are guarded, so a
// test may change them from any thread while requests run. Stopping (or destroying) the stub opens
// every gate, so a forgotten hold never hangs a test.
//
//     ServiceStub stub;
//     stub.scriptOnce("login", ServiceStub::failure(400, "验证码不正确."));
//     auto gate = stub.hold(ServiceStub::kRouteEndpoint);   // the route answers once gate->open()

#include "platform/foundation/Value.h"
#include "tests/peers/HttpGate.h"
#include "tests/peers/HttpMessage.h"
#include "tests/peers/HttpServer.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace liveapp::test {

class ServiceStub {
public:
    // Endpoint names for scripting: the API's operation names ("login", "login.logout",
    // "user.myInfo", "room.view", "category.list", "room.update", "room.viewSecretKey") and these.
    static constexpr std::string_view kCaptchaEndpoint = "GET /token/captcha";
    static constexpr std::string_view kRoomInfoEndpoint = "GET /json/rooms/<id>/info.json";
    static constexpr std::string_view kRouteEndpoint = "GET /site/route";
    static constexpr std::string_view kSessionCookie = "live_session";
    static constexpr std::string_view kWrongCaptchaMessage = "验证码不正确.";

    // The world it starts with: one account "anchor" / "secret" whose user id is 42, its room, three
    // categories, the captcha code "8888", the chat server 127.0.0.1:9000, login required.
    ServiceStub();
    ~ServiceStub();
    ServiceStub(const ServiceStub&) = delete;
    ServiceStub& operator=(const ServiceStub&) = delete;

    std::string baseURL() const { return m_server.baseURL(); } // "http://127.0.0.1:PORT"
    HttpServer& server() { return m_server; }
    void stop() { m_server.stop(); }

    // ---- The world ----
    // `user` is the object "user.myInfo" answers ("id" is the user id, a number).
    void addAccount(std::string name, std::string password, platform::Value user);
    void setCaptchaCode(std::string code);
    // The picture the captcha endpoint serves (PNG bytes); a small grey one unless set.
    void setCaptchaPicture(std::string png);
    // Without login required, every session counts as logged in as the first account.
    void setRequiresLogin(bool required);
    // The room of a user id (decimal text), as "room.view" and the public room information give it.
    void setRoom(std::string uid, platform::Value room);
    platform::Value room(const std::string& uid) const; // nil when there is none
    void setCategories(platform::Value categories);     // the list "category.list" answers
    // What "room.viewSecretKey" answers for a user id; by default {"secretKey": "key-<uid>"}.
    void setSecretKey(std::string uid, platform::Value secretKey);
    void setChatServer(std::string ipv4, uint16_t port);

    // ---- Scripting ----
    void script(std::string endpoint, HttpResponse response);     // every later request
    void scriptOnce(std::string endpoint, HttpResponse response); // the next request only
    // Later requests to the endpoint wait until the gate opens (or the stub stops), then are answered.
    std::shared_ptr<HttpGate> hold(std::string endpoint);

    // Replies as the service writes them.
    static HttpResponse success(platform::Value data = {});                   // {"code": 200[, "data": data]}
    static HttpResponse failure(platform::Value code, platform::Value error); // {"code", "error"}
    static HttpResponse json(const platform::Value& body, int status = 200);
    // The chat-server route: five big-endian words (four octets, then the port), each XORed with 213.
    static std::string routeBytes(std::string_view ipv4, uint16_t port);

    // ---- Record ----
    std::vector<HttpRequest> requests() const { return m_server.requests(); }
    // The requests that reached one endpoint, in order (API requests by their "m").
    std::vector<HttpRequest> requestsTo(std::string_view endpoint) const;
    // The parsed body of an API request (nil when it is not JSON).
    static platform::Value envelope(const HttpRequest& request);
    // The endpoint a request was for ("" when it was for none).
    static std::string endpointOf(const HttpRequest& request);

private:
    struct Account {
        std::string password;
        platform::Value user;
    };
    struct Session {
        bool captchaIssued{false};
        std::optional<std::string> loggedIn; // account name
    };

    void answer(const std::string& endpoint, const HttpRequest& request, HttpResponse& response,
                void (ServiceStub::*play)(const HttpRequest&, HttpResponse&));
    void playAPI(const HttpRequest& request, HttpResponse& response);
    void playCaptcha(const HttpRequest& request, HttpResponse& response);
    void playRoomInfo(const HttpRequest& request, HttpResponse& response);
    void playRoute(const HttpRequest& request, HttpResponse& response);
    // The account a request acts as (its session's login, or the first one without login required).
    const Account* actingAccount(const HttpRequest& request) const;
    platform::Value apiReply(const std::string& operation, const platform::Value& params,
                             const HttpRequest& request);

    mutable std::mutex m_mutex;
    std::map<std::string, Account> m_accounts;
    std::string m_firstAccount;
    std::map<std::string, Session> m_sessions; // by cookie value
    uint64_t m_nextSession{1};
    std::string m_captchaCode{"8888"};
    std::string m_captchaPicture;
    bool m_requiresLogin{true};
    std::map<std::string, platform::Value> m_rooms;
    platform::Value m_categories;
    std::map<std::string, platform::Value> m_secretKeys;
    std::string m_chatHost{"127.0.0.1"};
    uint16_t m_chatPort{9000};
    std::map<std::string, HttpScript> m_scripts;

    // Last, so that it stops first: its handlers use the members above.
    HttpServer m_server;
};

} // namespace liveapp::test
