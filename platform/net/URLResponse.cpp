#include "platform/net/URLResponse.h"

#include "platform/foundation/Text.h"

#include <charconv>
#include <cstddef>
#include <fmt/format.h>
#include <new>

namespace platform {

struct HTTPURLResponse::Parts {
    URLPtr url;
    std::optional<std::string> mimeType;
    int64_t expectedContentLength{NSURLResponseUnknownLength};
    std::optional<std::string> textEncodingName;
};

namespace {

// The value of `name` among the ";"-separated parameters of a header value, unquoted.
std::optional<std::string> headerParameter(std::string_view value, std::string_view name) {
    for (auto& part : text::componentsSeparatedByString(value, ";")) {
        auto equals = part.find('=');
        if (equals == std::string::npos)
            continue;
        if (!text::equalsIgnoringASCIICase(text::trimmingWhitespace(part.substr(0, equals)), name))
            continue;
        std::string found = text::trimmingWhitespace(part.substr(equals + 1));
        if (found.size() >= 2 && found.front() == '"' && found.back() == '"')
            found = found.substr(1, found.size() - 2);
        return found;
    }
    return std::nullopt;
}

std::optional<int64_t> parseLength(std::string_view text) {
    std::string trimmed = text::trimmingWhitespace(text);
    int64_t value = 0;
    auto [end, ec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (ec != std::errc() || end != trimmed.data() + trimmed.size() || value < 0)
        return std::nullopt;
    return value;
}

// One name's value among a reply's lines, gathered as the lines go by: the lines of that name joined
// with ", ", as HTTPHeaderFields::value joins them. A name on one line (nearly always) is not copied.
class NamedValue {
public:
    explicit NamedValue(std::string_view name)
        : m_name(name) {}

    void offer(const HTTPHeaderFields::FieldView& line) {
        if (!text::equalsIgnoringASCIICase(line.first, m_name))
            return;
        if (!m_found) {
            m_found = true;
            m_value = line.second;
            return;
        }
        if (m_joined.empty())
            m_joined = m_value;
        m_joined.append(", ").append(line.second);
        m_value = m_joined;
    }
    std::optional<std::string_view> value() const {
        return m_found ? std::optional<std::string_view>(m_value) : std::nullopt;
    }

private:
    std::string_view m_name;
    bool m_found{false};
    std::string_view m_value;
    std::string m_joined;
};

// What a response reads from its fields, in one pass over them (fields or views of a reply's lines).
template <typename Lines> HTTPURLResponse::Parts partsFromHeaders(URLPtr url, const Lines& lines) {
    HTTPURLResponse::Parts parts;
    parts.url = std::move(url);
    NamedValue contentType("Content-Type"), contentEncoding("Content-Encoding"),
        contentLength("Content-Length");
    for (const auto& line : lines) {
        contentType.offer(line);
        contentEncoding.offer(line);
        contentLength.offer(line);
    }
    if (auto type = contentType.value()) {
        auto semicolon = type->find(';');
        std::string mime = text::lowercaseASCII(text::trimmingWhitespace(type->substr(0, semicolon)));
        if (!mime.empty())
            parts.mimeType = mime;
        if (semicolon != std::string_view::npos)
            if (auto charset = headerParameter(type->substr(semicolon + 1), "charset"))
                parts.textEncodingName = text::lowercaseASCII(*charset);
    }
    auto encoding = contentEncoding.value();
    bool encoded =
        encoding && !text::equalsIgnoringASCIICase(text::trimmingWhitespace(*encoding), "identity");
    if (auto length = contentLength.value(); length && !encoded)
        if (auto parsed = parseLength(*length))
            parts.expectedContentLength = *parsed;
    return parts;
}

} // namespace

URLResponse::URLResponse(URLPtr url, std::optional<std::string> MIMEType, int64_t expectedContentLength,
                         std::optional<std::string> textEncodingName)
    : m_url(std::move(url))
    , m_mimeType(std::move(MIMEType))
    , m_expectedContentLength(expectedContentLength)
    , m_textEncodingName(std::move(textEncodingName)) {}

std::string URLResponse::suggestedFilename() const {
    if (m_url) {
        std::string last = m_url->lastPathComponent();
        if (!last.empty() && last != "/")
            return last;
    }
    return "Unknown";
}

std::string URLResponse::description() const {
    return fmt::format("<URLResponse URL: {} MIME: {} length: {}>",
                       m_url ? m_url->absoluteString() : "(null)", m_mimeType.value_or("(none)"),
                       m_expectedContentLength);
}

struct HTTPURLResponse::Room {
    void* bytes{nullptr}; // set by the allocation, read by the constructor that follows it
};

namespace {

// Allocates what make_shared would, with room after it for the response's header fields, and
// leaves where that room starts in `room`.
template <typename T> class WithRoom {
public:
    using value_type = T;

    WithRoom(size_t extra, HTTPURLResponse::Room& room, std::pmr::memory_resource* blocks)
        : m_extra(extra)
        , m_room(&room)
        , m_blocks(blocks) {}
    template <typename U>
    WithRoom(const WithRoom<U>& other)
        : m_extra(other.m_extra)
        , m_room(other.m_room)
        , m_blocks(other.m_blocks) {}

    T* allocate(size_t count) {
        size_t head = roundedUp(count * sizeof(T));
        auto* block = static_cast<char*>(m_blocks ? m_blocks->allocate(head + m_extra)
                                                  : ::operator new(head + m_extra));
        m_room->bytes = block + head;
        return reinterpret_cast<T*>(block);
    }
    void deallocate(T* block, size_t count) {
        if (m_blocks)
            m_blocks->deallocate(block, roundedUp(count * sizeof(T)) + m_extra);
        else
            ::operator delete(block);
    }
    template <typename U> bool operator==(const WithRoom<U>& other) const { return m_room == other.m_room; }

private:
    template <typename U> friend class WithRoom;
    static size_t roundedUp(size_t bytes) {
        constexpr size_t align = alignof(std::max_align_t);
        return (bytes + align - 1) / align * align;
    }
    size_t m_extra;
    HTTPURLResponse::Room* m_room;
    std::pmr::memory_resource* m_blocks;
};

} // namespace

std::shared_ptr<HTTPURLResponse> HTTPURLResponse::create(URLPtr url, int64_t statusCode,
                                                         std::string HTTPVersion,
                                                         HTTPHeaderFields headerFields) {
    return createIn(nullptr, std::move(url), statusCode, std::move(HTTPVersion), std::move(headerFields));
}

template <typename Lines>
HTTPURLResponse::HTTPURLResponse(Parts parts, int64_t statusCode, std::string HTTPVersion, const Lines& lines,
                                 const Room& room)
    : URLResponse(std::move(parts.url), std::move(parts.mimeType), parts.expectedContentLength,
                  std::move(parts.textEncodingName))
    , m_statusCode(statusCode)
    , m_httpVersion(std::move(HTTPVersion))
    , m_headerFields(HTTPHeaderFields::placedCopy(lines, room.bytes)) {}

template <typename Lines>
std::shared_ptr<HTTPURLResponse> HTTPURLResponse::make(std::pmr::memory_resource* blocks, URLPtr url,
                                                       int64_t statusCode, std::string HTTPVersion,
                                                       const Lines& lines) {
    if (!url || statusCode < 100 || statusCode > 599)
        return nullptr;
    auto parts = partsFromHeaders(std::move(url), lines);
    Room room;
    return std::allocate_shared<HTTPURLResponse>(
        WithRoom<HTTPURLResponse>(HTTPHeaderFields::placedSize(lines), room, blocks), std::move(parts),
        statusCode, std::move(HTTPVersion), lines, room);
}

std::shared_ptr<HTTPURLResponse> HTTPURLResponse::createIn(std::pmr::memory_resource* blocks, URLPtr url,
                                                           int64_t statusCode, std::string HTTPVersion,
                                                           HTTPHeaderFields headerFields) {
    return make(blocks, std::move(url), statusCode, std::move(HTTPVersion), headerFields);
}

std::shared_ptr<HTTPURLResponse>
HTTPURLResponse::createIn(std::pmr::memory_resource* blocks, URLPtr url, int64_t statusCode,
                          std::string HTTPVersion, std::span<const HTTPHeaderFields::FieldView> lines) {
    return make(blocks, std::move(url), statusCode, std::move(HTTPVersion), lines);
}

std::string HTTPURLResponse::suggestedFilename() const {
    if (auto disposition = m_headerFields.value("Content-Disposition")) {
        auto semicolon = disposition->find(';');
        if (semicolon != std::string::npos)
            if (auto name = headerParameter(disposition->substr(semicolon + 1), "filename");
                name && !name->empty() && name->find('/') == std::string::npos)
                return *name;
    }
    return URLResponse::suggestedFilename();
}

std::string HTTPURLResponse::localizedStringForStatusCode(int64_t statusCode) {
    switch (statusCode) {
    case 100:
        return "continue";
    case 101:
        return "switching protocols";
    case 200:
        return "no error";
    case 201:
        return "created";
    case 202:
        return "accepted";
    case 203:
        return "non-authoritative information";
    case 204:
        return "no content";
    case 205:
        return "reset content";
    case 206:
        return "partial content";
    case 300:
        return "multiple choices";
    case 301:
        return "moved permanently";
    case 302:
        return "found";
    case 303:
        return "see other";
    case 304:
        return "not modified";
    case 305:
        return "needs proxy";
    case 307:
        return "temporarily redirected";
    case 308:
        return "permanent redirect";
    case 400:
        return "bad request";
    case 401:
        return "unauthorized";
    case 402:
        return "payment required";
    case 403:
        return "forbidden";
    case 404:
        return "not found";
    case 405:
        return "method not allowed";
    case 406:
        return "unacceptable";
    case 407:
        return "proxy authentication required";
    case 408:
        return "request timed out";
    case 409:
        return "conflict";
    case 410:
        return "no longer exists";
    case 411:
        return "length required";
    case 412:
        return "precondition failed";
    case 413:
        return "request too large";
    case 414:
        return "requested URL too long";
    case 415:
        return "unsupported media type";
    case 429:
        return "too many requests";
    case 500:
        return "internal server error";
    case 501:
        return "unimplemented";
    case 502:
        return "bad gateway";
    case 503:
        return "service unavailable";
    case 504:
        return "gateway timed out";
    case 505:
        return "unsupported version";
    default:
        break;
    }
    if (statusCode >= 100 && statusCode < 200)
        return "informational";
    if (statusCode >= 200 && statusCode < 300)
        return "success";
    if (statusCode >= 300 && statusCode < 400)
        return "redirected";
    if (statusCode >= 400 && statusCode < 500)
        return "client error";
    if (statusCode >= 500 && statusCode < 600)
        return "server error";
    return "unknown";
}

std::string HTTPURLResponse::description() const {
    return fmt::format("<HTTPURLResponse URL: {} status: {}>", URL() ? URL()->absoluteString() : "(null)",
                       m_statusCode);
}

} // namespace platform
