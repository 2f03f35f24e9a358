// Data tasks with completion handlers against the loopback test server: what goes out on the wire
// (method, header fields, body) and what comes back (status, fields, body, expected length).

#include "platform/dispatch/DispatchQueue.h"
#include "tests/platform/net/URLSessionTestSupport.h"
#include "tests/support/HttpReplies.h"
#include "tests/support/MainLoop.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

class URLSessionDataTaskTest : public testing::Test {
protected:
    URLSessionPtr session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    HttpServer server;
};

TEST_F(URLSessionDataTaskTest, GetDeliversStatusHeaderFieldsAndBody) {
    server.route("GET", "/hello", HttpResponse::text(200, "hello there").header("X-Reply", "yes"));
    Completion done;
    session->dataTaskWithURL(url(server, "/hello?x=1"), done.handler())->resume();
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.errorCode(), 0);
    EXPECT_EQ(done.status(), 200);
    EXPECT_EQ(done.body(), "hello there");
    auto http = std::dynamic_pointer_cast<HTTPURLResponse>(done.response);
    ASSERT_TRUE(http);
    EXPECT_EQ(http->valueForHTTPHeaderField("x-reply"), "yes");
    EXPECT_EQ(http->MIMEType(), "text/plain");
    EXPECT_EQ(http->textEncodingName(), "utf-8");
    EXPECT_EQ(http->expectedContentLength(), 11);
    EXPECT_EQ(http->URL()->absoluteString(), server.url("/hello?x=1"));
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/hello?x=1");
}

// What a task counts as sent: the whole body of a request that has one, nothing for one without.
TEST_F(URLSessionDataTaskTest, CountsTheBodySentAndNothingForARequestWithoutOne) {
    server.route("*", "/count", HttpResponse::text(200, "counted"));
    struct Case {
        std::string method;
        std::optional<std::string> body;
        int64_t sent;
    };
    const std::vector<Case> cases{
        {"POST", std::string(100000, 'b'), 100000},
        {"PUT", "short", 5},
        {"GET", std::nullopt, 0},
        {"DELETE", std::nullopt, 0},
    };
    for (const auto& c : cases) {
        MutableURLRequest request(url(server, "/count"));
        request.setHTTPMethod(c.method);
        if (c.body)
            request.setHTTPBody(Data(*c.body));
        Completion done;
        auto task = session->dataTaskWithRequest(request, done.handler());
        task->resume();
        ASSERT_TRUE(done.wait()) << c.method;
        EXPECT_EQ(done.errorCode(), 0) << c.method;
        EXPECT_EQ(task->countOfBytesSent(), c.sent) << c.method;
        EXPECT_EQ(task->countOfBytesExpectedToSend(), c.sent) << c.method;
    }
}

TEST_F(URLSessionDataTaskTest, PostSendsMethodBodyAndFieldsInTheCallersSpelling) {
    HttpRequest seen;
    std::mutex mutex;
    server.route("POST", "/api", [&](const HttpRequest& request, HttpResponse& response) {
        std::lock_guard lock(mutex);
        seen = request;
        response = HttpResponse::json("{\"ok\":true}");
    });
    MutableURLRequest request(url(server, "/api"));
    request.setHTTPMethod("POST");
    request.setValue("application/json", "Content-Type");
    request.setValue("application/json", "Accept");
    request.setValue("999", "Content-Length"); // the true length goes out whatever the caller says
    request.setValue("first", "X-Custom-Field");
    request.setValue("second", "x-custom-field"); // one field: the later value, the first spelling
    request.setHTTPBody(Data(std::string_view("{\"m\":\"login\"}")));
    Completion done;
    session->dataTaskWithRequest(request, done.handler())->resume();
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.status(), 200);
    EXPECT_EQ(done.body(), "{\"ok\":true}");
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.body, "{\"m\":\"login\"}");
    EXPECT_EQ(seen.header("Content-Type"), "application/json");
    EXPECT_EQ(seen.header("Content-Length"), "13");
    EXPECT_EQ(seen.headers.all("X-Custom-Field"), std::vector<std::string>{"second"});
    EXPECT_FALSE(seen.header("Expect"));
}

