#include "platform/foundation/StringsTable.h"

#include "platform/foundation/Text.h"

#include <cerrno>
#include <fmt/format.h>
#include <fstream>
#include <iterator>

namespace platform {

namespace {

// The platform's code for a property list or string table it cannot read.
constexpr int64_t kReadCorruptError = 3840;

// UTF-16 bytes in either byte order; nullopt for an odd length or a surrogate that stands alone.
std::optional<std::string> fromUTF16Bytes(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2)
        return std::nullopt;
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        auto a = static_cast<uint8_t>(bytes[2 * i]), b = static_cast<uint8_t>(bytes[2 * i + 1]);
        units[i] = static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    }
    return text::fromUTF16Exactly(units);
}

// The table's text as UTF-8, whatever encoding the file was saved in.
std::optional<std::string> decodedText(std::string_view bytes) {
    auto starts = [&](std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; };
    if (starts("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    else if (starts("\xFF\xFE"))
        return fromUTF16Bytes(bytes.substr(2), false);
    else if (starts("\xFE\xFF"))
        return fromUTF16Bytes(bytes.substr(2), true);
    else if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0)
        return fromUTF16Bytes(bytes, false);
    else if (bytes.size() >= 2 && bytes[0] == 0 && bytes[1] != 0)
        return fromUTF16Bytes(bytes, true);
    if (!text::isValidUTF8(bytes))
        return std::nullopt;
    return std::string(bytes);
}

bool isUnquotedCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    explicit Parser(std::string_view text)
        : m_text(text) {}

    bool parse(std::map<std::string, std::string, std::less<>>& entries) {
        if (!skipSpace())
            return false;
        bool braced = peek('{');
        if (braced) {
            ++m_at;
        }
        for (;;) {
            if (!skipSpace())
                return false;
            if (atEnd())
                return braced ? fail("missing '}'") : true;
            if (braced && peek('}')) {
                ++m_at;
                if (!skipSpace())
                    return false;
                return atEnd() || fail("text after '}'");
            }
            std::string key, value;
            if (!readString(key) || !skipSpace())
                return false;
            if (peek('=')) {
                ++m_at;
                if (!skipSpace() || !readString(value) || !skipSpace())
                    return false;
            } else {
                value = key;
            }
            if (!peek(';'))
                return fail("missing ';'");
            ++m_at;
            entries.insert_or_assign(std::move(key), std::move(value));
        }
    }

    const std::string& failure() const { return m_failure; }

private:
    bool atEnd() const { return m_at >= m_text.size(); }
    bool peek(char c) const { return !atEnd() && m_text[m_at] == c; }

    bool fail(std::string_view what) {
        m_failure = fmt::format("{} on line {}", what, m_line);
        return false;
    }

    // Skips white space and comments; false on an unterminated comment.
    bool skipSpace() {
        while (!atEnd()) {
            char c = m_text[m_at];
            if (c == '\n') {
                ++m_line;
                ++m_at;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++m_at;
            } else if (m_text.substr(m_at, 2) == "//") {
                while (!atEnd() && m_text[m_at] != '\n')
                    ++m_at;
            } else if (m_text.substr(m_at, 2) == "/*") {
                size_t close = m_text.find("*/", m_at + 2);
                if (close == std::string_view::npos)
                    return fail("unterminated comment");
                for (size_t i = m_at; i < close; ++i)
                    m_line += m_text[i] == '\n';
                m_at = close + 2;
            } else {
                break;
            }
        }
        return true;
    }

    bool readString(std::string& out) {
        if (atEnd())
            return fail("missing string");
        if (m_text[m_at] == '"')
            return readQuoted(out);
        size_t start = m_at;
        while (!atEnd() && isUnquotedCharacter(m_text[m_at]))
            ++m_at;
        if (m_at == start)
            return fail(fmt::format("unexpected '{}'", m_text[m_at]));
        out.assign(m_text.substr(start, m_at - start));
        return true;
    }

    bool readQuoted(std::string& out) {
        size_t openedOn = m_line;
        ++m_at;
        for (;;) {
            if (atEnd()) {
                m_line = openedOn;
                return fail("unterminated string");
            }
            char c = m_text[m_at++];
            if (c == '"')
                return true;
            if (c == '\n')
                ++m_line;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (atEnd())
                continue; // reported as unterminated on the next turn
            readEscape(out);
        }
    }

    void readEscape(std::string& out) {
        char c = m_text[m_at++];
        switch (c) {
        case 'n':
            out += '\n';
            return;
        case 't':
            out += '\t';
            return;
        case 'r':
            out += '\r';
            return;
        case 'a':
            out += '\a';
            return;
        case 'b':
            out += '\b';
            return;
        case 'f':
            out += '\f';
            return;
        case 'v':
            out += '\v';
            return;
        case 'U':
        case 'u':
            text::appendUTF8(out, readUnicodeEscape());
            return;
        default:
            break;
        }
        if (c >= '0' && c <= '7') {
            unsigned value = c - '0';
            for (int digits = 1; digits < 3 && !atEnd() && m_text[m_at] >= '0' && m_text[m_at] <= '7';
                 ++digits)
                value = value * 8 + (m_text[m_at++] - '0');
            text::appendUTF8(out, value);
            return;
        }
        if (c == '\n')
            ++m_line;
        out += c; // \" \' \\ and any other character stand for themselves
    }

    // Up to four hexadecimal digits after \U; a high surrogate joins the low one escaped after it.
    char32_t readUnicodeEscape() {
        char32_t unit = readHexUnit();
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (m_text.substr(m_at, 2) == "\\U" || m_text.substr(m_at, 2) == "\\u") {
                size_t back = m_at;
                m_at += 2;
                char32_t low = readHexUnit();
                if (low >= 0xDC00 && low <= 0xDFFF)
                    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                m_at = back;
            }
            return 0xFFFD;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return 0xFFFD;
        return unit;
    }

    char32_t readHexUnit() {
        char32_t unit = 0;
        for (int digits = 0; digits < 4 && !atEnd() && hexDigit(m_text[m_at]) >= 0; ++digits)
            unit = unit * 16 + hexDigit(m_text[m_at++]);
        return unit;
    }

    std::string_view m_text;
    size_t m_at{0};
    size_t m_line{1};
    std::string m_failure;
};

} // namespace

std::optional<StringsTable> StringsTable::parse(std::string_view bytes, ErrorPtr* error) {
    auto text = decodedText(bytes);
    if (!text) {
        setError(error, Error::withDescription(NSCocoaErrorDomain, kReadCorruptError,
                                               "The string table is not valid UTF-8 or UTF-16 text."));
        return std::nullopt;
    }
    StringsTable table;
    Parser parser(*text);
    if (!parser.parse(table.m_entries)) {
        setError(error,
                 Error::withDescription(NSCocoaErrorDomain, kReadCorruptError,
                                        fmt::format("The string table is malformed: {}.", parser.failure())));
        return std::nullopt;
    }
    return table;
}

std::optional<StringsTable> StringsTable::readFile(const std::filesystem::path& path, ErrorPtr* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        setError(error, Error::posix(errno ? errno : ENOENT, path.string()));
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        setError(error, Error::posix(EIO, path.string()));
        return std::nullopt;
    }
    return parse(bytes, error);
}

const std::string* StringsTable::find(std::string_view key) const {
    auto it = m_entries.find(key);
    return it == m_entries.end() ? nullptr : &it->second;
}

} // namespace platform
