#pragma once
// The messages the test HTTP server hands to route handlers and takes back from them. A request is
// what arrived on the wire (target, path and query still percent-encoded, headers as sent); a
// response is what the test wants written back, either a whole body or a body writer that produces
// it piece by piece on the connection's thread. Plain values: copy them freely.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace liveapp::test {

class HttpGate;

// Header fields in the order they were added; names compare without regard to case.
class HttpHeaders {
public:
    using Field = std::pair<std::string, std::string>;

    void add(std::string name, std::string value);
    void set(std::string name, std::string value); // replaces every field of that name
    void remove(std::string_view name);

    bool has(std::string_view name) const;
    std::optional<std::string> get(std::string_view name) const; // the first value
    std::vector<std::string> all(std::string_view name) const;

    std::vector<Field>::const_iterator begin() const { return m_fields.begin(); }
    std::vector<Field>::const_iterator end() const { return m_fields.end(); }
    size_t size() const { return m_fields.size(); }
    bool empty() const { return m_fields.empty(); }

private:
    std::vector<Field> m_fields;
};

struct HttpRequest {
    std::string method;  // "GET", "HEAD", "POST" ...
    std::string target;  // as on the request line: "/a%20b?x=1"
    std::string path;    // the target before '?', still percent-encoded
    std::string query;   // the target after '?', empty when there is none
    std::string version; // "HTTP/1.1"
    HttpHeaders headers; // grouped by name (the order across different names is not kept)
    std::string body;
    std::string remoteAddress;
    int remotePort{0}; // tells connections apart: requests on one kept-alive connection share it

    std::optional<std::string> header(std::string_view name) const { return headers.get(name); }
    // Query items decoded ('+' and %XX), in order; "a&b=" gives {"a", ""}, {"b", ""}.
    std::vector<std::pair<std::string, std::string>> queryItems() const;
    std::optional<std::string> queryValue(std::string_view name) const;
    // The Cookie header(s) split into name → value.
    std::map<std::string, std::string> cookies() const;
};

// Where a body writer sends its pieces. Used only on the connection's thread, during the call.
class HttpBodySink {
public:
    HttpBodySink(std::function<bool(std::string_view)> send, std::shared_ptr<HttpGate> stopSignal);

    // Sends one piece (one chunk when the reply is chunked). False once the client has gone or the
    // server is stopping; the writer should then return false.
    bool write(std::string_view piece);
    // Waits `interval` unless the server stops first (then false). For drips, not for ordering:
    // tests that need a reply held back use a gate.
    bool pause(std::chrono::milliseconds interval);
    // Waits until the gate opens; false when the server's stop opened it.
    bool wait(HttpGate& gate);

private:
    std::function<bool(std::string_view)> m_send;
    std::shared_ptr<HttpGate> m_stopSignal;
};

// Returns true when the body is complete; false drops the connection where the body stands, so the
// client sees a truncated reply.
using HttpBodyWriter = std::function<bool(HttpBodySink&)>;

struct HttpResponse {
    int status{200};
    HttpHeaders headers;
    std::string body;
    // When set, the body comes from the writer instead of `body`: with Transfer-Encoding: chunked,
    // or with Content-Length when contentLength is set (the writer must then send exactly that).
    HttpBodyWriter bodyWriter;
    std::optional<uint64_t> contentLength;

    HttpResponse& header(std::string name, std::string value);
    HttpResponse& setCookie(std::string cookie); // "name=value; Path=/; HttpOnly"

    static HttpResponse text(int status, std::string body,
                             std::string contentType = "text/plain; charset=utf-8");
    static HttpResponse json(std::string body, int status = 200);
    static HttpResponse redirect(int status, std::string location); // 301, 302, 303, 307, 308
    static HttpResponse notFound();
    // The pieces sent as chunks, in order.
    static HttpResponse chunked(std::vector<std::string> pieces, std::string contentType = "text/plain");
    // The pieces sent as chunks with a real-time pause before each one after the first.
    static HttpResponse drip(std::vector<std::string> pieces, std::chrono::milliseconds interval,
                             std::string contentType = "text/plain");
    // `size` bytes of patternBytes() in pieces of `pieceSize`, chunked or with Content-Length.
    static HttpResponse patterned(uint64_t size, bool chunked, size_t pieceSize = 64 * 1024);
};

// The deterministic bytes of patterned bodies, so a client can check any range it received.
std::string patternBytes(uint64_t offset, size_t length);

} // namespace liveapp::test
