// The JSON HTTP client against the loopback test server: what goes out (method, content type,
// parameters, headers, body) and how replies, statuses and failures reach the completion.

#include "platform/foundation/JSONSerialization.h"
#include "platform/net/URLError.h"
#include "platform/net/URLResponse.h"
#include "tests/support/HttpReplies.h"
#include "tests/peers/HttpServer.h"
#include "tests/support/MainLoop.h"

#include "json/JsonHttpClient.h"
#include "json/MappedModelError.h"
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <thread>

using platform::Data;
using platform::ErrorPtr;
using platform::Value;
using namespace liveapp::test;

namespace {

struct Reply {
    bool done{false};
    int calls{0};
    bool onMainThread{false};
    Value json;
    ErrorPtr error;

    JSONObjectBlock block() {
        return [this, main = std::this_thread::get_id()](Value j, ErrorPtr e) {
            ++calls;
            done = true;
            onMainThread = std::this_thread::get_id() == main;
            json = std::move(j);
            error = std::move(e);
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

    // Answers `body` as JSON and keeps the request.
    void echo(const std::string& method, const std::string& path, std::string body = "{\"ok\":true}",
              int status = 200) {
        server.route(method, path, [body, status](const HttpRequest&, HttpResponse& response) {
            response = HttpResponse::json(body, status);
        });
    }
    HttpRequest onlyRequest() {
        EXPECT_EQ(server.requestCount(), 1u);
        auto all = server.requests();
        return all.empty() ? HttpRequest{} : all.front();
    }

    HttpServer server;
};

} // namespace

TEST(HTTPClientEncoding, UrlEncodeLeavesOnlyUnreservedCharacters) {
    EXPECT_EQ(JsonHttpClient::urlEncode(Value("a b&c=d/e?f#g+h")), "a%20b%26c%3Dd%2Fe%3Ff%23g%2Bh");
    EXPECT_EQ(JsonHttpClient::urlEncode(Value("Az09-._~")), "Az09-._~");
    EXPECT_EQ(JsonHttpClient::urlEncode(Value("é")), "%C3%A9");
    EXPECT_EQ(JsonHttpClient::urlEncode(Value(1.5)), "1.5");
    EXPECT_EQ(JsonHttpClient::urlEncode(Value(42)), "42");
}

TEST(HTTPClientEncoding, ParametersAreSortedByNameAndJoinedWithoutATrailingSeparator) {
    auto params = Value::dictionary({{"b", 2}, {"a", "x&evil=1"}, {"B", "upper"}});
    EXPECT_EQ(JsonHttpClient::parameterString(params), "B=upper&a=x%26evil%3D1&b=2");
    EXPECT_EQ(JsonHttpClient::parameterString(Value::dictionary({})), "");
    EXPECT_EQ(JsonHttpClient::parameterString(Value()), "");
}

TEST(HTTPClientEncoding, AutomaticContentTypeFollowsTheBodysShape) {
    JsonHttpClient::resetSettings();
    EXPECT_EQ(JsonHttpClient::contentTypeForRequestString("{\"a\":1}"), "application/json; charset=utf-8");
    EXPECT_EQ(JsonHttpClient::contentTypeForRequestString("[1]"), "application/json; charset=utf-8");
    EXPECT_EQ(JsonHttpClient::contentTypeForRequestString("a=1"),
              "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(JsonHttpClient::contentTypeForRequestString("{]"),
              "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(JsonHttpClient::contentTypeForRequestString(""), "mappedmodel/automatic; charset=utf-8");
    JsonHttpClient::setRequestContentType("text/plain");
    EXPECT_EQ(JsonHttpClient::contentTypeForRequestString("{}"), "text/plain; charset=utf-8");
    JsonHttpClient::resetSettings();
}

TEST_F(HTTPClientTest, JSONBodiesGoOutAsJSONWithTheirLength) {
    echo("POST", "/j");
    for (auto body : {"{}", "[]"}) {
        server.clearRequests();
        Reply reply;
        JsonHttpClient::postJSONFromURLWithStringBodyString(server.url("/j"), std::string(body),
                                                            reply.block());
        ASSERT_TRUE(reply.wait());
        auto request = onlyRequest();
        EXPECT_EQ(request.header("Content-Type"), "application/json; charset=utf-8");
        EXPECT_EQ(request.header("Content-Length"), "2");
        EXPECT_EQ(request.body, body);
        EXPECT_EQ(reply.json, Value::dictionary({{"ok", true}}));
        EXPECT_FALSE(reply.error);
    }
}

TEST_F(HTTPClientTest, PostedParametersGoOutFormEncodedInNameOrder) {
    echo("POST", "/form");
    Reply reply;
    JsonHttpClient::postJSONFromURLWithString(server.url("/form"),
                                              Value::dictionary({{"b", "2&c=3"}, {"a", 1}}), reply.block());
    ASSERT_TRUE(reply.wait());
    auto request = onlyRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, "a=1&b=2%26c%3D3");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(request.query, "");
}

TEST_F(HTTPClientTest, GetParametersGoIntoTheQueryInNameOrder) {
    echo("GET", "/q");
    Reply reply;
    JsonHttpClient::getJSONFromURLWithString(server.url("/q"), Value::dictionary({{"b", 2}, {"a", 1}}),
                                             reply.block());
    ASSERT_TRUE(reply.wait());
    auto request = onlyRequest();
    EXPECT_EQ(request.target, "/q?a=1&b=2");
    EXPECT_TRUE(request.body.empty());
    EXPECT_FALSE(request.header("Content-Type")) << "no body, no content type";

    server.clearRequests();
    Reply more;
    JsonHttpClient::getJSONFromURLWithString(server.url("/q?x=0"), Value::dictionary({{"a", "b c"}}),
                                             more.block());
    ASSERT_TRUE(more.wait());
    EXPECT_EQ(onlyRequest().target, "/q?x=0&a=b%20c");
}

TEST_F(HTTPClientTest, EmptyParametersLeaveABareSeparatorAndNoParametersNone) {
    echo("GET", "/q");
    Reply reply;
    JsonHttpClient::getJSONFromURLWithString(server.url("/q"), Value::dictionary({}), reply.block());
    ASSERT_TRUE(reply.wait());
    EXPECT_EQ(onlyRequest().target, "/q?");

    server.clearRequests();
    Reply plain;
    JsonHttpClient::getJSONFromURLWithString(server.url("/q"), plain.block());
    ASSERT_TRUE(plain.wait());
    EXPECT_EQ(onlyRequest().target, "/q");
}

TEST_F(HTTPClientTest, FixedContentTypeAndHeadersGoOutWithCallHeadersWinning) {
    echo("POST", "/h");
    JsonHttpClient::setRequestContentType("application/vnd.test");
    JsonHttpClient::setRequestHeader("X-Shared", "shared");
    JsonHttpClient::setRequestHeader("X-Both", "shared");
    Reply reply;
    JsonHttpClient::JSONFromURLWithStringBodyString(server.url("/h"), "POST", Value(), std::string("{}"),
                                                    {{"X-Both", "call"}, {"X-Call", "call"}}, reply.block());
    ASSERT_TRUE(reply.wait());
    auto request = onlyRequest();
    EXPECT_EQ(request.header("Content-Type"), "application/vnd.test");
    EXPECT_EQ(request.header("X-Shared"), "shared");
    EXPECT_EQ(request.header("X-Both"), "call");
    EXPECT_EQ(request.header("X-Call"), "call");
    EXPECT_EQ(request.headers.all("X-Both").size(), 1u);
}

TEST_F(HTTPClientTest, BodyDataIsReadInTheDefaultTextEncoding) {
    echo("POST", "/latin");
    JsonHttpClient::setDefaultTextEncoding(NSISOLatin1StringEncoding);
    Reply reply;
    const char latin1[] = {'n', '=', static_cast<char>(0xE9)};
    JsonHttpClient::postJSONFromURLWithStringBodyData(server.url("/latin"), Data(latin1, sizeof latin1),
                                                      reply.block());
    ASSERT_TRUE(reply.wait());
    EXPECT_EQ(onlyRequest().body, "n=\xC3\xA9");
}

TEST_F(HTTPClientTest, CompletionRunsOnceOnTheMainThread) {
    echo("GET", "/once");
    Reply reply;
    JsonHttpClient::getJSONFromURLWithString(server.url("/once"), reply.block());
    ASSERT_TRUE(reply.wait());
    pumpMainLoopFor(std::chrono::milliseconds(50));
    EXPECT_EQ(reply.calls, 1);
    EXPECT_TRUE(reply.onMainThread);
}

TEST_F(HTTPClientTest, AbsentCompletionIsSkipped) {
    echo("GET", "/none");
    JsonHttpClient::getJSONFromURLWithString(server.url("/none"), JSONObjectBlock());
    ASSERT_TRUE(server.waitForRequests(1));
    pumpMainLoopFor(std::chrono::milliseconds(100));
    Reply after; // the client still works afterwards
    JsonHttpClient::getJSONFromURLWithString(server.url("/none"), after.block());
    ASSERT_TRUE(after.wait());
    EXPECT_FALSE(after.error);
}

TEST_F(HTTPClientTest, ErrorStatusKeepsTheParsedBodyResponseAndBytes) {
    echo("GET", "/missing", "{\"reason\":\"gone\"}", 404);
    Reply reply;
    JsonHttpClient::getJSONFromURLWithString(server.url("/missing"), reply.block());
    ASSERT_TRUE(reply.wait());
    EXPECT_EQ(reply.json, Value::dictionary({{"reason", "gone"}}));
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->domain(), MappedModelErrorDomain);
    EXPECT_EQ(reply.error->code(), MappedModelErrorBadResponse);
    auto response =
        std::dynamic_pointer_cast<platform::HTTPURLResponse>(MappedModelError::httpResponse(reply.error));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode(), 404);
    auto bytes = MappedModelError::responseData(reply.error);
    ASSERT_TRUE(bytes.isData());
    EXPECT_EQ(bytes.data()->toString(), "{\"reason\":\"gone\"}");
}

