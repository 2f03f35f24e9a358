#include "tests/peers/ServiceStub.h"

#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Text.h"

#include <arpa/inet.h>
#include <array>
#include <fmt/format.h>
#include <stdexcept>

using platform::Value;
using platform::ValueDictionary;

namespace liveapp::test {

namespace {

// An 8x4 grey-scale PNG: any picture will do, as long as it decodes.
constexpr unsigned char kCaptchaPNG[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00,
    0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00, 0x96, 0xa6, 0x21, 0x2c, 0x00,
    0x00, 0x00, 0x2d, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0x60, 0x50, 0x70, 0x48, 0x68, 0x58, 0x70,
    0xe0, 0x01, 0x83, 0x86, 0x47, 0x46, 0xc7, 0x8a, 0x13, 0x2f, 0x38, 0x18, 0x02, 0x0a, 0x26, 0x6c, 0xb8,
    0xf0, 0x41, 0xc0, 0x80, 0xa1, 0x62, 0xc6, 0x8e, 0x1b, 0x3f, 0x24, 0x2c, 0x22, 0x00, 0x07, 0xf3, 0x0f,
    0x81, 0x11, 0x34, 0x92, 0x0f, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};

constexpr uint32_t kRouteMask = 213;

std::string jsonText(const Value& value) {
    auto data = platform::JSONSerialization::dataWithJSONObject(value);
    return data ? std::string(data->view()) : std::string("{}");
}

Value parseJSON(std::string_view text) {
    return platform::JSONSerialization::JSONObjectWithData(platform::Data(text));
}

Value okBody(Value data) {
    ValueDictionary body{{"code", 200}};
    if (!data.isNil())
        body.set("data", std::move(data));
    return Value(std::move(body));
}

std::string uidText(const Value& user) {
    const Value& id = user["id"];
    if (auto* number = id.number())
        return number->stringValue();
    return id.stringOr();
}

std::optional<std::string> roomIdFromInfoPath(std::string_view path) {
    constexpr std::string_view prefix = "/json/rooms/";
    constexpr std::string_view suffix = "/info.json";
    if (!path.starts_with(prefix) || !path.ends_with(suffix) || path.size() <= prefix.size() + suffix.size())
        return std::nullopt;
    auto id = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    return platform::URL::percentDecode(id);
}

} // namespace

ServiceStub::ServiceStub() {
    addAccount("anchor", "secret",
               Value::dictionary({{"id", 42},
                                  {"nick", "主播小王"},
                                  {"avatar", "http://127.0.0.1/avatar/42.png"},
                                  {"email", "anchor@example.com"},
                                  {"mobile", "13800138000"},
                                  {"isAnchor", 1},
                                  {"money", 120},
                                  {"neiku", 0},
                                  {"nextRankScore", 500},
                                  {"rank", 3},
                                  {"score", 260},
                                  {"superAdmin", 0},
                                  {"unreadMsg", 2}}));
    setRoom("42", Value::dictionary({{"uid", "42"},
                                     {"title", "周末户外直播"},
                                     {"nick", "主播小王"},
                                     {"category_id", "2"},
                                     {"category_name", "户外"},
                                     {"categoryId", "2"},
                                     {"categoryName", "户外"},
                                     {"view", "17"},
                                     {"follow", 5},
                                     {"slug", "anchor-42"},
                                     {"announcement", "每晚八点开播"},
                                     {"intro", "一起看风景"}}));
    setCategories(Value::array({
        Value::dictionary({{"id", "1"}, {"name", "游戏"}, {"category_id", "1"}, {"thumb", "game.png"}}),
        Value::dictionary({{"id", "2"}, {"name", "户外"}, {"category_id", "2"}, {"thumb", "outdoor.png"}}),
        Value::dictionary({{"id", "3"}, {"name", "音乐"}, {"category_id", "3"}, {"thumb", "music.png"}}),
    }));

    m_server.route("POST", "/api/v1", [this](const HttpRequest& request, HttpResponse& response) {
        answer(endpointOf(request), request, response, &ServiceStub::playAPI);
    });
    m_server.route("GET", "/token/captcha", [this](const HttpRequest& request, HttpResponse& response) {
        answer(std::string(kCaptchaEndpoint), request, response, &ServiceStub::playCaptcha);
    });
    m_server.routeRegex(
        "GET", "/json/rooms/[^/]+/info\\.json", [this](const HttpRequest& request, HttpResponse& response) {
            answer(std::string(kRoomInfoEndpoint), request, response, &ServiceStub::playRoomInfo);
        });
    m_server.route("GET", "/site/route", [this](const HttpRequest& request, HttpResponse& response) {
        answer(std::string(kRouteEndpoint), request, response, &ServiceStub::playRoute);
    });
}

ServiceStub::~ServiceStub() {
    m_server.stop();
}

// ---- The world ----
void ServiceStub::addAccount(std::string name, std::string password, Value user) {
    std::lock_guard lock(m_mutex);
    if (m_firstAccount.empty())
        m_firstAccount = name;
    m_accounts[std::move(name)] = Account{std::move(password), std::move(user)};
}

void ServiceStub::setCaptchaCode(std::string code) {
    std::lock_guard lock(m_mutex);
    m_captchaCode = std::move(code);
}

void ServiceStub::setCaptchaPicture(std::string png) {
    std::lock_guard lock(m_mutex);
    m_captchaPicture = std::move(png);
}

void ServiceStub::setRequiresLogin(bool required) {
    std::lock_guard lock(m_mutex);
    m_requiresLogin = required;
}

void ServiceStub::setRoom(std::string uid, Value room) {
    std::lock_guard lock(m_mutex);
    m_rooms[std::move(uid)] = std::move(room);
}

Value ServiceStub::room(const std::string& uid) const {
    std::lock_guard lock(m_mutex);
    auto found = m_rooms.find(uid);
    return found == m_rooms.end() ? Value() : found->second;
}

void ServiceStub::setCategories(Value categories) {
    std::lock_guard lock(m_mutex);
    m_categories = std::move(categories);
}

void ServiceStub::setSecretKey(std::string uid, Value secretKey) {
    std::lock_guard lock(m_mutex);
    m_secretKeys[std::move(uid)] = std::move(secretKey);
}

void ServiceStub::setChatServer(std::string ipv4, uint16_t port) {
    std::lock_guard lock(m_mutex);
    m_chatHost = std::move(ipv4);
    m_chatPort = port;
}

// ---- Scripting ----
void ServiceStub::script(std::string endpoint, HttpResponse response) {
    std::lock_guard lock(m_mutex);
    m_scripts[std::move(endpoint)].standing = std::move(response);
}

void ServiceStub::scriptOnce(std::string endpoint, HttpResponse response) {
    std::lock_guard lock(m_mutex);
    m_scripts[std::move(endpoint)].once.push_back(std::move(response));
}

std::shared_ptr<HttpGate> ServiceStub::hold(std::string endpoint) {
    auto gate = m_server.makeGate();
    std::lock_guard lock(m_mutex);
    m_scripts[std::move(endpoint)].hold = gate;
    return gate;
}

HttpResponse ServiceStub::success(Value data) {
    return json(okBody(std::move(data)));
}

HttpResponse ServiceStub::failure(Value code, Value error) {
    return json(Value::dictionary({{"code", std::move(code)}, {"error", std::move(error)}}));
}

HttpResponse ServiceStub::json(const Value& body, int status) {
    return HttpResponse::json(jsonText(body), status);
}

std::string ServiceStub::routeBytes(std::string_view ipv4, uint16_t port) {
    in_addr address{};
    if (::inet_pton(AF_INET, std::string(ipv4).c_str(), &address) != 1)
        throw std::invalid_argument("not an IPv4 address: " + std::string(ipv4));
    auto* octets = reinterpret_cast<const unsigned char*>(&address.s_addr);
    std::array<uint32_t, 5> words{octets[0], octets[1], octets[2], octets[3], port};
    std::string bytes;
    for (uint32_t word : words) {
        uint32_t masked = word ^ kRouteMask;
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<char>((masked >> shift) & 0xff));
    }
    return bytes;
}

