// The JSON HTTP client against the loopback test server: what goes out (method, content type,
// parameters, headers, body) and how replies, statuses and failures reach the completion.

#include "platform/foundation/JSONSerialization.h"
#include "platform/net/URLError.h"
#include "platform/net/URLResponse.h"
#include "tests/peers/HttpServer.h"
#include "tests/support/HttpReplies.h"
#include "tests/support/MainLoop.h"

#include "json/JsonHttpClient.h"
#include "json/MappedModelError.h"
#include <atomic>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <thread>

using platform::Data;
using platform::ErrorPtr;
using platform::Value;
using namespace liveapp::test;

namespace {

constexpr const char* kJSONType = "application/json; charset=utf-8";
constexpr const char* kFormType = "application/x-www-form-urlencoded; charset=utf-8";

struct Reply {
    bool done{false};
    int calls{0};
    bool onMainThread{false};
    Value json;
    ErrorPtr error;

    JSONObjectBlock block() {
        return [this, main = std::this_thread::get_id()](Value j, ErrorPtr e) {
            ++calls, done = true, onMainThread = std::this_thread::get_id() == main;
            json = std::move(j), error = std::move(e);
        };
    }
    bool wait() {
        return pumpMainLoopUntil([this] { return done; }, std::chrono::seconds(60));
    }
};

class HTTPClientTest : public testing::Test {
protected:
    void SetUp() override { JsonHttpClient::resetSettings(); }
    void TearDown() override { JsonHttpClient::resetSettings(); }

    // Runs one call with a fresh completion and returns the reply and the one request it sent.
    std::pair<Reply, HttpRequest> exchange(const std::function<void(JSONObjectBlock)>& call) {
        server.clearRequests();
        Reply reply;
        call(reply.block());
        EXPECT_TRUE(reply.wait());
        return {reply, onlyRequest()};
    }
    // GETs `url` (with `params` unless nil).
    std::pair<Reply, HttpRequest> get(const std::string& url, Value params = Value()) {
        return exchange([&](JSONObjectBlock done) {
            if (params.isNil())
                JsonHttpClient::getJSONFromURLWithString(url, done);
            else
                JsonHttpClient::getJSONFromURLWithString(url, params, done);
        });
    }
    HttpRequest onlyRequest() {
        auto all = server.requests();
        EXPECT_EQ(all.size(), 1u);
        return all.size() == 1 ? all.front() : HttpRequest{};
    }

    HttpServer server;
};

} // namespace

TEST(HTTPClientEncoding, ParametersAreEncodedSortedAndJoined) {
    EXPECT_EQ(JsonHttpClient::urlEncode(Value("a b&c=d/e?f#g+h")), "a%20b%26c%3Dd%2Fe%3Ff%23g%2Bh");
    EXPECT_EQ(JsonHttpClient::urlEncode(Value("Az09-._~")), "Az09-._~");
    EXPECT_EQ(JsonHttpClient::urlEncode(Value("é")), "%C3%A9");
    EXPECT_EQ(JsonHttpClient::urlEncode(Value(1.5)), "1.5");
    auto params = Value::dictionary({{"b", 2}, {"a", "x&evil=1"}, {"B", "upper"}});
    EXPECT_EQ(JsonHttpClient::parameterString(params), "B=upper&a=x%26evil%3D1&b=2");
    EXPECT_EQ(JsonHttpClient::parameterString(Value::dictionary({})), "");
    EXPECT_EQ(JsonHttpClient::parameterString(Value()), "");
}

TEST(HTTPClientEncoding, AutomaticContentTypeFollowsTheBodysShape) {
    JsonHttpClient::resetSettings();
    const std::pair<const char*, const char*> cases[] = {
        {"{\"a\":1}", kJSONType},
        {"[1]", kJSONType},
        {"a=1", kFormType},
        {"{]", kFormType},
        {"", "mappedmodel/automatic; charset=utf-8"},
    };
    for (auto [body, type] : cases)
        EXPECT_EQ(JsonHttpClient::contentTypeForRequestString(body), type) << body;
    JsonHttpClient::setRequestContentType("text/plain");
    EXPECT_EQ(JsonHttpClient::contentTypeForRequestString("{}"), "text/plain; charset=utf-8");
    JsonHttpClient::resetSettings();
}

