#include "platform/foundation/PropertyList.h"

#include "platform/foundation/AtomicFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fmt/format.h>
#include <pugixml.hpp>

namespace platform {

namespace {

constexpr std::string_view kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                     "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                     "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                     "<plist version=\"1.0\">\n";
constexpr std::string_view kFooter = "</plist>\n";

// ---- base64 (kept private: plists need only the plain alphabet, with padding) ----

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t n = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += kBase64Alphabet[(n >> 6) & 63];
        out += kBase64Alphabet[n & 63];
    }
    if (size_t rest = bytes.size() - i) {
        uint32_t n = uint32_t(bytes[i]) << 16;
        if (rest == 2)
            n |= uint32_t(bytes[i + 1]) << 8;
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += rest == 2 ? kBase64Alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

int base64Digit(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Layout whitespace is skipped anywhere; padding may be missing but nothing may follow it.
std::optional<std::vector<uint8_t>> base64Decode(std::string_view text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    uint32_t accumulator = 0;
    int bits = 0;
    bool padded = false;
    for (char c : text) {
        if (isXmlSpace(c))
            continue;
        if (c == '=') {
            padded = true;
            continue;
        }
        int digit = base64Digit(c);
        if (digit < 0 || padded)
            return std::nullopt;
        accumulator = (accumulator << 6) | uint32_t(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(accumulator >> bits));
        }
    }
    // Six leftover bits cannot come from any whole number of bytes.
    if (bits >= 6)
        return std::nullopt;
    return out;
}

// ---- text checks ----

bool isValidText(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == 0)
            return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
    });
}

// ---- numbers ----

std::optional<Number> parseInteger(std::string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if (negative) {
        if (magnitude > uint64_t(INT64_MAX) + 1)
            return std::nullopt;
        return Number::integer(magnitude == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -int64_t(magnitude));
    }
    if (magnitude <= uint64_t(INT64_MAX))
        return Number::integer(int64_t(magnitude));
    return Number::unsignedInteger(magnitude);
}

std::optional<double> parseReal(std::string_view text) {
    text = trimmed(text);
    if (equalsIgnoringCase(text, "nan"))
        return std::nan("");
    for (std::string_view word : {"inf", "+inf", "infinity", "+infinity"}) {
        if (equalsIgnoringCase(text, word))
            return HUGE_VAL;
    }
    if (equalsIgnoringCase(text, "-inf") || equalsIgnoringCase(text, "-infinity"))
        return -HUGE_VAL;
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size() || text.empty())
        return std::nullopt;
    if (ec == std::errc::result_out_of_range)
        return std::strtod(std::string(text).c_str(), nullptr); // overflows to infinity, underflows to zero
    if (ec != std::errc())
        return std::nullopt;
    return value;
}

std::string formatReal(double d) {
    if (std::isnan(d))
        return "nan";
    if (std::isinf(d))
        return d > 0 ? "+infinity" : "-infinity";
    return fmt::format("{}", d);
}

// ---- dates: "2026-12-06T17:22:21Z", whole seconds, UTC ----

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

std::optional<std::string> formatDate(Date date) {
    double seconds = std::floor(date.timeIntervalSince1970());
    // Years 0000-9999 only: the text form has four digits for the year.
    if (!(seconds >= -62167219200.0 && seconds < 253402300800.0))
        return std::nullopt;
    auto total = static_cast<int64_t>(seconds);
    int64_t days = total >= 0 ? total / 86400 : (total - 86399) / 86400;
    int64_t secondOfDay = total - days * 86400;
    int64_t year;
    unsigned month, day;
    civilFromDays(days, year, month, day);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", year, month, day, secondOfDay / 3600,
                       secondOfDay / 60 % 60, secondOfDay % 60);
}