// ---- Record ----
std::vector<HttpRequest> ServiceStub::requestsTo(std::string_view endpoint) const {
    std::vector<HttpRequest> matching;
    for (auto& request : m_server.requests()) {
        if (endpointOf(request) == endpoint)
            matching.push_back(request);
    }
    return matching;
}

Value ServiceStub::envelope(const HttpRequest& request) {
    return parseJSON(request.body);
}

std::string ServiceStub::endpointOf(const HttpRequest& request) {
    if (request.method == "POST" && request.path == "/api/v1")
        return envelope(request)["m"].stringOr();
    if (request.method != "GET")
        return {};
    if (request.path == "/token/captcha")
        return std::string(kCaptchaEndpoint);
    if (request.path == "/site/route")
        return std::string(kRouteEndpoint);
    if (roomIdFromInfoPath(request.path))
        return std::string(kRoomInfoEndpoint);
    return {};
}

// ---- Playing the service ----
void ServiceStub::answer(const std::string& endpoint, const HttpRequest& request, HttpResponse& response,
                         void (ServiceStub::*play)(const HttpRequest&, HttpResponse&)) {
    std::shared_ptr<HttpGate> gate;
    {
        std::lock_guard lock(m_mutex);
        gate = m_scripts[endpoint].hold;
    }
    if (gate)
        gate->wait();
    std::optional<HttpResponse> scripted;
    {
        std::lock_guard lock(m_mutex);
        scripted = m_scripts[endpoint].next();
    }
    if (scripted)
        response = std::move(*scripted);
    else
        (this->*play)(request, response);
}