TEST_F(HTTPClientTest, ServerErrorWithoutJSONGivesBadResponseAndNoObject) {
    server.route("GET", "/boom", HttpResponse::text(500, "not json"));
    Reply reply;
    JsonHttpClient::getJSONFromURLWithString(server.url("/boom"), reply.block());
    ASSERT_TRUE(reply.wait());
    EXPECT_TRUE(reply.json.isNil());
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->code(), MappedModelErrorBadResponse);
}

TEST_F(HTTPClientTest, EmptySuccessfulReplyIsABadResponse) {
    server.route("GET", "/empty", HttpResponse::text(200, ""));
    Reply reply;
    JsonHttpClient::getJSONFromURLWithString(server.url("/empty"), reply.block());
    ASSERT_TRUE(reply.wait());
    EXPECT_TRUE(reply.json.isNil());
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->domain(), MappedModelErrorDomain);
    EXPECT_EQ(reply.error->code(), MappedModelErrorBadResponse);
}

TEST_F(HTTPClientTest, UnreadableSuccessfulReplyGivesTheReadersError) {
    server.route("GET", "/bad", HttpResponse::text(200, "{\"a\":", "application/json"));
    Reply reply;
    JsonHttpClient::getJSONFromURLWithString(server.url("/bad"), reply.block());
    ASSERT_TRUE(reply.wait());
    EXPECT_TRUE(reply.json.isNil());
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->domain(), platform::NSCocoaErrorDomain);
    EXPECT_EQ(reply.error->code(), platform::JSONSerialization::readCorruptErrorCode);
}