// One after the other, so each request goes out on the transfer state the previous one left behind.
TEST_F(URLSessionDataTaskTest, NothingOfOneRequestCarriesOverToTheNext) {
    server.route("*", "/any", [](const HttpRequest& request, HttpResponse& response) {
        response = HttpResponse::text(200, request.method + ":" + request.body);
    });
    auto send = [&](const std::string& method, std::optional<std::string> body, bool marked) {
        MutableURLRequest request(url(server, "/any"));
        request.setHTTPMethod(method);
        if (body)
            request.setHTTPBody(Data(std::string_view(*body)));
        if (marked)
            request.setValue("yes", "X-Marked");
        Completion done;
        session->dataTaskWithRequest(request, done.handler())->resume();
        EXPECT_TRUE(done.wait());
        return done.body();
    };
    EXPECT_EQ(send("HEAD", std::nullopt, true), "");
    EXPECT_EQ(send("GET", std::nullopt, false), "GET:");
    EXPECT_EQ(send("DELETE", std::string("gone"), true), "DELETE:gone");
    EXPECT_EQ(send("GET", std::nullopt, false), "GET:");
    EXPECT_EQ(send("POST", std::string("form"), false), "POST:form");
    EXPECT_EQ(send("GET", std::nullopt, false), "GET:");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 6u);
    for (size_t index : {1u, 3u, 5u}) {
        EXPECT_FALSE(requests[index].header("X-Marked")) << index;
        EXPECT_FALSE(requests[index].header("Content-Length")) << index;
    }
}

TEST_F(URLSessionDataTaskTest, ErrorStatusesChunksAndEmptyBodiesAreReplies) {
    server.route("GET", "/missing", HttpResponse::text(404, "no such thing"));
    server.route("GET", "/broken", HttpResponse::json("{\"error\":1}", 500));
    server.route("GET", "/chunks", HttpResponse::chunked({"one ", "two ", "three"}));
    server.route("GET", "/empty", HttpResponse::text(200, ""));
    const std::tuple<std::string, int64_t, std::string, int64_t> cases[] = {
        {"/missing", 404, "no such thing", 13},
        {"/broken", 500, "{\"error\":1}", 11},
        {"/chunks", 200, "one two three", NSURLResponseUnknownLength},
        {"/empty", 200, "", 0},
    };
    for (const auto& [path, status, body, length] : cases) {
        SCOPED_TRACE(path);
        Completion done;
        session->dataTaskWithURL(url(server, path), done.handler())->resume();
        ASSERT_TRUE(done.wait());
        EXPECT_EQ(done.errorCode(), 0);
        EXPECT_EQ(done.status(), status);
        ASSERT_TRUE(done.data.has_value()); // an empty body is empty data, not none
        EXPECT_EQ(done.body(), body);
        EXPECT_EQ(done.response->expectedContentLength(), length);
    }
}

TEST_F(URLSessionDataTaskTest, ConfigurationHeadersGoOutAndRequestFieldsWin) {
    auto configuration = isolatedConfiguration();
    configuration.setHTTPAdditionalHeaders({{"X-App", "live"}, {"Accept", "text/plain"}});
    auto configured = URLSession::sessionWithConfiguration(configuration);
    server.route("GET", "/h", HttpResponse::text(200, "ok"));
    MutableURLRequest request(url(server, "/h"));
    request.setValue("application/json", "accept");
    Completion done;
    configured->dataTaskWithRequest(request, done.handler())->resume();
    ASSERT_TRUE(done.wait());
    auto seen = server.requests().at(0);
    EXPECT_EQ(seen.header("X-App"), "live");
    EXPECT_EQ(seen.headers.all("Accept"), std::vector<std::string>{"application/json"});
    EXPECT_TRUE(seen.header("User-Agent"));
}

