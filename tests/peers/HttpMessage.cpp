#include "tests/peers/HttpMessage.h"

#include "tests/peers/HttpGate.h"

#include <algorithm>
#include <cctype>

namespace liveapp::test {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Form decoding: '+' is a space, %XX a byte; a '%' not followed by two hex digits stays as it is.
std::string formDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

void HttpHeaders::add(std::string name, std::string value) {
    m_fields.emplace_back(std::move(name), std::move(value));
}

void HttpHeaders::set(std::string name, std::string value) {
    remove(name);
    add(std::move(name), std::move(value));
}

void HttpHeaders::remove(std::string_view name) {
    std::erase_if(m_fields, [&](const Field& field) { return sameName(field.first, name); });
}

bool HttpHeaders::has(std::string_view name) const {
    return std::ranges::any_of(m_fields, [&](const Field& field) { return sameName(field.first, name); });
}

std::optional<std::string> HttpHeaders::get(std::string_view name) const {
    for (const auto& [fieldName, value] : m_fields) {
        if (sameName(fieldName, name))
            return value;
    }
    return std::nullopt;
}

std::vector<std::string> HttpHeaders::all(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [fieldName, value] : m_fields) {
        if (sameName(fieldName, name))
            values.push_back(value);
    }
    return values;
}

std::vector<std::pair<std::string, std::string>> HttpRequest::queryItems() const {
    std::vector<std::pair<std::string, std::string>> items;
    std::string_view rest = query;
    while (!rest.empty()) {
        size_t end = rest.find('&');
        std::string_view item = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (item.empty())
            continue;
        size_t equals = item.find('=');
        if (equals == std::string_view::npos)
            items.emplace_back(formDecode(item), std::string());
        else
            items.emplace_back(formDecode(item.substr(0, equals)), formDecode(item.substr(equals + 1)));
    }
    return items;
}

std::optional<std::string> HttpRequest::queryValue(std::string_view name) const {
    for (auto& [itemName, value] : queryItems()) {
        if (itemName == name)
            return value;
    }
    return std::nullopt;
}

std::map<std::string, std::string> HttpRequest::cookies() const {
    std::map<std::string, std::string> cookies;
    for (const std::string& line : headers.all("Cookie")) {
        std::string_view rest = line;
        while (!rest.empty()) {
            size_t end = rest.find(';');
            std::string_view pair = trim(rest.substr(0, end));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            size_t equals = pair.find('=');
            if (pair.empty() || equals == std::string_view::npos)
                continue;
            cookies.emplace(std::string(trim(pair.substr(0, equals))),
                            std::string(trim(pair.substr(equals + 1))));
        }
    }
    return cookies;
}

HttpBodySink::HttpBodySink(std::function<bool(std::string_view)> send, std::shared_ptr<HttpGate> stopSignal)
    : m_send(std::move(send))
    , m_stopSignal(std::move(stopSignal)) {}

bool HttpBodySink::write(std::string_view piece) {
    if (m_stopSignal && m_stopSignal->isOpen())
        return false;
    // An empty chunk would end a chunked body early; there is nothing to send anyway.
    if (piece.empty())
        return true;
    return m_send(piece);
}

bool HttpBodySink::pause(std::chrono::milliseconds interval) {
    if (!m_stopSignal)
        return true;
    m_stopSignal->waitFor(interval);
    return !m_stopSignal->isOpen();
}

bool HttpBodySink::wait(HttpGate& gate) {
    return gate.wait();
}

HttpResponse& HttpResponse::header(std::string name, std::string value) {
    headers.add(std::move(name), std::move(value));
    return *this;
}

HttpResponse& HttpResponse::setCookie(std::string cookie) {
    headers.add("Set-Cookie", std::move(cookie));
    return *this;
}

HttpResponse HttpResponse::text(int status, std::string body, std::string contentType) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    response.headers.add("Content-Type", std::move(contentType));
    return response;
}

HttpResponse HttpResponse::json(std::string body, int status) {
    return text(status, std::move(body), "application/json");
}

HttpResponse HttpResponse::redirect(int status, std::string location) {
    HttpResponse response;
    response.status = status;
    response.headers.add("Location", std::move(location));
    return response;
}

HttpResponse HttpResponse::notFound() {
    return text(404, "Not Found");
}

HttpResponse HttpResponse::chunked(std::vector<std::string> pieces, std::string contentType) {
    return drip(std::move(pieces), std::chrono::milliseconds(0), std::move(contentType));
}

HttpResponse HttpResponse::drip(std::vector<std::string> pieces, std::chrono::milliseconds interval,
                                std::string contentType) {
    HttpResponse response;
    response.headers.add("Content-Type", std::move(contentType));
    response.bodyWriter = [pieces = std::move(pieces), interval](HttpBodySink& sink) {
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0 && interval.count() > 0 && !sink.pause(interval))
                return false;
            if (!sink.write(pieces[i]))
                return false;
        }
        return true;
    };
    return response;
}

HttpResponse HttpResponse::patterned(uint64_t size, bool chunked, size_t pieceSize) {
    HttpResponse response;
    response.headers.add("Content-Type", "application/octet-stream");
    if (!chunked)
        response.contentLength = size;
    pieceSize = std::max<size_t>(pieceSize, 1);
    response.bodyWriter = [size, pieceSize](HttpBodySink& sink) {
        for (uint64_t offset = 0; offset < size; offset += pieceSize) {
            if (!sink.write(
                    patternBytes(offset, static_cast<size_t>(std::min<uint64_t>(pieceSize, size - offset)))))
                return false;
        }
        return true;
    };
    return response;
}

std::string patternBytes(uint64_t offset, size_t length) {
    // The slow term makes pieces that land at the wrong offset differ even when the fast term repeats.
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        uint64_t at = offset + i;
        bytes[i] = static_cast<char>((at * 7 + (at >> 12)) & 0xff);
    }
    return bytes;
}

} // namespace liveapp::test
