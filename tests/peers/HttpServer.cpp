#include "tests/peers/HttpServer.h"

#include "platform/foundation/FileDescriptor.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <httplib.h>
#include <list>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace liveapp::test {

namespace {

std::string addressText(const sockaddr_storage& address, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    } else {
        auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    }
    return text;
}

// One accepted connection as the HTTP layer reads and writes it. Every wait also watches the
// server's stop descriptor, so stopping interrupts idle keep-alive connections, half-sent requests
// and clients that stopped reading, at once rather than after some time-out.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, int stopFd)
        : m_fd(fd)
        , m_stopFd(stopFd) {}

    // Whether another request may follow: bytes already buffered, or the socket became readable
    // (which includes the client closing it). False once the server stops.
    bool awaitRequest() const { return m_begin < m_end || awaitReady(POLLIN); }

    bool is_readable() const override { return awaitRequest(); }
    bool is_writable() const override { return awaitReady(POLLOUT); }

    ssize_t read(char* ptr, size_t size) override {
        if (m_begin == m_end) {
            if (!awaitReady(POLLIN))
                return -1;
            ssize_t count;
            do {
                count = ::recv(m_fd, m_buffer, sizeof m_buffer, 0);
            } while (count < 0 && errno == EINTR);
            if (count <= 0)
                return count;
            m_begin = 0;
            m_end = size_t(count);
        }
        // The parser reads request lines a byte at a time; the buffer keeps that off the socket.
        size_t count = std::min(size, m_end - m_begin);
        std::memcpy(ptr, m_buffer + m_begin, count);
        m_begin += count;
        return ssize_t(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!awaitReady(POLLOUT))
            return -1;
        ssize_t count;
        do {
            count = ::send(m_fd, ptr, size, MSG_NOSIGNAL);
        } while (count < 0 && errno == EINTR);
        return count;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        ip = addressText(address, port);
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        ip = addressText(address, port);
    }

    socket_t socket() const override { return m_fd; }

private:
    // True when the socket is ready for `events` or in error (the next call reports it).
    bool awaitReady(short events) const {
        pollfd fds[2] = {{m_fd, events, 0}, {m_stopFd, POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0) {
            if (errno != EINTR)
                return false;
        }
        return !(fds[1].revents & POLLIN);
    }

    int m_fd;
    int m_stopFd;
    char m_buffer[16 * 1024];
    size_t m_begin{0};
    size_t m_end{0};
};

// Set on the connection's thread while a reply goes out: the library reports a close that the
// request asked for, not one the scripted reply asked for.
thread_local bool t_closeAfterReply = false;

// One thread per connection instead of a pool: a test may hold any number of requests on gates,
// and none of them may keep another connection waiting for a free worker.
class ConnectionThreads {
public:
    ~ConnectionThreads() { joinAll(); }

    void start(std::function<void()> task) {
        std::lock_guard lock(m_mutex);
        reapFinished();
        auto finished = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([task = std::move(task), finished] {
            task();
            finished->store(true);
        });
        m_threads.push_back({std::move(thread), std::move(finished)});
    }

    void joinAll() {
        std::list<Connection> threads;
        {
            std::lock_guard lock(m_mutex);
            threads.swap(m_threads);
        }
        for (Connection& connection : threads)
            connection.thread.join();
    }

private:
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    void reapFinished() {
        for (auto it = m_threads.begin(); it != m_threads.end();) {
            if (it->finished->load()) {
                it->thread.join();
                it = m_threads.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex m_mutex;
    std::list<Connection> m_threads;
};

} // namespace

// The listening socket, the accept thread and the connections are ours; the HTTP library parses
// requests, routes them to HttpServer::serve and writes the replies, one request at a time through
// its per-request entry point. Its own listening loop is not used: it can only be stopped by waiting
// out its keep-alive and read time-outs, seconds for every test that leaves a connection open.
class HttpServer::Engine final : public httplib::Server {
public:
    Engine(const std::string& host, const httplib::Server::Handler& serve) {
        const std::string anyPath = R"([\s\S]*)"; // '.' would miss a decoded newline in the path
        Get(anyPath, serve);
        Post(anyPath, serve);
        Put(anyPath, serve);
        Patch(anyPath, serve);
        Delete(anyPath, serve);
        Options(anyPath, serve);
        set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
            t_closeAfterReply = strcasecmp(response.get_header_value("Connection").c_str(), "close") == 0;
            // No idle or request-count limits are enforced here, so none are announced.
            response.headers.erase("Keep-Alive");
            // The library sends "Content-Length: 0" with every empty reply; replies that have no
            // body by definition must not carry one (a cache would take it for the entity's length).
            if (response.status == 204 || response.status == 304 || response.status < 200)
                response.headers.erase("Content-Length");
        });
        bindListeningSocket(host);
        m_acceptThread = std::thread([this] { acceptConnections(); });
    }

    ~Engine() override { stopServing(); }

    uint16_t port() const { return m_port; }

