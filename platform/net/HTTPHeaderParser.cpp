#include "platform/net/HTTPHeaderParser.h"

#include "platform/foundation/Text.h"

#include <algorithm>
#include <utility>

namespace platform::detail {

namespace {

// Room for the fields of a usual reply at once, so they are not moved as the list grows (kept under
// the size the allocator serves from its large bins, which costs more than the moves it saves).
constexpr size_t kUsualFieldCount = 12;

// trimmingWhitespace: a text whose ends are plain ASCII once spaces and tabs are gone (nearly every
// name and value) needs no look at what lies between.
std::string trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    auto plain = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
    if (text.empty() || (plain(text.front()) && plain(text.back())))
        return std::string(text);
    return text::trimmingWhitespace(text);
}

} // namespace

HTTPHeaderParser::Line HTTPHeaderParser::feed(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
        startReply(line);
        return Line::Status;
    }
    if (!inHead())
        return Line::Other; // trailers, or noise before a status line
    if (line.empty()) {
        if (m_status >= 100 && m_status < 200) {
            m_statusSeen = false;
            return Line::InterimEnd;
        }
        m_headDone = true;
        return Line::HeadEnd;
    }
    addField(line);
    return Line::Other;
}

HTTPHeaderFields HTTPHeaderParser::fields() const {
    return HTTPHeaderFields::fromLines(m_fields);
}

HTTPHeaderFields HTTPHeaderParser::takeFields() {
    HTTPHeaderFields fields = HTTPHeaderFields::fromLines(m_fields);
    m_fields.clear();
    return fields;
}

void HTTPHeaderParser::startReply(std::string_view statusLine) {
    m_statusSeen = true;
    m_headDone = false;
    m_fields.clear();
    m_fields.reserve(kUsualFieldCount);
    auto space = statusLine.find(' ');
    m_version = std::string(statusLine.substr(0, space));
    m_status = 0;
    if (space == std::string_view::npos)
        return;
    std::string_view code = statusLine.substr(space + 1, 3);
    if (code.size() == 3 &&
        std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }))
        m_status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

void HTTPHeaderParser::addField(std::string_view line) {
    if ((line.front() == ' ' || line.front() == '\t') && !m_fields.empty()) {
        m_fields.back().second.append(" ").append(trimmed(line));
        return;
    }
    auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return;
    m_fields.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
}

} // namespace platform::detail
