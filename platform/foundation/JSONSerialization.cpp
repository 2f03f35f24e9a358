#include "platform/foundation/JSONSerialization.h"

#include <cstring>
#include <fmt/format.h>
#include <memory>
#include <simdjson.h>
#include <string>
#include <vector>

namespace platform {

namespace ondemand = simdjson::ondemand;

namespace detail {

bool isJSONNumberText(std::string_view text) {
    size_t i = 0;
    const size_t n = text.size();
    auto digits = [&] {
        size_t start = i;
        while (i < n && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i > start;
    };
    if (i < n && text[i] == '-')
        ++i;
    if (i < n && text[i] == '0')
        ++i;
    else if (i >= n || text[i] < '1' || text[i] > '9' || !digits())
        return false;
    if (i < n && text[i] == '.') {
        ++i;
        if (!digits())
            return false;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (!digits())
            return false;
    }
    return i == n;
}

} // namespace detail

namespace {

// A failure with its description ready; thrown inside the reader only, caught at its entry point.
struct ReadFailure {
    std::string description;
};

// A failure reported by the parser library; the entry point describes it, knowing where it stopped.
struct ParserFailure {
    simdjson::error_code code;
};

void check(simdjson::error_code code) {
    if (code != simdjson::SUCCESS)
        throw ParserFailure{code};
}

// Each thread keeps its parser and its padded copy of the input, so the many small replies an
// application reads do not allocate parser buffers each time. The library reads up to
// SIMDJSON_PADDING bytes past the text, hence the copy: a caller's Data has no such slack.
// Buffers grown for an unusually large document are given back afterwards.
struct ThreadParser {
    simdjson::dom::parser tree;
    ondemand::parser parser;
    std::vector<char> buffer;
};

constexpr size_t kRetainedBufferSize = 8 << 20;

ThreadParser& threadParser() {
    thread_local ThreadParser parser;
    return parser;
}

std::string_view trimTrailingWhitespace(std::string_view text) {
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The offset of the first byte that does not belong to a well-formed UTF-8 sequence (overlong forms,
// surrogates and code points past U+10FFFF are ill-formed), or the length when there is none.
size_t invalidUTF8Offset(const uint8_t* bytes, size_t length) {
    size_t i = 0;
    while (i < length) {
        uint8_t c = bytes[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t extra;
        uint8_t low = 0x80, high = 0xBF; // the allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return i;
        }
        if (length - i <= extra)
            return i;
        for (size_t k = 1; k <= extra; ++k) {
            uint8_t next = bytes[i + k];
            if (k == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF))
                return i;
        }
        i += extra + 1;
    }
    return length;
}

// The offset of the first control character that appears raw inside a string, or npos.
size_t unescapedControlOffset(std::string_view text) {
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            else if (static_cast<unsigned char>(c) < 0x20)
                return i;
        } else if (c == '"') {
            inString = true;
        }
    }
    return std::string_view::npos;
}

std::string_view rawToken(ondemand::value& value) {
    return value.raw_json_token();
}

std::string_view rawToken(ondemand::document& document) {
    std::string_view token;
    return document.raw_json_token().get(token) == simdjson::SUCCESS ? token : std::string_view{};
}

class Reader {
public:
    // Offsets in messages count from the start of the caller's data, `skipped` bytes before `text`.
    Reader(std::string_view text, size_t skipped)
        : m_text(text.data())
        , m_end(text.data() + text.size())
        , m_skipped(skipped) {}