const ServiceStub::Account* ServiceStub::actingAccount(const HttpRequest& request) const {
    if (!m_requiresLogin) {
        auto first = m_accounts.find(m_firstAccount);
        return first == m_accounts.end() ? nullptr : &first->second;
    }
    auto cookies = request.cookies();
    auto cookie = cookies.find(std::string(kSessionCookie));
    if (cookie == cookies.end())
        return nullptr;
    auto session = m_sessions.find(cookie->second);
    if (session == m_sessions.end() || !session->second.loggedIn)
        return nullptr;
    auto account = m_accounts.find(*session->second.loggedIn);
    return account == m_accounts.end() ? nullptr : &account->second;
}

void ServiceStub::playAPI(const HttpRequest& request, HttpResponse& response) {
    Value body = envelope(request);
    if (!body.isDictionary() || !body["m"].isString()) {
        response = failure(400, "请求格式错误");
        return;
    }
    std::lock_guard lock(m_mutex);
    Value reply = apiReply(*body["m"].string(), body["p"], request);
    response = json(reply);
}

Value ServiceStub::apiReply(const std::string& operation, const Value& params, const HttpRequest& request) {
    auto reply = [](Value code, std::string_view field, Value value) {
        return Value::dictionary({{"code", std::move(code)}, {std::string(field), std::move(value)}});
    };
    auto ok = [](Value data = {}) { return okBody(std::move(data)); };

    if (operation == "login") {
        auto cookies = request.cookies();
        auto cookie = cookies.find(std::string(kSessionCookie));
        auto session = cookie == cookies.end() ? m_sessions.end() : m_sessions.find(cookie->second);
        // The captcha belongs to the session that fetched it: a login without that cookie fails as
        // a wrong captcha does.
        if (session == m_sessions.end() || !session->second.captchaIssued ||
            params["captcha"].stringOr() != m_captchaCode)
            return reply(400, "error", std::string(kWrongCaptchaMessage));
        auto name = params["name"].stringOr();
        if (name.empty())
            return reply(400, "error", Value::dictionary({{"name", Value::array({"用户名不能为空"})}}));
        auto account = m_accounts.find(name);
        if (account == m_accounts.end() || account->second.password != params["password"].stringOr())
            return reply(400, "error", Value::dictionary({{"password", Value::array({"用户名或密码错误"})}}));
        session->second.loggedIn = name;
        return ok();
    }
    if (operation == "category.list")
        return ok(m_categories.isNil() ? Value(platform::ValueArray{}) : m_categories);

    const Account* account = actingAccount(request);
    if (operation == "login.logout") {
        auto cookies = request.cookies();
        auto cookie = cookies.find(std::string(kSessionCookie));
        if (cookie != cookies.end())
            m_sessions.erase(cookie->second);
        return ok();
    }
    bool known = operation == "user.myInfo" || operation == "room.view" || operation == "room.update" ||
                 operation == "room.viewSecretKey";
    if (!known)
        return reply(404, "error", "未知的接口");
    if (!account)
        return reply(401, "error", "请先登录");

    std::string uid = uidText(account->user);
    if (operation == "user.myInfo")
        return ok(account->user);
    if (operation == "room.view") {
        auto room = m_rooms.find(uid);
        if (room == m_rooms.end())
            return reply(404, "error", "房间不存在");
        return ok(room->second);
    }
    if (operation == "room.update") {
        auto title = params["title"].stringOr();
        if (title.empty())
            return reply(400, "error", Value::dictionary({{"title", Value::array({"房间标题不能为空"})}}));
        Value& room = m_rooms[uid];
        if (room.isNil())
            room = Value(ValueDictionary{{"uid", uid}});
        auto* fields = room.mutableDictionary();
        fields->set("title", title);
        if (auto* categoryId = params["categoryId"].string()) {
            fields->set("categoryId", *categoryId);
            fields->set("category_id", *categoryId);
            if (auto* list = m_categories.array()) {
                for (auto& category : *list) {
                    if (category["id"].stringOr() == *categoryId) {
                        fields->set("categoryName", category["name"]);
                        fields->set("category_name", category["name"]);
                    }
                }
            }
        }
        return ok();
    }
    // room.viewSecretKey
    auto key = m_secretKeys.find(uid);
    if (key != m_secretKeys.end())
        return ok(key->second);
    return ok(Value::dictionary({{"secretKey", "key-" + uid}}));
}