std::optional<Date> parseDate(std::string_view text) {
    text = trimmed(text);
    auto digits = [&](size_t at, size_t count, unsigned& out) {
        if (at + count > text.size())
            return false;
        out = 0;
        for (size_t i = at; i < at + count; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            out = out * 10 + unsigned(text[i] - '0');
        }
        return true;
    };
    auto is = [&](size_t at, char c) { return at < text.size() && text[at] == c; };
    unsigned year, month, day, hour, minute, second;
    if (!digits(0, 4, year) || !is(4, '-') || !digits(5, 2, month) || !is(7, '-') || !digits(8, 2, day) ||
        !is(10, 'T') || !digits(11, 2, hour) || !is(13, ':') || !digits(14, 2, minute) || !is(16, ':') ||
        !digits(17, 2, second))
        return std::nullopt;
    size_t at = 19;
    double fraction = 0;
    if (is(at, '.')) {
        double scale = 0.1;
        size_t start = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            fraction += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == start)
            return std::nullopt;
    }
    if (!is(at, 'Z') || at + 1 != text.size())
        return std::nullopt;
    static constexpr unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1] ||
        (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    int64_t days = daysFromCivil(year, month, day);
    return Date(double(days * 86400 + hour * 3600 + minute * 60 + second) + fraction);
}

// ---- writing ----

class Writer {
public:
    std::string out;
    std::string problem;
    bool checkOnly{false}; // validate without producing bytes

    bool value(const Value& v, int indent) {
        if (indent > PropertyList::kMaxDepth)
            return fail("nesting is too deep");
        switch (v.type()) {
        case Value::Type::Nil:
            return fail("property lists cannot contain nil");
        case Value::Type::Null:
            return fail("property lists cannot contain null");
        case Value::Type::URL:
            return fail("property lists cannot contain URLs");
        case Value::Type::Set:
            return fail("property lists cannot contain sets");
        case Value::Type::Object:
            return fail("property lists cannot contain objects of type " + v.object()->className());
        case Value::Type::String:
            return text("string", *v.string(), indent);
        case Value::Type::Number:
            number(*v.number(), indent);
            return true;
        case Value::Type::Data:
            data(*v.data(), indent);
            return true;
        case Value::Type::Date: {
            auto formatted = formatDate(*v.date());
            if (!formatted)
                return fail("the date is outside the years 0000-9999");
            line(indent, "<date>" + *formatted + "</date>");
            return true;
        }
        case Value::Type::Array:
            return array(*v.array(), indent);
        case Value::Type::Dictionary:
            return dictionary(*v.dictionary(), indent);
        }
        return fail("unknown value");
    }

private:
    bool fail(std::string why) {
        problem = std::move(why);
        return false;
    }

    void line(int indent, std::string_view content) {
        if (checkOnly)
            return;
        out.append(static_cast<size_t>(indent), '\t');
        out += content;
        out += '\n';
    }

    bool text(std::string_view tag, std::string_view content, int indent) {
        if (!isValidText(content))
            return fail(fmt::format("a {} is not UTF-8 text without NUL characters", tag));
        if (checkOnly)
            return true;
        out.append(static_cast<size_t>(indent), '\t');
        out += '<';
        out += tag;
        out += '>';
        for (char c : content) {
            switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\r':
                // A bare CR would come back as LF: XML readers normalise line ends.
                out += "&#13;";
                break;
            default:
                out += c;
            }
        }
        out += "</";
        out += tag;
        out += ">\n";
        return true;
    }

    void number(const Number& n, int indent) {
        switch (n.kind()) {
        case Number::Kind::Bool:
            line(indent, n.boolValue() ? "<true/>" : "<false/>");
            return;
        case Number::Kind::Int:
        case Number::Kind::UInt:
            line(indent, "<integer>" + n.stringValue() + "</integer>");
            return;
        case Number::Kind::Decimal:
            if (auto exact = parseInteger(n.decimalText())) {
                line(indent, "<integer>" + exact->stringValue() + "</integer>");
                return;
            }
            [[fallthrough]];
        case Number::Kind::Float:
        case Number::Kind::Double:
            line(indent, "<real>" + formatReal(n.doubleValue()) + "</real>");
            return;
        }
    }

    void data(const Data& bytes, int indent) {
        if (checkOnly)
            return;
        line(indent, "<data>");
        std::string encoded = base64Encode(bytes.span());
        // Lines stay within 76 columns, counting each tab of indentation as eight.
        size_t width = static_cast<size_t>(std::max(76 - 8 * indent, 16));
        for (size_t at = 0; at < encoded.size(); at += width)
            line(indent, std::string_view(encoded).substr(at, width));
        line(indent, "</data>");
    }

    bool array(const ValueArray& members, int indent) {
        if (members.empty()) {
            line(indent, "<array/>");
            return true;
        }
        line(indent, "<array>");
        for (const auto& member : members) {
            if (!value(member, indent + 1))
                return false;
        }
        line(indent, "</array>");
        return true;
    }

    bool dictionary(const ValueDictionary& entries, int indent) {
        if (entries.empty()) {
            line(indent, "<dict/>");
            return true;
        }
        // Keys are written sorted, as the platform does, so equal dictionaries give equal bytes.
        std::vector<const ValueDictionary::Entry*> sorted;
        sorted.reserve(entries.size());
        for (const auto& entry : entries)
            sorted.push_back(&entry);
        std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->first < b->first; });
        line(indent, "<dict>");
        for (const auto* entry : sorted) {
            if (!text("key", entry->first, indent + 1) || !value(entry->second, indent + 1))
                return false;
        }
        line(indent, "</dict>");
        return true;
    }
};

