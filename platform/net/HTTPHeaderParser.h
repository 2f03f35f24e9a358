#pragma once
// The head of an HTTP reply, read one line at a time as the transfer hands the lines over: the status
// line, the fields, and the empty line that ends them. An obsolete folded line (starting with a space
// or a tab) continues the field before it. A new status line starts over: after a 1xx, or on the next
// leg of an authentication. Lines may keep their CR LF.
// Promised: time and memory linear in the bytes fed, however the lines fold; bad input is skipped,
// never thrown on. Not promised: any check of the field values (the response checks what it needs).

#include "platform/net/HTTPHeaderFields.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::detail {

class HTTPHeaderParser {
public:
    // What a line did: nothing of note, started a reply, ended an interim (1xx) head, or ended the
    // head of the reply.
    enum class Line { Other, Status, InterimEnd, HeadEnd };

    Line feed(std::string_view line);

    // A status line has been read and its head has not ended yet.
    bool inHead() const { return m_statusSeen && !m_headDone; }
    bool headDone() const { return m_headDone; }
    // 0 when the status line carried no three-digit code.
    int64_t status() const { return m_status; }
    const std::string& version() const { return m_version; }
    HTTPHeaderFields fields() const;
    // The fields read, handed over in one block: the parser keeps none of them after.
    HTTPHeaderFields takeFields();

    // Room for the views of a usual reply's fields where the caller keeps it (its stack), with more
    // for a reply that has more lines.
    static constexpr size_t kUsualFieldCount = 12;
    struct LineViews {
        std::array<HTTPHeaderFields::FieldView, kUsualFieldCount> usual;
        std::vector<HTTPHeaderFields::FieldView> more;
        std::span<const HTTPHeaderFields::FieldView> lines;
    };
    // The fields read, as views into the parser's own text: valid until the next feed() or
    // clearFields(). For a reader that copies them once, where it keeps them.
    void lineViews(LineViews& into) const;
    // Forgets the fields read, as takeFields() does.
    void clearFields();

private:
    // Where a name or a value lies in m_text.
    struct Span {
        uint32_t at{0};
        uint32_t size{0};
    };

    void startReply(std::string_view statusLine);
    void addField(std::string_view line);
    Span append(std::string_view piece);

    bool m_statusSeen{false};
    bool m_headDone{false};
    int64_t m_status{0};
    std::string m_version;
    // Every name and value read, back to back in one text (a reply's fields cost no allocation of
    // their own); the last value is always at its end, so a folded line extends it in place.
    std::string m_text;
    std::vector<std::pair<Span, Span>> m_fields;
};

} // namespace platform::detail