TEST_F(HTTPClientTest, BodiesGoOutWithTheirTypeLengthAndHeaders) {
    server.route("POST", "/j", HttpResponse::json("{\"ok\":true}"));
    const std::string url = server.url("/j");
    for (std::string body : {"{}", "[]"}) {
        auto [reply, request] = exchange([&](JSONObjectBlock done) {
            JsonHttpClient::postJSONFromURLWithStringBodyString(url, body, done);
        });
        EXPECT_EQ(request.header("Content-Type"), kJSONType);
        EXPECT_EQ(request.header("Content-Length"), "2");
        EXPECT_EQ(request.body, body);
        EXPECT_EQ(reply.json, Value::dictionary({{"ok", true}}));
        EXPECT_FALSE(reply.error);
    }
    auto form = exchange([&](JSONObjectBlock done) {
                    JsonHttpClient::postJSONFromURLWithString(
                        url, Value::dictionary({{"b", "2&c=3"}, {"a", 1}}), done);
                }).second;
    EXPECT_EQ(form.body, "a=1&b=2%26c%3D3");
    EXPECT_EQ(form.header("Content-Type"), kFormType);
    EXPECT_EQ(form.query, "");

    JsonHttpClient::setDefaultTextEncoding(NSISOLatin1StringEncoding);
    const char latin1[] = {'n', '=', static_cast<char>(0xE9)};
    auto latin =
        exchange([&](JSONObjectBlock done) {
            JsonHttpClient::postJSONFromURLWithStringBodyData(url, Data(latin1, sizeof latin1), done);
        }).second;
    EXPECT_EQ(latin.body, "n=\xC3\xA9");

    // A fixed content type and shared headers, with the call's own headers winning.
    JsonHttpClient::setRequestContentType("application/vnd.test");
    JsonHttpClient::setRequestHeader("X-Shared", "shared");
    JsonHttpClient::setRequestHeader("X-Both", "shared");
    auto headers =
        exchange([&](JSONObjectBlock done) {
            JsonHttpClient::JSONFromURLWithStringBodyString(url, "POST", Value(), std::string("{}"),
                                                            {{"X-Both", "call"}, {"X-Call", "call"}}, done);
        }).second;
    EXPECT_EQ(headers.header("Content-Type"), "application/vnd.test");
    EXPECT_EQ(headers.header("X-Shared"), "shared");
    EXPECT_EQ(headers.header("X-Call"), "call");
    EXPECT_EQ(headers.headers.all("X-Both"), std::vector<std::string>{"call"});
}

TEST_F(HTTPClientTest, GetParametersGoIntoTheQueryInNameOrder) {
    server.route("GET", "/q", HttpResponse::json("{}"));
    const struct {
        const char* path;
        Value params;
        const char* target;
    } cases[] = {
        {"/q", Value::dictionary({{"b", 2}, {"a", 1}}), "/q?a=1&b=2"},
        {"/q?x=0", Value::dictionary({{"a", "b c"}}), "/q?x=0&a=b%20c"},
        {"/q", Value::dictionary({}), "/q?"},
        {"/q", Value(), "/q"},
    };
    // An absent completion is skipped; each completion runs once, on the main thread.
    JsonHttpClient::getJSONFromURLWithString(server.url("/q"), JSONObjectBlock());
    ASSERT_TRUE(server.waitForRequests(1));
    for (const auto& c : cases) {
        auto [reply, request] = get(server.url(c.path), c.params);
        EXPECT_EQ(request.target, c.target);
        EXPECT_TRUE(request.body.empty());
        EXPECT_FALSE(request.header("Content-Type")) << "no body, no content type";
        EXPECT_EQ(reply.calls, 1);
        EXPECT_TRUE(reply.onMainThread);
    }
}

TEST_F(HTTPClientTest, FailuresReachTheCompletionWithTheirDomainAndCode) {
    server.route("GET", "/missing", HttpResponse::json("{\"reason\":\"gone\"}", 404));
    server.route("GET", "/boom", HttpResponse::text(500, "not json"));
    server.route("GET", "/empty", HttpResponse::text(200, ""));
    server.route("GET", "/bad", HttpResponse::text(200, "{\"a\":", "application/json"));
    std::string stopped;
    {
        HttpServer gone;
        stopped = gone.url("/gone");
    }
    const struct {
        std::string url;
        std::string domain;
        int code;
        Value json;
    } cases[] = {
        {server.url("/missing"), MappedModelErrorDomain, MappedModelErrorBadResponse,
         Value::dictionary({{"reason", "gone"}})},
        {server.url("/boom"), MappedModelErrorDomain, MappedModelErrorBadResponse, Value()},
        {server.url("/empty"), MappedModelErrorDomain, MappedModelErrorBadResponse, Value()},
        {server.url("/bad"), platform::NSCocoaErrorDomain, platform::JSONSerialization::readCorruptErrorCode,
         Value()},
        {"http://bad host/", platform::NSURLErrorDomain, platform::NSURLErrorBadURL, Value()},
        {stopped, platform::NSURLErrorDomain, platform::NSURLErrorCannotConnectToHost, Value()},
    };
    std::vector<Reply> replies(std::size(cases));
    for (size_t i = 0; i < replies.size(); ++i) {
        SCOPED_TRACE(cases[i].url);
        JsonHttpClient::getJSONFromURLWithString(cases[i].url, replies[i].block());
        ASSERT_TRUE(replies[i].wait());
        ASSERT_TRUE(replies[i].error);
        EXPECT_EQ(replies[i].error->domain(), cases[i].domain);
        EXPECT_EQ(replies[i].error->code(), cases[i].code);
        EXPECT_EQ(replies[i].json, cases[i].json);
        EXPECT_EQ(MappedModelError::isMappedModelError(replies[i].error),
                  cases[i].domain != platform::NSCocoaErrorDomain);
    }
    // An error status keeps the response and the bytes for the caller.
    const Reply& reply = replies[0];
    auto response =
        std::dynamic_pointer_cast<platform::HTTPURLResponse>(MappedModelError::httpResponse(reply.error));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode(), 404);
    auto bytes = MappedModelError::responseData(reply.error);
    ASSERT_TRUE(bytes.isData());
    EXPECT_EQ(bytes.data()->toString(), "{\"reason\":\"gone\"}");
}