TEST_F(HTTPClientTest, TransportFailureKeepsItsDomainAndCode) {
    auto url = server.url("/gone");
    server.stop();
    Reply reply;
    JsonHttpClient::getJSONFromURLWithString(url, reply.block());
    ASSERT_TRUE(reply.wait());
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->domain(), platform::NSURLErrorDomain);
    EXPECT_EQ(reply.error->code(), platform::NSURLErrorCannotConnectToHost);
    EXPECT_TRUE(MappedModelError::isMappedModelError(reply.error));
    EXPECT_TRUE(reply.json.isNil());
}

TEST_F(HTTPClientTest, UnusableURLFailsAsABadURL) {
    Reply reply;
    JsonHttpClient::getJSONFromURLWithString("http://bad host/", reply.block());
    ASSERT_TRUE(reply.wait());
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->domain(), platform::NSURLErrorDomain);
    EXPECT_EQ(reply.error->code(), platform::NSURLErrorBadURL);
}

TEST_F(HTTPClientTest, RequestCoreHandsOverBytesOffTheMainThread) {
    server.route("PUT", "/raw", HttpResponse::text(201, "stored"));
    std::mutex mutex;
    bool done = false;
    std::optional<Data> received;
    ErrorPtr failure;
    JsonHttpClient::requestDataFromURL(platform::URL::create(server.url("/raw")), "PUT",
                                       Data(std::string_view("payload")), {},
                                       [&](std::optional<Data> data, ErrorPtr error) {
                                           std::lock_guard lock(mutex);
                                           received = std::move(data);
                                           failure = std::move(error);
                                           done = true;
                                       });
    ASSERT_TRUE(pumpMainLoopUntil([&] {
        std::lock_guard lock(mutex);
        return done;
    }));
    std::lock_guard lock(mutex);
    EXPECT_FALSE(failure);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->toString(), "stored");
    auto request = onlyRequest();
    EXPECT_EQ(request.body, "payload");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
}

TEST_F(HTTPClientTest, CachingPolicyIsHonouredAndDefaultsToReloading) {
    server.route("GET", "/cached", HttpResponse::json("{\"n\":1}").header("Cache-Control", "max-age=3600"));
    for (int i = 0; i < 2; ++i) {
        Reply reply;
        JsonHttpClient::getJSONFromURLWithString(server.url("/cached"), reply.block());
        ASSERT_TRUE(reply.wait());
    }
    EXPECT_EQ(server.requestCount(), 2u) << "the default policy ignores cached replies";

    JsonHttpClient::setCachingPolicy(platform::NSURLRequestReturnCacheDataElseLoad);
    Reply cached;
    JsonHttpClient::getJSONFromURLWithString(server.url("/cached"), cached.block());
    ASSERT_TRUE(cached.wait());
    EXPECT_EQ(cached.json, Value::dictionary({{"n", 1}}));
    EXPECT_EQ(server.requestCount(), 2u) << "served from the cache";
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

TEST(HTTPClientSettings, SettingsMayChangeWhileOtherThreadsReadThem) {
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