// ---- reading ----

class Reader {
public:
    std::string problem;

    Value value(const pugi::xml_node& node, int depth) {
        if (depth > PropertyList::kMaxDepth)
            return fail("nesting is too deep");
        std::string_view tag = node.name();
        if (tag == "dict")
            return dictionary(node, depth);
        if (tag == "array")
            return array(node, depth);
        std::string content;
        if (!textOf(node, content))
            return {};
        if (tag == "string") {
            if (!isValidText(content))
                return fail("a string is not UTF-8 text");
            return Value(std::move(content));
        }
        if (tag == "integer") {
            if (auto n = parseInteger(content))
                return Value(*n);
            return fail(fmt::format("\"{}\" is not an integer", content));
        }
        if (tag == "real") {
            if (auto d = parseReal(content))
                return Value(*d);
            return fail(fmt::format("\"{}\" is not a real number", content));
        }
        if (tag == "true" || tag == "false") {
            if (!trimmed(content).empty())
                return fail(fmt::format("<{}> has content", tag));
            return Value(tag == "true");
        }
        if (tag == "data") {
            if (auto bytes = base64Decode(content))
                return Value(Data(std::move(*bytes)));
            return fail("<data> is not base64");
        }
        if (tag == "date") {
            if (auto date = parseDate(content))
                return Value(*date);
            return fail(fmt::format("\"{}\" is not a date", content));
        }
        return fail(fmt::format("unknown element <{}>", tag));
    }

    Value fail(std::string why) {
        if (problem.empty())
            problem = std::move(why);
        return {};
    }

private:
    // The text of a leaf element; comments are already gone, CDATA counts as text.
    bool textOf(const pugi::xml_node& node, std::string& out) {
        for (auto child : node.children()) {
            if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
                out += child.value();
            } else if (child.type() == pugi::node_element) {
                fail(fmt::format("<{}> inside <{}>", child.name(), node.name()));
                return false;
            }
        }
        return true;
    }

    // The element children of a container; stray text between them is malformed.
    bool elementsOf(const pugi::xml_node& node, std::vector<pugi::xml_node>& out) {
        for (auto child : node.children()) {
            if (child.type() == pugi::node_element) {
                out.push_back(child);
            } else if (child.type() == pugi::node_cdata ||
                       (child.type() == pugi::node_pcdata && !trimmed(child.value()).empty())) {
                fail(fmt::format("text inside <{}>", node.name()));
                return false;
            }
        }
        return true;
    }

    Value array(const pugi::xml_node& node, int depth) {
        std::vector<pugi::xml_node> children;
        if (!elementsOf(node, children))
            return {};
        ValueArray members;
        members.reserve(children.size());
        for (const auto& child : children) {
            Value member = value(child, depth + 1);
            if (member.isNil())
                return {};
            members.push_back(std::move(member));
        }
        return Value(std::move(members));
    }

    Value dictionary(const pugi::xml_node& node, int depth) {
        std::vector<pugi::xml_node> children;
        if (!elementsOf(node, children))
            return {};
        if (children.size() % 2 != 0)
            return fail("a <dict> key has no value");
        ValueDictionary entries;
        for (size_t i = 0; i < children.size(); i += 2) {
            if (std::string_view(children[i].name()) != "key")
                return fail(fmt::format("<{}> where a <key> belongs", children[i].name()));
            std::string key;
            if (!textOf(children[i], key))
                return {};
            if (!isValidText(key))
                return fail("a key is not UTF-8 text");
            Value member = value(children[i + 1], depth + 1);
            if (member.isNil())
                return {};
            entries.set(std::move(key), std::move(member));
        }
        return Value(std::move(entries));
    }
};