void ServiceStub::playCaptcha(const HttpRequest& request, HttpResponse& response) {
    std::lock_guard lock(m_mutex);
    auto cookies = request.cookies();
    auto cookie = cookies.find(std::string(kSessionCookie));
    std::string id;
    if (cookie != cookies.end() && m_sessions.count(cookie->second)) {
        id = cookie->second;
    } else {
        id = fmt::format("s{:08x}", m_nextSession++);
        response.setCookie(fmt::format("{}={}; Path=/; HttpOnly", kSessionCookie, id));
    }
    m_sessions[id].captchaIssued = true;
    response.status = 200;
    response.header("Content-Type", "image/png");
    if (m_captchaPicture.empty())
        response.body.assign(reinterpret_cast<const char*>(kCaptchaPNG), sizeof kCaptchaPNG);
    else
        response.body = m_captchaPicture;
}

void ServiceStub::playRoomInfo(const HttpRequest& request, HttpResponse& response) {
    auto id = roomIdFromInfoPath(request.path);
    Value room = id ? this->room(*id) : Value();
    if (room.isNil()) {
        response = HttpResponse::notFound();
        return;
    }
    response = json(room);
}

void ServiceStub::playRoute(const HttpRequest& request, HttpResponse& response) {
    if (!request.queryValue("roomId")) {
        response = HttpResponse::notFound();
        return;
    }
    std::lock_guard lock(m_mutex);
    response = HttpResponse::text(200, routeBytes(m_chatHost, m_chatPort), "application/octet-stream");
}

} // namespace liveapp::test