    Value readDocument(ondemand::document& document, bool fragmentsAllowed) {
        ondemand::json_type type;
        check(document.type().get(type));
        Value result;
        if (type == ondemand::json_type::array || type == ondemand::json_type::object) {
            ondemand::value root;
            check(document.get_value().get(root));
            result = container(root, type, 1);
        } else if (!fragmentsAllowed) {
            throw ReadFailure{
                "JSON text did not start with array or object and option to allow fragments not set."};
        } else {
            // The parser does not look past every kind of top-level scalar, nor past one it refused
            // (a number too large for it), so what follows the token is checked here.
            std::string_view token = rawToken(document);
            const char* after = token.data() + token.size();
            if (!trimTrailingWhitespace(std::string_view(after, static_cast<size_t>(m_end - after))).empty())
                throw ReadFailure{fmt::format("Garbage at end around character {}.", offset(after))};
            return scalar(document, type);
        }
        const char* rest = nullptr;
        if (document.current_location().get(rest) == simdjson::SUCCESS)
            throw ReadFailure{fmt::format("Garbage at end around character {}.", offset(rest))};
        return result;
    }

private:
    Value value(ondemand::value& value, size_t depth) {
        ondemand::json_type type;
        check(value.type().get(type));
        if (type == ondemand::json_type::array || type == ondemand::json_type::object)
            return container(value, type, depth + 1);
        return scalar(value, type);
    }

    Value container(ondemand::value& value, ondemand::json_type type, size_t depth) {
        if (depth > JSONSerialization::maximumDepth) {
            throw ReadFailure{fmt::format("Too many nested arrays or dictionaries around character {}.",
                                          offset(rawToken(value).data()))};
        }
        if (type == ondemand::json_type::array) {
            ondemand::array array;
            check(value.get_array().get(array));
            ValueArray members;
            for (auto element : array) {
                ondemand::value member;
                check(std::move(element).get(member));
                members.push_back(this->value(member, depth));
            }
            return Value(std::move(members));
        }
        ondemand::object object;
        check(value.get_object().get(object));
        ValueDictionary entries;
        for (auto element : object) {
            ondemand::field field;
            check(std::move(element).get(field));
            std::string_view key;
            check(field.unescaped_key().get(key));
            std::string ownKey(key); // the key's text lives in the parser only until the next string
            entries.set(std::move(ownKey), this->value(field.value(), depth));
        }
        return Value(std::move(entries));
    }

    template <typename Source> Value scalar(Source& source, ondemand::json_type type) {
        switch (type) {
        case ondemand::json_type::string: {
            std::string_view text;
            check(source.get_string().get(text));
            return Value(std::string(text));
        }
        case ondemand::json_type::number:
            return number(source);
        case ondemand::json_type::boolean: {
            bool flag = false;
            check(source.get_bool().get(flag));
            return Value(flag);
        }
        case ondemand::json_type::null: {
            bool isNull = false;
            check(source.is_null().get(isNull));
            if (!isNull)
                throw ParserFailure{simdjson::N_ATOM_ERROR};
            return Value::null();
        }
        default:
            throw ParserFailure{simdjson::INCORRECT_TYPE};
        }
    }

    template <typename Source> Value number(Source& source) {
        ondemand::number number;
        if (source.get_number().get(number) == simdjson::SUCCESS) {
            switch (number.get_number_type()) {
            case ondemand::number_type::signed_integer:
                // "-0" is how a negative zero double is written; an integer would lose its sign.
                if (number.get_int64() == 0 && rawToken(source).starts_with('-'))
                    return Value(Number::real(-0.0));
                return Value(Number::integer(number.get_int64()));
            case ondemand::number_type::unsigned_integer:
                return Value(Number::unsignedInteger(number.get_uint64()));
            case ondemand::number_type::floating_point_number:
                return Value(Number::real(number.get_double()));
            }
        }
        // The parser refuses integers beyond 64 bits and doubles beyond double's range; the
        // platform keeps those as decimal numbers with their exact text.
        std::string_view token = trimTrailingWhitespace(rawToken(source));
        if (token.empty() || !detail::isJSONNumberText(token)) {
            throw ReadFailure{fmt::format("Invalid number around character {}.",
                                          token.empty() ? m_skipped : offset(token.data()))};
        }
        return Value(Number::decimal(std::string(token)));
    }

    size_t offset(const char* at) const { return static_cast<size_t>(at - m_text) + m_skipped; }