ErrorPtr readError(std::string_view why) {
    return Error::create(
        NSCocoaErrorDomain, NSPropertyListReadCorruptError,
        Value::dictionary({{NSLocalizedDescriptionKey,
                            "The data couldn\u2019t be read because it isn\u2019t in the correct "
                            "format."},
                           {"NSDebugDescription", std::string(why)}}));
}

ErrorPtr fileError(int64_t code, const ErrorPtr& underlying, const std::filesystem::path& path) {
    ValueDictionary info{{NSFilePathErrorKey, path.string()}};
    if (underlying) {
        info.set(NSLocalizedDescriptionKey, underlying->localizedDescription());
        info.set(NSUnderlyingErrorKey, Value(std::const_pointer_cast<Error>(underlying)));
    }
    return Error::create(NSCocoaErrorDomain, code, Value(std::move(info)));
}

} // namespace

Value PropertyList::read(const Data& data, ErrorPtr* error) {
    pugi::xml_document document;
    static const char empty = 0;
    const void* bytes = data.empty() ? static_cast<const void*>(&empty) : data.bytes();
    // Whitespace-only text is kept when it is an element's only child: "<string> </string>" is a space.
    // Fragment mode keeps text outside the top-level element, which we refuse, instead of dropping it.
    constexpr unsigned options = pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_fragment;
    auto parsed = document.load_buffer(bytes, data.length(), options, pugi::encoding_auto);
    if (!parsed) {
        setError(error, readError(fmt::format("{} at offset {}", parsed.description(), parsed.offset)));
        return {};
    }

    Reader reader;
    pugi::xml_node root;
    for (auto child : document.children()) {
        if (child.type() == pugi::node_element) {
            if (root) {
                setError(error, readError("more than one top-level element"));
                return {};
            }
            root = child;
        } else if (child.type() == pugi::node_pcdata && !trimmed(child.value()).empty()) {
            setError(error, readError("text outside the top-level element"));
            return {};
        }
    }
    if (!root) {
        setError(error, readError("no top-level element"));
        return {};
    }
    if (std::string_view(root.name()) == "plist") {
        pugi::xml_node only;
        for (auto child : root.children()) {
            if (child.type() == pugi::node_element) {
                if (only) {
                    setError(error, readError("<plist> holds more than one value"));
                    return {};
                }
                only = child;
            } else if (child.type() != pugi::node_pcdata || !trimmed(child.value()).empty()) {
                setError(error, readError("text inside <plist>"));
                return {};
            }
        }
        if (!only) {
            setError(error, readError("<plist> is empty"));
            return {};
        }
        root = only;
    }
    Value result = reader.value(root, 0);
    if (result.isNil())
        setError(error, readError(reader.problem));
    return result;
}

Value PropertyList::readFile(const std::filesystem::path& path, ErrorPtr* error) {
    ErrorPtr underlying;
    auto bytes = AtomicFile::read(path, &underlying);
    if (!bytes) {
        bool missing = underlying && underlying->code() == ENOENT;
        setError(error,
                 fileError(missing ? NSFileReadNoSuchFileError : NSFileReadUnknownError, underlying, path));
        return {};
    }
    return read(*bytes, error);
}

std::optional<Data> PropertyList::write(const Value& value, ErrorPtr* error) {
    Writer writer;
    writer.out = kHeader;
    if (!writer.value(value, 0)) {
        setError(error,
                 Error::create(NSCocoaErrorDomain, NSPropertyListWriteInvalidError,
                               Value::dictionary({{NSLocalizedDescriptionKey,
                                                   "The data couldn\u2019t be written because it isn\u2019t "
                                                   "in the correct format."},
                                                  {"NSDebugDescription", writer.problem}})));
        return std::nullopt;
    }
    writer.out += kFooter;
    return Data(writer.out);
}

bool PropertyList::writeFile(const Value& value, const std::filesystem::path& path, ErrorPtr* error) {
    auto bytes = write(value, error);
    if (!bytes)
        return false;
    ErrorPtr underlying;
    if (!AtomicFile::write(path, *bytes, &underlying)) {
        setError(error, fileError(NSFileWriteUnknownError, underlying, path));
        return false;
    }
    return true;
}

bool PropertyList::isPropertyList(const Value& value) {
    Writer writer;
    writer.checkOnly = true;
    return writer.value(value, 0);
}

} // namespace platform
