#include "platform/foundation/Text.h"

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace platform::text {

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

unsigned utf16Units(char32_t codePoint) {
    return codePoint >= 0x10000 ? 2 : 1;
}

bool isWhitespace(char32_t c) {
    return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isNewline(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isWhitespaceOrNewline(char32_t c) {
    return isWhitespace(c) || isNewline(c);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

size_t skipWhitespaceAndNewlines(std::string_view text, size_t i = 0) {
    while (i < text.size()) {
        auto d = decodeUTF8(text, i);
        if (!isWhitespaceOrNewline(d.codePoint))
            break;
        i += d.length;
    }
    return i;
}

template <typename Predicate> std::string trimming(std::string_view text, Predicate inSet) {
    size_t begin = 0;
    while (begin < text.size()) {
        auto d = decodeUTF8(text, begin);
        if (!inSet(d.codePoint))
            break;
        begin += d.length;
    }
    if (begin == text.size())
        return std::string();
    // A byte below 0x80 is always a character of its own, never part of a longer sequence: a text
    // that ends in one that stays (nearly every text) needs no walk through what lies between.
    if (auto last = static_cast<unsigned char>(text.back()); last < 0x80 && !inSet(char32_t(last)))
        return std::string(text.substr(begin));
    size_t end = begin;
    for (size_t i = begin; i < text.size();) {
        auto d = decodeUTF8(text, i);
        if (!inSet(d.codePoint))
            end = i + d.length;
        i += d.length;
    }
    return std::string(text.substr(begin, end - begin));
}

// Reads [sign] digits from `i`, saturating. Stops at the first non-digit.
int64_t readInteger(std::string_view text) {
    size_t i = skipWhitespaceAndNewlines(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // The magnitude may reach 2^63 for INT64_MIN; anything beyond saturates.
    constexpr uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1;
    uint64_t magnitude = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        if (magnitude > (limit - static_cast<unsigned>(text[i] - '0')) / 10) {
            magnitude = limit;
            // Keep consuming digits: the value stays saturated.
            continue;
        }
        magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (negative)
        return magnitude == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
    return magnitude >= limit ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(magnitude);
}

// The length of the decimal number (sign, digits, fraction, exponent) starting at `i`, 0 if none.
size_t decimalPrefixLength(std::string_view text, size_t i, bool* isIntegral = nullptr) {
    size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    for (; i < text.size() && isDigit(text[i]); ++i)
        ++digits;
    bool integral = true;
    if (i < text.size() && text[i] == '.') {
        size_t fraction = 0;
        size_t j = i + 1;
        for (; j < text.size() && isDigit(text[j]); ++j)
            ++fraction;
        if (digits + fraction > 0) {
            i = j;
            digits += fraction;
            integral = false;
        }
    }
    if (digits == 0)
        return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j]))
                ++j;
            i = j;
            integral = false;
        }
    }
    if (isIntegral)
        *isIntegral = integral;
    return i - start;
}

// strtod reads the decimal point of the current C locale; numbers here always use '.'.
double parseDecimal(std::string_view number) {
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    std::string copy(number);
    return strtod_l(copy.c_str(), nullptr, cLocale);
}

} // namespace

Decoded decodeUTF8(std::string_view text, size_t offset) {
    const Decoded malformed{replacementCharacter, 1};
    auto b0 = static_cast<uint8_t>(text[offset]);
    if (b0 < 0x80)
        return {b0, 1};
    uint8_t length;
    char32_t codePoint;
    char32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        codePoint = b0 & 0x1F;
        minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        codePoint = b0 & 0x0F;
        minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        codePoint = b0 & 0x07;
        minimum = 0x10000;
    } else {
        return malformed;
    }
    if (text.size() - offset < length)
        return malformed;
    for (size_t k = 1; k < length; ++k) {
        auto b = static_cast<uint8_t>(text[offset + k]);
        if ((b & 0xC0) != 0x80)
            return malformed;
        codePoint = (codePoint << 6) | (b & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return malformed;
    return {codePoint, length};
}

void appendUTF8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = replacementCharacter;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isValidUTF8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        if (static_cast<uint8_t>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        auto d = decodeUTF8(text, i);
        if (d.length == 1)
            return false;
        i += d.length;
    }
    return true;
}

uint64_t utf16Length(std::string_view text) {
    uint64_t units = 0;
    for (size_t i = 0; i < text.size();) {
        if (static_cast<uint8_t>(text[i]) < 0x80) {
            ++units;
            ++i;
            continue;
        }
        auto d = decodeUTF8(text, i);
        units += utf16Units(d.codePoint);
        i += d.length;
    }
    return units;
}

std::u16string toUTF16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        auto d = decodeUTF8(text, i);
        if (d.codePoint >= 0x10000) {
            char32_t v = d.codePoint - 0x10000;
            out += static_cast<char16_t>(0xD800 + (v >> 10));
            out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        } else {
            out += static_cast<char16_t>(d.codePoint);
        }
        i += d.length;
    }
    return out;
}

namespace {

// Decodes UTF-16; a lone surrogate becomes U+FFFD, or ends the decoding (nullopt) when `exactly`.
std::optional<std::string> decodeUTF16(std::u16string_view text, bool exactly) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (exactly && c >= 0xD800 && c <= 0xDFFF) {
            return std::nullopt;
        }
        appendUTF8(out, c); // a lone surrogate is written as U+FFFD
    }
    return out;
}

} // namespace

