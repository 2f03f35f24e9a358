#include "platform/foundation/JSONSerialization.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fmt/format.h>
#include <simdjson.h>
#include <string>
#include <vector>

namespace platform {

namespace {

struct WriteFailure {
    std::string description;
};

// Key order for NSJSONWritingSortedKeys: the platform compares keys by UTF-16 code units, where
// characters beyond U+FFFF (surrogates, D800-DFFF) sort before U+E000-U+FFFF. In UTF-8 that means
// moving the four-byte lead bytes (F0-F4) ahead of the lead bytes EE and EF.
uint8_t utf16OrderRank(uint8_t byte) {
    if (byte < 0xEE)
        return byte;
    if (byte >= 0xF0)
        return static_cast<uint8_t>(byte - 2);
    return static_cast<uint8_t>(byte + 5);
}

bool keyLess(const ValueDictionary::Entry* a, const ValueDictionary::Entry* b) {
    return std::lexicographical_compare(
        a->first.begin(), a->first.end(), b->first.begin(), b->first.end(), [](char x, char y) {
            return utf16OrderRank(static_cast<uint8_t>(x)) < utf16OrderRank(static_cast<uint8_t>(y));
        });
}

class Writer {
public:
    explicit Writer(JSONWritingOptions options)
        : m_pretty((options & NSJSONWritingPrettyPrinted) != 0)
        , m_sorted((options & NSJSONWritingSortedKeys) != 0)
        , m_escapeSlashes((options & NSJSONWritingWithoutEscapingSlashes) == 0) {}

    void write(const Value& value, size_t depth) {
        switch (value.type()) {
        case Value::Type::Null:
            append("null");
            return;
        case Value::Type::Number:
            writeNumber(*value.number());
            return;
        case Value::Type::String:
            writeString(*value.string());
            return;
        case Value::Type::Array:
            writeArray(*value.array(), depth + 1);
            return;
        case Value::Type::Dictionary:
            writeDictionary(*value.dictionary(), depth + 1);
            return;
        case Value::Type::Nil:
            throw WriteFailure{"Invalid type in JSON write (nil)."};
        case Value::Type::Data:
            throw WriteFailure{"Invalid type in JSON write (NSData)."};
        case Value::Type::Date:
            throw WriteFailure{"Invalid type in JSON write (NSDate)."};
        case Value::Type::URL:
            throw WriteFailure{"Invalid type in JSON write (NSURL)."};
        case Value::Type::Set:
            throw WriteFailure{"Invalid type in JSON write (NSSet)."};
        case Value::Type::Object:
            throw WriteFailure{fmt::format("Invalid type in JSON write ({}).", value.object()->className())};
        }
    }

    std::vector<uint8_t> take() { return std::move(m_out); }

private:
    void append(std::string_view text) { m_out.insert(m_out.end(), text.begin(), text.end()); }
    void append(char c) { m_out.push_back(static_cast<uint8_t>(c)); }

    void checkDepth(size_t depth) {
        if (depth > JSONSerialization::maximumDepth)
            throw WriteFailure{"Too many nested arrays or dictionaries in JSON write."};
    }

    // Pretty output puts each member on its own line, indented two spaces per level.
    void newline(size_t depth) {
        if (!m_pretty)
            return;
        append('\n');
        m_out.insert(m_out.end(), depth * 2, static_cast<uint8_t>(' '));
    }

    // An empty container is "[]" compactly, but "[", a blank line and "]" when pretty-printed.
    void writeEmpty(char open, char close, size_t depth) {
        append(open);
        if (m_pretty) {
            append('\n');
            newline(depth - 1);
        }
        append(close);
    }

    void writeArray(const ValueArray& members, size_t depth) {
        checkDepth(depth);
        if (members.empty()) {
            writeEmpty('[', ']', depth);
            return;
        }
        append('[');
        for (size_t i = 0; i < members.size(); ++i) {
            if (i)
                append(',');
            newline(depth);
            write(members[i], depth);
        }
        newline(depth - 1);
        append(']');
    }

    void writeDictionary(const ValueDictionary& dictionary, size_t depth) {
        checkDepth(depth);
        if (dictionary.empty()) {
            writeEmpty('{', '}', depth);
            return;
        }
        std::vector<const ValueDictionary::Entry*> entries;
        entries.reserve(dictionary.size());
        for (const auto& entry : dictionary)
            entries.push_back(&entry);
        if (m_sorted)
            std::sort(entries.begin(), entries.end(), keyLess);
        append('{');
        for (size_t i = 0; i < entries.size(); ++i) {
            if (i)
                append(',');
            newline(depth);
            writeString(entries[i]->first);
            append(m_pretty ? " : " : ":");
            write(entries[i]->second, depth);
        }
        newline(depth - 1);
        append('}');
    }