TEST_F(HTTPClientTest, RequestCoreHandsOverBytesOffTheMainThread) {
    server.route("PUT", "/raw", HttpResponse::text(201, "stored"));
    std::atomic<bool> done{false}; // set after the values it publishes
    std::optional<Data> received;
    ErrorPtr failure;
    JsonHttpClient::requestDataFromURL(platform::URL::create(server.url("/raw")), "PUT",
                                       Data(std::string_view("payload")), {},
                                       [&](std::optional<Data> data, ErrorPtr error) {
                                           received = std::move(data), failure = std::move(error);
                                           done = true;
                                       });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return done.load(); }));
    EXPECT_FALSE(failure);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->toString(), "stored");
    auto request = onlyRequest();
    EXPECT_EQ(request.body, "payload");
    EXPECT_EQ(request.header("Content-Type"), kFormType);
}

TEST_F(HTTPClientTest, CachingPolicyIsHonouredAndDefaultsToReloading) {
    server.route("GET", "/cached", HttpResponse::json("{\"n\":1}").header("Cache-Control", "max-age=3600"));
    for (int i = 0; i < 2; ++i)
        get(server.url("/cached"));
    EXPECT_EQ(server.requestCount(), 1u) << "the default policy ignores cached replies";

    JsonHttpClient::setCachingPolicy(platform::NSURLRequestReturnCacheDataElseLoad);
    server.clearRequests();
    Reply cached;
    JsonHttpClient::getJSONFromURLWithString(server.url("/cached"), cached.block());
    ASSERT_TRUE(cached.wait());
    EXPECT_EQ(cached.json, Value::dictionary({{"n", 1}}));
    EXPECT_EQ(server.requestCount(), 0u) << "served from the cache";
}

TEST_F(HTTPClientTest, IdleRequestTimesOutAfterTheSetting) {
    auto gate = server.makeGate();
    server.route("GET", "/slow", replyAfter(gate, HttpResponse::json("{}")));
    JsonHttpClient::setTimeoutInSeconds(1);
    Reply reply;
    JsonHttpClient::getJSONFromURLWithString(server.url("/slow"), reply.block());
    ASSERT_TRUE(reply.wait());
    gate->open();
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->domain(), platform::NSURLErrorDomain);
    EXPECT_EQ(reply.error->code(), platform::NSURLErrorTimedOut);
}

TEST(HTTPClientSettings, SettingsMayChangeWhileOtherThreadsReadThemAndResetRestoresTheDefaults) {
    JsonHttpClient::resetSettings();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                JsonHttpClient::setRequestHeader(fmt::format("X-{}", t), std::to_string(i));
                JsonHttpClient::setTimeoutInSeconds(30 + i);
                (void)JsonHttpClient::requestHeaders();
                (void)JsonHttpClient::contentTypeForRequestString("{}");
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    auto headers = JsonHttpClient::requestHeaders();
    EXPECT_EQ(headers.size(), 4u);
    EXPECT_EQ(headers.value("X-0"), "199");
    EXPECT_EQ(JsonHttpClient::timeoutInSeconds(), 229);
    JsonHttpClient::resetSettings();
    EXPECT_TRUE(JsonHttpClient::requestHeaders().empty());
    EXPECT_EQ(JsonHttpClient::timeoutInSeconds(), 60);
    EXPECT_EQ(JsonHttpClient::cachingPolicy(), platform::NSURLRequestReloadIgnoringLocalCacheData);
    EXPECT_EQ(JsonHttpClient::requestContentType(), "mappedmodel/automatic");
    EXPECT_EQ(JsonHttpClient::defaultTextEncoding(), NSUTF8StringEncoding);
}
