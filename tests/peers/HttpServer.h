#pragma once
// A scriptable HTTP/1.1 server on the loopback interface, the peer of every test that talks HTTP. It
// listens on an ephemeral port from construction until stop() or destruction, answers each request
// from the routes the test scripted (404 when none matches), and records every request it received.
//
// Promises: each connection is served on its own thread, so a handler held on a gate never delays
// other connections. Routes, gates and the record may be used from any thread at any time.
// Connections stay open until the client closes them or a reply says "Connection: close"; stop()
// (and the destructor) opens every gate the server made, ends drips and body writers, closes every
// connection and the listening socket, and joins all of its threads before it returns. Replies go
// out as scripted: no compression, no range handling. Methods: GET, HEAD, POST, PUT, PATCH, DELETE,
// OPTIONS (others get 400). Not offered: TLS.
//
//     HttpServer server;
//     auto gate = server.makeGate();
//     server.route("GET", "/slow", replyAfter(gate, HttpResponse::text(200, "late")));
//     ... start the request, gate->waitForArrivals(1), time the client out, gate->open() ...

#include "tests/peers/HttpGate.h"
#include "tests/peers/HttpMessage.h"
#include "tests/peers/LoopbackPeer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace liveapp::test {

struct HttpServerOptions {
    std::string host{"127.0.0.1"}; // or "::1" (see ipv6LoopbackAvailable); nothing else
};

// Runs on the connection's thread; fills the response, which starts as an empty 200.
using HttpHandler = std::function<void(const HttpRequest&, HttpResponse&)>;

// What a test scripted for one endpoint of a peer: requests wait on `hold` when set, then take the
// one-time replies in order, then the standing one; none leaves the answer to the peer.
struct HttpScript {
    std::deque<HttpResponse> once;
    std::optional<HttpResponse> standing;
    std::shared_ptr<HttpGate> hold;

    std::optional<HttpResponse> next(); // under the peer's lock
};

class HttpServer {
public:
    explicit HttpServer(HttpServerOptions options = {}); // throws std::runtime_error if it cannot listen
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    uint16_t port() const { return m_port; }
    std::string baseURL() const;                          // "http://127.0.0.1:PORT", "http://[::1]:PORT"
    std::string url(std::string_view pathAndQuery) const; // baseURL() + pathAndQuery

    // The route added last wins among those that match, so a test can override a stub's route.
    // Paths match the request's path still percent-encoded, without the query. Method "*" matches
    // any method; a GET route also answers HEAD (the body is left out).
    void route(std::string method, std::string path, HttpHandler handler);
    void route(std::string method, std::string path, HttpResponse response);
    void routePrefix(std::string method, std::string prefix, HttpHandler handler);
    void routeRegex(std::string method, const std::string& pattern, HttpHandler handler); // whole path

    // A gate that this server's stop opens. Handlers wait only on gates made here: a gate nobody
    // opens would keep stop() waiting for the handler.
    std::shared_ptr<HttpGate> makeGate();

    // Requests in the order their handlers started (a request held on a gate is already recorded).
    std::vector<HttpRequest> requests() const;
    size_t requestCount() const;
    // Blocks the caller until `count` requests have arrived; false if the generous deadline passes.
    bool waitForRequests(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(60)) const;
    void clearRequests();

    void stop(); // idempotent

    static bool ipv6LoopbackAvailable() { return hasIPv6Loopback(); }

private:
    class Engine;
    struct Route {
        std::string method;
        enum class Kind { Exact, Prefix, Regex } kind{Kind::Exact};
        std::string path;
        std::regex pattern;
        HttpHandler handler;
    };

    void addRoute(Route route);
    HttpHandler handlerFor(const HttpRequest& request) const;
    void serve(const httplib::Request& in, httplib::Response& out);
    void record(const HttpRequest& request);

    std::string m_host;
    uint16_t m_port{0};
    // Opened by stop(); drips and body writers watch it.
    std::shared_ptr<HttpGate> m_stopSignal{std::make_shared<HttpGate>()};

    mutable std::mutex m_routesMutex;
    std::vector<Route> m_routes;

    mutable std::mutex m_requestsMutex;
    mutable std::condition_variable m_requestArrived;
    std::vector<HttpRequest> m_requests;

    std::mutex m_stateMutex;
    bool m_stopped{false};
    std::vector<std::weak_ptr<HttpGate>> m_gates;

    // Last, so that it is torn down first: its threads call back into the members above.
    std::unique_ptr<Engine> m_engine;
};

} // namespace liveapp::test