    void writeString(std::string_view text) {
        if (!simdjson::validate_utf8(text.data(), text.size()))
            throw WriteFailure{"Invalid UTF-8 string in JSON write."};
        append('"');
        size_t runStart = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            if (c >= 0x20 && c != '"' && c != '\\' && (c != '/' || !m_escapeSlashes))
                continue;
            append(text.substr(runStart, i - runStart));
            runStart = i + 1;
            switch (c) {
            case '"':
                append("\\\"");
                break;
            case '\\':
                append("\\\\");
                break;
            case '/':
                append("\\/");
                break;
            case '\b':
                append("\\b");
                break;
            case '\f':
                append("\\f");
                break;
            case '\n':
                append("\\n");
                break;
            case '\r':
                append("\\r");
                break;
            case '\t':
                append("\\t");
                break;
            default:
                append(fmt::format("\\u{:04x}", c));
                break;
            }
        }
        append(text.substr(runStart));
        append('"');
    }

    void writeNumber(const Number& number) {
        char buffer[32];
        switch (number.kind()) {
        case Number::Kind::Bool:
            append(number.boolValue() ? "true" : "false");
            return;
        case Number::Kind::Int:
            append({buffer, std::to_chars(buffer, buffer + sizeof buffer, number.int64Value()).ptr});
            return;
        case Number::Kind::UInt:
            append({buffer, std::to_chars(buffer, buffer + sizeof buffer, number.uint64Value()).ptr});
            return;
        case Number::Kind::Float:
            writeFloatingPoint(number.floatValue());
            return;
        case Number::Kind::Double:
            writeFloatingPoint(number.doubleValue());
            return;
        case Number::Kind::Decimal:
            if (!detail::isJSONNumberText(number.decimalText()))
                throw WriteFailure{
                    fmt::format("Invalid number value ({}) in JSON write.", number.decimalText())};
            append(number.decimalText());
            return;
        }
    }

    // The shortest digits that read back to the same value, laid out positionally for decimal
    // exponents -4 to 20 and in C's exponent style ("1.5e-07", "1e+21") outside that range.
    template <typename Floating> void writeFloatingPoint(Floating value) {
        if (std::isnan(value))
            throw WriteFailure{"Invalid number value (NaN) in JSON write."};
        if (std::isinf(value))
            throw WriteFailure{"Invalid number value (infinite) in JSON write."};
        char buffer[64];
        char* end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
        std::string_view scientific(buffer, static_cast<size_t>(end - buffer));
        size_t e = scientific.find('e');
        int exponent = 0;
        std::string_view exponentText = scientific.substr(e + 1);
        if (exponentText.starts_with('+'))
            exponentText.remove_prefix(1);
        std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
        if (exponent < -4 || exponent > 20) {
            append(scientific);
            return;
        }
        std::string_view mantissa = scientific.substr(0, e);
        if (mantissa.starts_with('-')) {
            append('-');
            mantissa.remove_prefix(1);
        }
        std::string digits;
        for (char c : mantissa) {
            if (c != '.')
                digits += c;
        }
        if (exponent < 0) {
            append("0.");
            m_out.insert(m_out.end(), static_cast<size_t>(-exponent - 1), static_cast<uint8_t>('0'));
            append(digits);
        } else if (static_cast<size_t>(exponent) + 1 >= digits.size()) {
            append(digits);
            m_out.insert(m_out.end(), static_cast<size_t>(exponent) + 1 - digits.size(),
                         static_cast<uint8_t>('0'));
        } else {
            append(std::string_view(digits).substr(0, static_cast<size_t>(exponent) + 1));
            append('.');
            append(std::string_view(digits).substr(static_cast<size_t>(exponent) + 1));
        }
    }

    bool m_pretty{false};
    bool m_sorted{false};
    bool m_escapeSlashes{true};
    std::vector<uint8_t> m_out;
};

} // namespace

std::optional<Data> JSONSerialization::dataWithJSONObject(const Value& object, JSONWritingOptions options,
                                                          ErrorPtr* error) {
    try {
        if (!(options & NSJSONWritingFragmentsAllowed) && !object.isArray() && !object.isDictionary())
            throw WriteFailure{"Invalid top-level type in JSON write."};
        Writer writer(options);
        writer.write(object, 0);
        return Data(writer.take());
    } catch (const WriteFailure& failure) {
        setError(error,
                 Error::withDescription(NSCocoaErrorDomain, writeInvalidErrorCode, failure.description));
        return std::nullopt;
    }
}

bool JSONSerialization::isValidJSONObject(const Value& object) {
    return dataWithJSONObject(object).has_value();
}

} // namespace platform