// "hello, decoded body", gzip-compressed.
constexpr unsigned char kGzipBody[] = {0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x03,
                                       0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0xd7, 0x51, 0x48, 0x49, 0x4d,
                                       0xce, 0x4f, 0x49, 0x4d, 0x51, 0x48, 0xca, 0x4f, 0xa9, 0x04,
                                       0x00, 0xe1, 0x45, 0x69, 0x17, 0x13, 0x00, 0x00, 0x00};

// In this order on one kept connection, so a field of one request must not stay for the next.
TEST_F(URLSessionDataTaskTest, EachRequestOffersOneAgentAndTheEncodingsDecodedUnlessItNamesItsOwn) {
    auto configuration = isolatedConfiguration();
    configuration.setHTTPAdditionalHeaders({{"user-agent", "app/2"}});
    auto configured = URLSession::sessionWithConfiguration(configuration);
    server.route("*", "/z",
                 HttpResponse::text(200, std::string(std::begin(kGzipBody), std::end(kGzipBody)))
                     .header("Content-Encoding", "gzip"));
    using Field = std::optional<std::pair<std::string, std::string>>;
    struct Case {
        URLSessionPtr session;
        std::string method;
        Field field;
        std::optional<std::string> agent;    // nullopt: the default agent
        std::optional<std::string> encoding; // nullopt: the encodings decoded
    };
    const Field ownAgent = std::pair<std::string, std::string>{"User-Agent", "probe/1"};
    const Case cases[] = {
        {session, "GET", std::nullopt, std::nullopt, std::nullopt},
        {session, "GET", ownAgent, "probe/1", std::nullopt},
        {session, "GET", std::nullopt, std::nullopt, std::nullopt},
        {session, "HEAD", std::nullopt, std::nullopt, std::nullopt},
        {session, "POST", std::nullopt, std::nullopt, std::nullopt},
        {configured, "GET", std::nullopt, "app/2", std::nullopt},
        {configured, "GET", ownAgent, "probe/1", std::nullopt},
        {session, "DELETE", std::nullopt, std::nullopt, std::nullopt},
        {session, "GET", std::pair<std::string, std::string>{"Accept-Encoding", "gzip"}, std::nullopt,
         "gzip"},
        {session, "GET", std::pair<std::string, std::string>{"X-Probe", "1"}, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        MutableURLRequest request(url(server, "/z"));
        request.setHTTPMethod(c.method);
        if (c.field)
            request.setValue(c.field->second, c.field->first);
        Completion done;
        c.session->dataTaskWithRequest(request, done.handler())->resume();
        ASSERT_TRUE(done.wait());
        EXPECT_EQ(done.body(), c.method == "HEAD" ? "" : "hello, decoded body") << c.method;
    }
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (size_t index = 0; index < std::size(cases); ++index) {
        SCOPED_TRACE(index);
        const auto& seen = requests[index];
        auto agents = seen.headers.all("User-Agent");
        auto encodings = seen.headers.all("Accept-Encoding");
        ASSERT_EQ(agents.size(), 1u);
        ASSERT_EQ(encodings.size(), 1u);
        if (cases[index].agent)
            EXPECT_EQ(agents[0], *cases[index].agent);
        else
            EXPECT_TRUE(agents[0].ends_with(" URLSession")) << agents[0];
        if (cases[index].encoding)
            EXPECT_EQ(encodings[0], *cases[index].encoding);
        else
            EXPECT_TRUE(encodings[0].find("gzip") != std::string::npos &&
                        encodings[0].find("deflate") != std::string::npos)
                << encodings[0];
        EXPECT_FALSE(seen.header("Expect"));
    }
}

TEST_F(URLSessionDataTaskTest, FieldsThatCouldSplitTheRequestAreNotSent) {
    server.route("GET", "/h", HttpResponse::text(200, "ok"));
    MutableURLRequest request(url(server, "/h"));
    request.setValue("a\r\nX-Injected: 1", "X-Evil");
    request.setValue("fine", "X-Good");
    Completion done;
    session->dataTaskWithRequest(request, done.handler())->resume();
    ASSERT_TRUE(done.wait());
    auto seen = server.requests().at(0);
    EXPECT_FALSE(seen.header("X-Evil"));
    EXPECT_FALSE(seen.header("X-Injected"));
    EXPECT_EQ(seen.header("X-Good"), "fine");
}

TEST_F(URLSessionDataTaskTest, CompletionRunsOnTheChosenQueueInOrder) {
    server.route("GET", "/q", HttpResponse::text(200, "ok"));
    auto mainSession =
        URLSession::sessionWithConfiguration(isolatedConfiguration(), nullptr, DispatchQueue::main());
    Completion done;
    mainSession->dataTaskWithURL(url(server, "/q"), done.handler())->resume();
    ASSERT_TRUE(pumpMainLoopUntil([&] {
        std::lock_guard lock(done.mutex);
        return done.calls > 0;
    }));
    EXPECT_TRUE(done.onMainThread);
    EXPECT_EQ(done.body(), "ok");
}

TEST_F(URLSessionDataTaskTest, ManyTasksRunSideBySideAndEachGetsItsOwnReply) {
    server.routePrefix("GET", "/n/", [](const HttpRequest& request, HttpResponse& response) {
        response = HttpResponse::text(200, "reply " + request.path.substr(3));
    });
    std::vector<std::unique_ptr<Completion>> done;
    for (int i = 0; i < 20; ++i) {
        done.push_back(std::make_unique<Completion>());
        session->dataTaskWithURL(url(server, "/n/" + std::to_string(i)), done.back()->handler())->resume();
    }
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(done[i]->wait());
        EXPECT_EQ(done[i]->body(), "reply " + std::to_string(i));
    }
}

