#include "platform/net/HTTPHeaderParser.h"

#include "platform/foundation/Text.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

namespace platform::detail {

namespace {

// Room for the names and values of a usual reply, beside room for its kUsualFieldCount lines.
constexpr size_t kUsualFieldText = 384;

// trimmingWhitespace: a text whose ends are plain ASCII once spaces and tabs are gone (nearly every
// name and value) needs no look at what lies between, and no copy. `kept` holds the trimmed text
// when it had to be made anew.
std::string_view trimmed(std::string_view text, std::string& kept) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    auto plain = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
    if (text.empty() || (plain(text.front()) && plain(text.back())))
        return text;
    kept = text::trimmingWhitespace(text);
    return kept;
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

void HTTPHeaderParser::lineViews(LineViews& into) const {
    std::span<HTTPHeaderFields::FieldView> lines(into.usual.data(),
                                                 std::min(m_fields.size(), into.usual.size()));
    if (m_fields.size() > into.usual.size()) {
        into.more.resize(m_fields.size());
        lines = into.more;
    }
    std::string_view text = m_text;
    for (size_t index = 0; index < m_fields.size(); ++index) {
        const auto& [name, value] = m_fields[index];
        lines[index] = {text.substr(name.at, name.size), text.substr(value.at, value.size)};
    }
    into.lines = lines;
}

void HTTPHeaderParser::clearFields() {
    m_fields.clear();
    m_text.clear();
}

HTTPHeaderFields HTTPHeaderParser::fields() const {
    LineViews views; // the views of a usual reply's fields cost no allocation
    lineViews(views);
    return HTTPHeaderFields::fromLineViews(views.lines);
}

HTTPHeaderFields HTTPHeaderParser::takeFields() {
    HTTPHeaderFields fields = this->fields();
    clearFields();
    return fields;
}

void HTTPHeaderParser::startReply(std::string_view statusLine) {
    m_statusSeen = true;
    m_headDone = false;
    clearFields();
    // Room for the fields of a usual reply at once, so they are not moved as the lists grow (kept
    // under the size the allocator serves from its large bins, which costs more than the moves save).
    m_fields.reserve(kUsualFieldCount);
    m_text.reserve(kUsualFieldText);
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

HTTPHeaderParser::Span HTTPHeaderParser::append(std::string_view piece) {
    Span span{static_cast<uint32_t>(m_text.size()), static_cast<uint32_t>(piece.size())};
    m_text.append(piece);
    return span;
}

void HTTPHeaderParser::addField(std::string_view line) {
    std::string kept;
    if ((line.front() == ' ' || line.front() == '\t') && !m_fields.empty()) {
        // The value being extended is the last thing in the text.
        m_fields.back().second.size += append(" ").size;
        m_fields.back().second.size += append(trimmed(line, kept)).size;
        return;
    }
    auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return;
    Span name = append(trimmed(line.substr(0, colon), kept));
    Span value = append(trimmed(line.substr(colon + 1), kept));
    m_fields.emplace_back(name, value);
}

} // namespace platform::detail