std::string fromUTF16(std::u16string_view text) {
    return *decodeUTF16(text, false);
}

std::optional<std::string> fromUTF16Exactly(std::u16string_view text) {
    return decodeUTF16(text, true);
}

size_t byteOffsetOfUTF16Index(std::string_view text, uint64_t index) {
    uint64_t units = 0;
    for (size_t i = 0; i < text.size();) {
        if (units >= index)
            return i;
        auto d = decodeUTF8(text, i);
        unsigned u = utf16Units(d.codePoint);
        if (units + u > index)
            return i;
        units += u;
        i += d.length;
    }
    return text.size();
}

uint64_t utf16IndexOfByteOffset(std::string_view text, size_t byteOffset) {
    uint64_t units = 0;
    byteOffset = std::min(byteOffset, text.size());
    for (size_t i = 0; i < byteOffset;) {
        auto d = decodeUTF8(text, i);
        if (i + d.length > byteOffset)
            break;
        units += utf16Units(d.codePoint);
        i += d.length;
    }
    return units;
}

std::string substringToIndex(std::string_view text, uint64_t index) {
    return std::string(text.substr(0, byteOffsetOfUTF16Index(text, index)));
}

std::string substringFromIndex(std::string_view text, uint64_t index) {
    return std::string(text.substr(byteOffsetOfUTF16Index(text, index)));
}

std::string substringWithRange(std::string_view text, Range range) {
    size_t begin = byteOffsetOfUTF16Index(text, range.location);
    uint64_t endIndex =
        range.length > UINT64_MAX - range.location ? UINT64_MAX : range.location + range.length;
    size_t end = byteOffsetOfUTF16Index(text.substr(begin), endIndex - std::min(endIndex, range.location));
    return std::string(text.substr(begin, end));
}

int64_t integerValue(std::string_view text) {
    return readInteger(text);
}

int64_t longLongValue(std::string_view text) {
    return readInteger(text);
}

int32_t intValue(std::string_view text) {
    return static_cast<int32_t>(std::clamp<int64_t>(readInteger(text), std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

double doubleValue(std::string_view text) {
    size_t i = skipWhitespaceAndNewlines(text);
    size_t length = decimalPrefixLength(text, i);
    return length == 0 ? 0.0 : parseDecimal(text.substr(i, length));
}

float floatValue(std::string_view text) {
    return static_cast<float>(doubleValue(text));
}

bool boolValue(std::string_view text) {
    size_t i = skipWhitespaceAndNewlines(text);
    if (i >= text.size())
        return false;
    char c = text[i];
    if (c == 'Y' || c == 'y' || c == 'T' || c == 't')
        return true;
    if (c == '+' || c == '-')
        ++i;
    while (i < text.size() && text[i] == '0')
        ++i;
    return i < text.size() && text[i] >= '1' && text[i] <= '9';
}

std::optional<Number> numberFromString(std::string_view text) {
    bool integral = false;
    if (text.empty() || decimalPrefixLength(text, 0, &integral) != text.size())
        return std::nullopt;
    if (!integral)
        return Number::real(parseDecimal(text));
    bool negative = text[0] == '-';
    std::string_view digits = (text[0] == '+' || text[0] == '-') ? text.substr(1) : text;
    uint64_t magnitude = 0;
    for (char c : digits) {
        auto digit = static_cast<unsigned>(c - '0');
        if (magnitude > (UINT64_MAX - digit) / 10)
            return Number::real(parseDecimal(text));
        magnitude = magnitude * 10 + digit;
    }
    constexpr uint64_t int64Limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (magnitude > int64Limit + 1)
            return Number::real(parseDecimal(text));
        return Number::integer(magnitude == int64Limit + 1 ? std::numeric_limits<int64_t>::min()
                                                           : -static_cast<int64_t>(magnitude));
    }
    if (magnitude > int64Limit)
        return Number::unsignedInteger(magnitude);
    return Number::integer(static_cast<int64_t>(magnitude));
}

std::string lowercaseASCII(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string uppercaseASCII(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string trimmingWhitespace(std::string_view text) {
    return trimming(text, isWhitespace);
}

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
    return trimming(text, isWhitespaceOrNewline);
}

std::vector<std::string> componentsSeparatedByString(std::string_view text, std::string_view separator) {
    std::vector<std::string> parts;
    if (separator.empty())
        return {std::string(text)};
    size_t start = 0;
    for (size_t found; (found = text.find(separator, start)) != std::string_view::npos;) {
        parts.emplace_back(text.substr(start, found - start));
        start = found + separator.size();
    }
    parts.emplace_back(text.substr(start));
    return parts;
}

std::string stringByReplacingOccurrencesOfString(std::string_view text, std::string_view target,
                                                 std::string_view replacement) {
    if (target.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t start = 0;
    for (size_t found; (found = text.find(target, start)) != std::string_view::npos;) {
        out.append(text.substr(start, found - start));
        out.append(replacement);
        start = found + target.size();
    }
    out.append(text.substr(start));
    return out;
}

} // namespace platform::text