TEST_F(URLSessionDataTaskTest, TaskStateAndCountsFollowTheTransfer) {
    server.route("GET", "/c", HttpResponse::text(200, "12345"));
    Completion done;
    auto task = session->dataTaskWithURL(url(server, "/c"), done.handler());
    EXPECT_EQ(task->state(), NSURLSessionTaskStateSuspended);
    task->resume();
    ASSERT_TRUE(done.wait());
    ASSERT_TRUE(waitUntil([&] { return task->state() == NSURLSessionTaskStateCompleted; }));
    EXPECT_EQ(task->countOfBytesReceived(), 5);
    EXPECT_EQ(task->countOfBytesExpectedToReceive(), 5);
    EXPECT_EQ(task->response(), done.response);
    EXPECT_FALSE(task->error());
}

TEST_F(URLSessionDataTaskTest, SynchronousRequestBlocksUntilTheReply) {
    server.route("POST", "/sync", [](const HttpRequest& request, HttpResponse& response) {
        response = HttpResponse::text(200, "got " + request.body, "application/thrift");
    });
    MutableURLRequest request(url(server, "/sync"));
    request.setHTTPMethod("POST");
    request.setHTTPBody(Data(std::string_view("envelope")));
    URLResponsePtr response;
    ErrorPtr error;
    auto data = URLSession::sendSynchronousRequest(request, &response, &error);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->toString(), "got envelope");
    EXPECT_FALSE(error);
    auto http = std::dynamic_pointer_cast<HTTPURLResponse>(response);
    ASSERT_TRUE(http);
    EXPECT_EQ(http->valueForHTTPHeaderField("Content-Type"), "application/thrift");
}

TEST_F(URLSessionDataTaskTest, LargeBodyArrivesIntactThroughACompletionHandler) {
    const uint64_t size = 3 * 1024 * 1024 + 17;
    server.route("GET", "/big", HttpResponse::patterned(size, false));
    Completion done;
    session->dataTaskWithURL(url(server, "/big"), done.handler())->resume();
    ASSERT_TRUE(done.wait(std::chrono::seconds(60)));
    ASSERT_TRUE(done.data);
    EXPECT_EQ(done.data->length(), size);
    EXPECT_TRUE(done.data->view() == patternBytes(0, size));
}

} // namespace
