#include "tests/peers/HttpServer.h"

#include "tests/support/HttpReplies.h"

#include <atomic>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>

using namespace liveapp::test;

namespace {

// A bare client for checking what goes over the wire, which a real client would hide (chunk framing,
// encodings): connects, sends `request`, and reads until the text holds `marker` or, with none, until
// the server closes (a server that keeps the connection open fails the test).
std::string talk(RawPeer& peer, std::string_view request, std::string_view marker = {}) {
    if (!request.empty()) {
        EXPECT_TRUE(peer.sendAll(request));
    }
    std::string received;
    while (marker.empty() || received.find(marker) == std::string::npos) {
        std::string piece = peer.receiveSome(std::chrono::seconds(60));
        if (piece.empty())
            break;
        received += piece;
    }
    if (marker.empty()) {
        EXPECT_TRUE(peer.waitForEndOfStream(std::chrono::seconds(0))) << "the server did not close";
    }
    return received;
}

std::unique_ptr<RawPeer> connectTo(const HttpServer& server) {
    auto peer = RawPeer::connectTo(AF_INET, server.port());
    EXPECT_TRUE(peer);
    return peer;
}

std::string get(const HttpServer& server, const std::string& path, bool close = true) {
    return talk(*connectTo(server), "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n" +
                                        (close ? "Connection: close\r\n\r\n" : "\r\n"));
}

std::string bodyOf(const std::string& reply) {
    size_t end = reply.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

} // namespace

// The server's own checks are the ones whose faults could make other tests pass wrongly (what they
// parse from requests, the framing they write); faults elsewhere fail the tests that use the server.
TEST(HttpServerMessages, HeaderLookupIgnoresCaseAndKeepsEveryValue) {
    HttpHeaders headers;
    headers.add("Set-Cookie", "a=1");
    headers.add("set-cookie", "b=2");
    headers.add("Content-Type", "text/plain");
    EXPECT_EQ(headers.get("SET-COOKIE"), "a=1");
    EXPECT_EQ(headers.all("Set-Cookie"), (std::vector<std::string>{"a=1", "b=2"}));
    headers.set("SET-cookie", "c=3");
    EXPECT_EQ(headers.all("set-cookie"), (std::vector<std::string>{"c=3"}));
    EXPECT_FALSE(headers.has("Content-Length"));
}

TEST(HttpServerMessages, QueryItemsAndCookiesAreDecoded) {
    HttpRequest request;
    request.query = "q=a+b%20c&empty=&flag&bad=%zz&&x=%41";
    EXPECT_EQ(request.queryItems(),
              (std::vector<std::pair<std::string, std::string>>{
                  {"q", "a b c"}, {"empty", ""}, {"flag", ""}, {"bad", "%zz"}, {"x", "A"}}));
    EXPECT_EQ(request.queryValue("x"), "A");
    EXPECT_EQ(request.queryValue("missing"), std::nullopt);

    request.headers.add("Cookie", "session=abc; theme = dark ;broken");
    EXPECT_EQ(request.cookies(), (std::map<std::string, std::string>{{"session", "abc"}, {"theme", "dark"}}));
}

TEST(HttpServerMessages, PatternBytesDependOnTheAbsoluteOffset) {
    std::string whole = patternBytes(0, 200'000);
    EXPECT_EQ(patternBytes(70'000, 100), whole.substr(70'000, 100));
    EXPECT_NE(patternBytes(65'536, 100), whole.substr(0, 100));
}

TEST(HttpServerRouting, UnmatchedRequestsGet404AndTheLatestMatchingRouteWins) {
    HttpServer server;
    server.routePrefix("*", "/images/",
                       [](const HttpRequest&, HttpResponse& r) { r = HttpResponse::text(200, "prefix"); });
    server.routeRegex("GET", "/images/[0-9]+\\.png",
                      [](const HttpRequest&, HttpResponse& r) { r = HttpResponse::text(200, "regex"); });
    server.route("POST", "/echo", [](const HttpRequest& request, HttpResponse& r) {
        r = HttpResponse::text(200, request.body);
    });

    httplib::Client client("127.0.0.1", server.port());
    EXPECT_EQ(client.Get("/images/12.png")->body, "regex");
    EXPECT_EQ(client.Get("/images/a.png")->body, "prefix");
    EXPECT_EQ(client.Delete("/images/12.png")->body, "prefix");
    EXPECT_EQ(client.Post("/echo", "payload", "text/plain")->body, "payload");
    EXPECT_EQ(client.Get("/echo")->status, 404);
    EXPECT_EQ(client.Get("/nothing")->status, 404);

    server.route("GET", "/images/12.png", HttpResponse::text(200, "override"));
    EXPECT_EQ(client.Get("/images/12.png")->body, "override");
}

TEST(HttpServerReplies, ChunkedReplySendsEachPieceAsOneChunk) {
    HttpServer server;
    server.route("GET", "/chunks", HttpResponse::chunked({"hello", "", " chunked world"}));
    std::string reply = get(server, "/chunks");
    EXPECT_NE(reply.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << reply;
    EXPECT_EQ(reply.find("Content-Length"), std::string::npos) << reply;
    EXPECT_EQ(bodyOf(reply), "5\r\nhello\r\ne\r\n chunked world\r\n0\r\n\r\n");
}

TEST(HttpServerReplies, WriterThatGivesUpLeavesTheBodyTruncated) {
    HttpServer server;
    HttpResponse response;
    response.bodyWriter = [](HttpBodySink& sink) { return sink.write("partial") && false; };
    server.route("GET", "/cut", response);
    // The server closes: no keep-alive after a cut body.
    EXPECT_EQ(bodyOf(get(server, "/cut", false)), "7\r\npartial\r\n");

    response.contentLength = 100;
    server.route("GET", "/short", response);
    httplib::Client client("127.0.0.1", server.port());
    EXPECT_FALSE(client.Get("/short"));
}

TEST(HttpServerReplies, FramingHeadersAreTheServersOwn) {
    HttpServer server;
    server.route("GET", "/304", [](const HttpRequest&, HttpResponse& response) {
        response.status = 304;
        response.headers.add("ETag", "\"x\"");
    });
    server.route("GET", "/204", [](const HttpRequest&, HttpResponse& response) { response.status = 204; });
    server.route("GET", "/lying", HttpResponse::text(200, "abc").header("Content-Length", "10"));
    server.route("GET", "/bye", HttpResponse::text(200, "bye").header("Connection", "close"));

    for (const char* path : {"/304", "/204"})
        EXPECT_EQ(get(server, path).find("Content-Length"), std::string::npos) << path;
    std::string reply = get(server, "/lying");
    EXPECT_NE(reply.find("Content-Length: 3\r\n"), std::string::npos) << reply;
    EXPECT_EQ(reply.find("Content-Length: 10"), std::string::npos) << reply;
    EXPECT_EQ(bodyOf(get(server, "/bye", false)), "bye");
}

TEST(HttpServerGates, BodyHeldMidwayResumesWhenOpened) {
    HttpServer server;
    auto gate = server.makeGate();
    server.route("GET", "/held", bodyHeldAt(gate, "first half|second half", 11, false));
    auto connection = connectTo(server);
    std::string early =
        talk(*connection, "GET /held HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n", "half|");
    EXPECT_NE(early.find("Content-Length: 22\r\n"), std::string::npos) << early;
    ASSERT_TRUE(gate->waitForArrivals(1));
    EXPECT_EQ(bodyOf(early), "first half|");
    gate->open();
    EXPECT_EQ(talk(*connection, ""), "second half");
}

TEST(HttpServerGates, StopWhileARequestIsGatedReleasesItAndReturns) {
    auto server = std::make_unique<HttpServer>();
    auto gate = server->makeGate();
    std::atomic<int> released{-1};
    server->route("GET", "/gated", [&](const HttpRequest&, HttpResponse& response) {
        released = gate->wait() ? 1 : 0;
        response = HttpResponse::text(503, "stopping");
    });
    uint16_t port = server->port();
    std::thread client([port] {
        httplib::Client client("127.0.0.1", port);
        client.Get("/gated"); // any outcome will do, as long as it comes
    });
    ASSERT_TRUE(gate->waitForArrivals(1));
    server->stop();
    EXPECT_EQ(released, 0);
    EXPECT_TRUE(gate->isOpen());
    client.join();
    server.reset();
    EXPECT_TRUE(gate->isOpen());
}

TEST(HttpServerGates, StopEndsADripOrStalledReplyClosesIdleConnectionsAndOpensLaterGates) {
    HttpServer server;
    server.route("GET", "/drip", HttpResponse::drip({"a", "b"}, std::chrono::hours(1)));
    server.route("GET", "/a", HttpResponse::text(200, "a"));
    const uint64_t size = 64 * 1024 * 1024;
    server.route("GET", "/huge", HttpResponse::patterned(size, false));

    auto drip = connectTo(server), idle = connectTo(server), halfSent = connectTo(server);
    auto stalled = connectTo(server); // never reads until the server has stopped
    talk(*drip, "GET /drip HTTP/1.1\r\nHost: localhost\r\n\r\n", "1\r\na\r\n");
    talk(*idle, "GET /a HTTP/1.1\r\nHost: localhost\r\n\r\n", "\r\n\r\na");
    halfSent->sendAll("GET /a HTTP/1.1\r\nHost: loc");
    stalled->sendAll("GET /huge HTTP/1.1\r\nHost: localhost\r\n\r\n");
    ASSERT_TRUE(server.waitForRequests(3));

    server.stop();
    EXPECT_EQ(talk(*drip, ""), "");
    EXPECT_EQ(talk(*idle, ""), "");
    EXPECT_EQ(talk(*halfSent, ""), "");
    EXPECT_LT(talk(*stalled, "").size(), size);
    EXPECT_FALSE(RawPeer::connectTo(AF_INET, server.port()));
    EXPECT_TRUE(server.makeGate()->isOpen());
    EXPECT_FALSE(server.makeGate()->wait());
}

TEST(HttpServerListening, ServesOnIpv6LoopbackWhenAvailable) {
    if (!HttpServer::ipv6LoopbackAvailable())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    HttpServer server(HttpServerOptions{.host = "::1"});
    server.route("GET", "/v6", HttpResponse::text(200, "six"));
    EXPECT_EQ(server.baseURL(), "http://[::1]:" + std::to_string(server.port()));
    httplib::Client client("::1", server.port());
    auto result = client.Get("/v6");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->body, "six");
    EXPECT_EQ(server.requests().at(0).remoteAddress, "::1");
}