    const char* m_text;
    const char* m_end;
    size_t m_skipped{0};
};

// The common case, read in one go: the parser validates the whole text into its tape first, so every
// container's size is known and each is allocated once. Anything this path does not build exactly as
// the stepwise Reader would (errors and their offsets, numbers beyond 64 bits or double's range,
// nesting past the limit, a top-level scalar) is left to the Reader.
class TreeReader {
public:
    // Nothing when the Reader must take the text.
    static std::optional<Value> read(simdjson::dom::parser& parser, const char* text, size_t length,
                                     size_t capacity, bool fragmentsAllowed) {
        simdjson::dom::element root;
        if (parser.parse(text, length, capacity < length + simdjson::SIMDJSON_PADDING).get(root))
            return std::nullopt;
        if (!fragmentsAllowed && !root.is_array() && !root.is_object())
            return std::nullopt;
        try {
            bool sawZero = false;
            Value result = build(root, 1, sawZero);
            // The tape keeps no sign for an integer zero: "-0", which must become a double, goes the
            // slow way. Only a text with a zero in it is searched for one.
            if (sawZero && writesNegativeZero(std::string_view(text, length)))
                return std::nullopt;
            return result;
        } catch (const TooDeep&) {
            return std::nullopt;
        }
    }

private:
    struct TooDeep {};

    static bool writesNegativeZero(std::string_view text) {
        for (size_t at = text.find("-0"); at != std::string_view::npos; at = text.find("-0", at + 2)) {
            char next = at + 2 < text.size() ? text[at + 2] : ' ';
            if (!(next >= '0' && next <= '9') && next != '.' && next != 'e' && next != 'E')
                return true;
        }
        return false;
    }

    // Builds straight into a collection's new nil member, so the value is never moved on its way in.
    // A nil Value holds nothing, so its storage is reused without running its destructor first.
    static void buildInto(Value& member, simdjson::dom::element element, size_t depth, bool& sawZero) {
        try {
            ::new (static_cast<void*>(&member)) Value(build(element, depth, sawZero));
        } catch (...) {
            ::new (static_cast<void*>(&member)) Value();
            throw;
        }
    }