    void stopServing() {
        if (!m_acceptThread.joinable())
            return;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(m_stopFd.get(), &one, sizeof one);
        // Body providers of the library end their loops when the server socket is gone.
        svr_sock_ = INVALID_SOCKET;
        m_acceptThread.join();
        // Refused from now on, rather than accepted into a backlog no one serves.
        m_listener.reset();
        m_connections.joinAll();
    }

private:
    void bindListeningSocket(const std::string& host) {
        if (host != "127.0.0.1" && host != "::1")
            throw std::runtime_error("HttpServer: not a loopback address: " + host);
        m_listener = RawListener::create(host == "::1" ? AF_INET6 : AF_INET, SOMAXCONN);
        if (!m_listener)
            throw std::runtime_error("HttpServer: cannot listen on " + host + ": " + std::strerror(errno));
        if (m_stopFd.get() < 0)
            throw std::runtime_error("HttpServer: no eventfd");
        m_port = m_listener->port();
        svr_sock_ = m_listener->fd();
    }

    void acceptConnections() {
        for (;;) {
            pollfd fds[2] = {{m_listener->fd(), POLLIN, 0}, {m_stopFd.get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (fds[1].revents & POLLIN)
                return;
            if (!(fds[0].revents & POLLIN))
                continue;
            int fd = ::accept4(m_listener->fd(), nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            // Drips are meant to arrive piece by piece, not coalesced.
            int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_connections.start([this, fd] { serveConnection(fd); });
        }
    }

    void serveConnection(int fd) {
        platform::FileDescriptor connection(fd);
        ConnectionStream stream(fd, m_stopFd.get());
        // Kept alive for as long as the client wants: no request count or idle limit, since the
        // server's stop ends every connection anyway.
        while (stream.awaitRequest()) {
            bool closed = false;
            t_closeAfterReply = false;
            if (!process_request(stream, false, closed, [](httplib::Request&) {}) || closed ||
                t_closeAfterReply)
                break;
        }
    }

    uint16_t m_port{0};
    std::unique_ptr<RawListener> m_listener;
    platform::FileDescriptor m_stopFd{::eventfd(0, EFD_CLOEXEC)};
    std::thread m_acceptThread;
    ConnectionThreads m_connections;
};

namespace {

HttpRequest requestFrom(const httplib::Request& in) {
    HttpRequest request;
    request.method = in.method;
    request.target = in.target;
    size_t question = in.target.find('?');
    request.path = in.target.substr(0, question);
    if (question != std::string::npos)
        request.query = in.target.substr(question + 1);
    request.version = in.version;
    for (const auto& [name, value] : in.headers) {
        // The library files the connection's addresses among the headers; they were never sent.
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
            request.headers.add(name, value);
    }
    request.body = in.body;
    request.remoteAddress = in.remote_addr;
    request.remotePort = in.remote_port;
    return request;
}

bool methodMatches(const std::string& routeMethod, const std::string& requestMethod) {
    return routeMethod == "*" || routeMethod == requestMethod ||
           (routeMethod == "GET" && requestMethod == "HEAD");
}

void writeResponse(HttpResponse response, httplib::Response& out,
                   const std::shared_ptr<HttpGate>& stopSignal) {
    out.status = response.status;
    // The body is framed here, from `body` or the writer; scripted framing headers would go out
    // next to the real ones.
    response.headers.remove("Content-Length");
    response.headers.remove("Transfer-Encoding");
    if (!response.bodyWriter) {
        for (const auto& [name, value] : response.headers)
            out.headers.emplace(name, value);
        out.body = std::move(response.body);
        return;
    }

    // The content providers add Content-Type themselves; passing it on as well would send it twice.
    std::string contentType = response.headers.get("Content-Type").value_or("application/octet-stream");
    for (const auto& [name, value] : response.headers) {
        if (strcasecmp(name.c_str(), "Content-Type") != 0)
            out.headers.emplace(name, value);
    }
    // The library takes a provider of length zero for one of unknown length; nothing to write anyway.
    if (response.contentLength == 0u) {
        out.headers.emplace("Content-Type", contentType);
        return;
    }

    auto writer = std::make_shared<HttpBodyWriter>(std::move(response.bodyWriter));
    if (response.contentLength) {
        // The provider is called again while fewer bytes than promised have gone out; by then the
        // writer has had its one turn, so the connection is dropped short, as the writer chose.
        auto called = std::make_shared<bool>(false);
        out.set_content_provider(
            *response.contentLength, contentType,
            [writer, stopSignal, called](size_t, size_t, httplib::DataSink& sink) {
                if (*called)
                    return false;
                *called = true;
                HttpBodySink body(
                    [&sink](std::string_view piece) { return sink.write(piece.data(), piece.size()); },
                    stopSignal);
                return (*writer)(body);
            });
        return;
    }
    out.set_chunked_content_provider(contentType, [writer, stopSignal](size_t, httplib::DataSink& sink) {
        HttpBodySink body([&sink](std::string_view piece) { return sink.write(piece.data(), piece.size()); },
                          stopSignal);
        if (!(*writer)(body))
            return false;
        sink.done();
        return true;
    });
}

} // namespace

HttpServer::HttpServer(HttpServerOptions options)
    : m_host(std::move(options.host)) {
    m_engine = std::make_unique<Engine>(
        m_host, [this](const httplib::Request& in, httplib::Response& out) { serve(in, out); });
    m_port = m_engine->port();
}

HttpServer::~HttpServer() {
    stop();
}

void HttpServer::stop() {
    std::vector<std::weak_ptr<HttpGate>> gates;
    {
        std::lock_guard lock(m_stateMutex);
        if (m_stopped)
            return;
        m_stopped = true;
        gates.swap(m_gates);
    }
    // Handlers and body writers are let go first: the engine joins its connections as it stops.
    m_stopSignal->openForStop();
    for (auto& weakGate : gates) {
        if (auto gate = weakGate.lock())
            gate->openForStop();
    }
    m_engine->stopServing();
}

std::string HttpServer::baseURL() const {
    std::string host = m_host.find(':') != std::string::npos ? "[" + m_host + "]" : m_host;
    return "http://" + host + ":" + std::to_string(m_port);
}

std::string HttpServer::url(std::string_view pathAndQuery) const {
    return baseURL() + std::string(pathAndQuery);
}

void HttpServer::route(std::string method, std::string path, HttpHandler handler) {
    addRoute({.method = std::move(method),
              .kind = Route::Kind::Exact,
              .path = std::move(path),
              .pattern = {},
              .handler = std::move(handler)});
}

void HttpServer::route(std::string method, std::string path, HttpResponse response) {
    route(std::move(method), std::move(path),
          [response = std::move(response)](const HttpRequest&, HttpResponse& out) { out = response; });
}

void HttpServer::routePrefix(std::string method, std::string prefix, HttpHandler handler) {
    addRoute({.method = std::move(method),
              .kind = Route::Kind::Prefix,
              .path = std::move(prefix),
              .pattern = {},
              .handler = std::move(handler)});
}

void HttpServer::routeRegex(std::string method, const std::string& pattern, HttpHandler handler) {
    addRoute({.method = std::move(method),
              .kind = Route::Kind::Regex,
              .path = pattern,
              .pattern = std::regex(pattern),
              .handler = std::move(handler)});
}

void HttpServer::addRoute(Route route) {
    std::lock_guard lock(m_routesMutex);
    m_routes.push_back(std::move(route));
}

HttpHandler HttpServer::handlerFor(const HttpRequest& request) const {
    std::lock_guard lock(m_routesMutex);
    for (auto it = m_routes.rbegin(); it != m_routes.rend(); ++it) {
        if (!methodMatches(it->method, request.method))
            continue;
        bool matches = false;
        switch (it->kind) {
        case Route::Kind::Exact:
            matches = request.path == it->path;
            break;
        case Route::Kind::Prefix:
            matches = request.path.starts_with(it->path);
            break;
        case Route::Kind::Regex:
            matches = std::regex_match(request.path, it->pattern);
            break;
        }
        if (matches)
            return it->handler;
    }
    return [](const HttpRequest&, HttpResponse& response) { response = HttpResponse::notFound(); };
}

std::shared_ptr<HttpGate> HttpServer::makeGate() {
    auto gate = std::make_shared<HttpGate>();
    std::lock_guard lock(m_stateMutex);
    if (m_stopped) {
        gate->openForStop();
        return gate;
    }
    std::erase_if(m_gates, [](const std::weak_ptr<HttpGate>& weakGate) { return weakGate.expired(); });
    m_gates.push_back(gate);
    return gate;
}

void HttpServer::serve(const httplib::Request& in, httplib::Response& out) {
    HttpRequest request = requestFrom(in);
    // The request object is the server's own, not const: it hands it to us as const only by
    // convention. Left in place, Accept-Encoding would make it compress our replies and Range would
    // make it cut them; a test peer sends what the test scripted, and handlers still see both.
    auto& raw = const_cast<httplib::Request&>(in);
    raw.headers.erase("Accept-Encoding");
    raw.ranges.clear();

    record(request);
    HttpResponse response;
    try {
        handlerFor(request)(request, response);
    } catch (const std::exception& error) {
        response = HttpResponse::text(500, error.what());
    }
    writeResponse(std::move(response), out, m_stopSignal);
}

void HttpServer::record(const HttpRequest& request) {
    {
        std::lock_guard lock(m_requestsMutex);
        m_requests.push_back(request);
    }
    m_requestArrived.notify_all();
}

std::vector<HttpRequest> HttpServer::requests() const {
    std::lock_guard lock(m_requestsMutex);
    return m_requests;
}

size_t HttpServer::requestCount() const {
    std::lock_guard lock(m_requestsMutex);
    return m_requests.size();
}

std::optional<HttpResponse> HttpScript::next() {
    if (once.empty())
        return standing;
    HttpResponse response = std::move(once.front());
    once.pop_front();
    return response;
}

bool HttpServer::waitForRequests(size_t count, std::chrono::milliseconds deadline) const {
    std::unique_lock lock(m_requestsMutex);
    return m_requestArrived.wait_for(lock, deadline, [&] { return m_requests.size() >= count; });
}

void HttpServer::clearRequests() {
    std::lock_guard lock(m_requestsMutex);
    m_requests.clear();
}

} // namespace liveapp::test