    static Value build(simdjson::dom::element element, size_t depth, bool& sawZero) {
        using simdjson::dom::element_type;
        switch (element.type()) {
        case element_type::ARRAY: {
            if (depth > JSONSerialization::maximumDepth)
                throw TooDeep{};
            simdjson::dom::array array = element.get_array().value_unsafe();
            ValueArray members;
            members.reserve(array.size());
            for (simdjson::dom::element member : array)
                buildInto(members.emplace_back(), member, depth + 1, sawZero);
            return Value(std::move(members));
        }
        case element_type::OBJECT: {
            if (depth > JSONSerialization::maximumDepth)
                throw TooDeep{};
            simdjson::dom::object object = element.get_object().value_unsafe();
            ValueDictionaryBuilder entries(object.size());
            for (simdjson::dom::key_value_pair field : object)
                buildInto(entries.append(field.key), field.value, depth + 1, sawZero);
            return entries.finish();
        }
        case element_type::STRING:
            return Value(element.get_string().value_unsafe());
        case element_type::INT64: {
            int64_t number = element.get_int64().value_unsafe();
            sawZero = sawZero || number == 0;
            return Value(Number::integer(number));
        }
        case element_type::UINT64:
            return Value(Number::unsignedInteger(element.get_uint64().value_unsafe()));
        case element_type::DOUBLE:
            return Value(Number::real(element.get_double().value_unsafe()));
        case element_type::BOOL:
            return Value(element.get_bool().value_unsafe());
        case element_type::NULL_VALUE:
            break;
        }
        return Value::null();
    }
};

std::string describe(simdjson::error_code code, std::string_view text, size_t skipped,
                     std::optional<size_t> at) {
    auto around = [&](std::string_view what) {
        return at ? fmt::format("{} around character {}.", what, *at) : fmt::format("{}.", what);
    };
    switch (code) {
    case simdjson::UTF8_ERROR:
        return fmt::format("Unable to convert data to string around character {}.",
                           skipped +
                               invalidUTF8Offset(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    case simdjson::UNESCAPED_CHARS: {
        size_t offset = unescapedControlOffset(text);
        if (offset == std::string_view::npos)
            return "Unescaped control character in string.";
        return fmt::format("Unescaped control character around character {}.", skipped + offset);
    }
    case simdjson::EMPTY:
        return "No value.";
    case simdjson::UNCLOSED_STRING:
        return "Unterminated string.";
    case simdjson::STRING_ERROR:
        return around("Invalid escape sequence or unpaired surrogate in string");
    case simdjson::NUMBER_ERROR:
        return around("Invalid number");
    case simdjson::T_ATOM_ERROR:
    case simdjson::F_ATOM_ERROR:
    case simdjson::N_ATOM_ERROR:
    case simdjson::INCORRECT_TYPE:
        return around("Invalid value");
    case simdjson::DEPTH_ERROR:
        return around("Too many nested arrays or dictionaries");
    case simdjson::TRAILING_CONTENT:
        return around("Garbage at end");
    case simdjson::CAPACITY:
    case simdjson::MEMALLOC:
        return "JSON text is too large.";
    case simdjson::TAPE_ERROR:
    case simdjson::INCOMPLETE_ARRAY_OR_OBJECT:
    case simdjson::OUT_OF_BOUNDS:
        return at ? around("Badly formed JSON text") : "Unexpected end of file during JSON parse.";
    default:
        return around(fmt::format("Unable to parse JSON text ({})", simdjson::error_message(code)));
    }
}

ErrorPtr readError(std::string description) {
    return Error::withDescription(NSCocoaErrorDomain, JSONSerialization::readCorruptErrorCode,
                                  std::move(description));
}

} // namespace

Value JSONSerialization::JSONObjectWithData(const Data& data, JSONReadingOptions options, ErrorPtr* error) {
    return JSONObjectWithBytes(data.view(), options, error);
}

Value JSONSerialization::JSONObjectWithBytes(std::string_view text, JSONReadingOptions options,
                                             ErrorPtr* error) {
    if (text.empty()) {
        setError(error, readError("Unable to parse empty data."));
        return {};
    }
    size_t skipped = 0;
    if (text.starts_with("\xEF\xBB\xBF")) {
        skipped = 3;
        text.remove_prefix(skipped);
    }

    ThreadParser& thread = threadParser();
    thread.buffer.resize(text.size() + simdjson::SIMDJSON_PADDING);
    std::memcpy(thread.buffer.data(), text.data(), text.size());
    std::memset(thread.buffer.data() + text.size(), 0, simdjson::SIMDJSON_PADDING);
    const char* copy = thread.buffer.data();

    Value result;
    ErrorPtr failure;
    if (auto tree = TreeReader::read(thread.tree, copy, text.size(), thread.buffer.size(),
                                     (options & NSJSONReadingFragmentsAllowed) != 0)) {
        result = std::move(*tree);
    } else {
        ondemand::document document;
        Reader reader(std::string_view(copy, text.size()), skipped);
        bool started = false;
        try {
            check(thread.parser.iterate(copy, text.size(), thread.buffer.size()).get(document));
            started = true;
            result = reader.readDocument(document, (options & NSJSONReadingFragmentsAllowed) != 0);
        } catch (const ReadFailure& f) {
            failure = readError(f.description);
        } catch (const ParserFailure& f) {
            std::optional<size_t> at;
            const char* where = nullptr;
            if (started && document.current_location().get(where) == simdjson::SUCCESS && where >= copy &&
                where < copy + text.size())
                at = static_cast<size_t>(where - copy) + skipped;
            failure = readError(describe(f.code, text, skipped, at));
        }
    }

    if (thread.buffer.capacity() > kRetainedBufferSize) {
        thread.buffer = {};
        thread.parser = ondemand::parser{};
        thread.tree = simdjson::dom::parser{};
    }
    if (failure) {
        setError(error, std::move(failure));
        return {};
    }
    return result;
}

} // namespace platform
