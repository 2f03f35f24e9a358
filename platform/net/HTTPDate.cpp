#include "platform/net/HTTPDate.h"

#include "platform/foundation/CivilTime.h"

#include <cmath>
#include <fmt/format.h>

namespace platform::detail {

namespace {

bool isDelimiter(unsigned char c) {
    return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
           (c >= 0x7B && c <= 0x7E);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads minDigits..maxDigits digits at `pos`; the digits must not be followed by another digit.
std::optional<int> readNumber(std::string_view token, size_t& pos, size_t minDigits, size_t maxDigits) {
    size_t start = pos;
    int value = 0;
    while (pos < token.size() && isDigit(token[pos]) && pos - start < maxDigits)
        value = value * 10 + (token[pos++] - '0');
    if (pos - start < minDigits || (pos < token.size() && isDigit(token[pos])))
        return std::nullopt;
    return value;
}

struct Time {
    int hour, minute, second;
};

std::optional<Time> readTime(std::string_view token) {
    size_t pos = 0;
    auto hour = readNumber(token, pos, 1, 2);
    if (!hour || pos >= token.size() || token[pos++] != ':')
        return std::nullopt;
    auto minute = readNumber(token, pos, 1, 2);
    if (!minute || pos >= token.size() || token[pos++] != ':')
        return std::nullopt;
    auto second = readNumber(token, pos, 1, 2);
    if (!second)
        return std::nullopt;
    return Time{*hour, *minute, *second};
}

std::optional<int> readWholeNumber(std::string_view token, size_t minDigits, size_t maxDigits) {
    size_t pos = 0;
    return readNumber(token, pos, minDigits, maxDigits);
}

std::optional<unsigned> readMonth(std::string_view token) {
    static constexpr const char* names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                            "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() < 3)
        return std::nullopt;
    for (unsigned i = 0; i < 12; ++i) {
        bool same = true;
        for (size_t k = 0; k < 3; ++k)
            same = same && (token[k] | 0x20) == names[i][k];
        if (same)
            return i + 1;
    }
    return std::nullopt;
}

} // namespace

std::optional<Date> parseHTTPDate(std::string_view text) {
    std::optional<Time> time;
    std::optional<int> day;
    std::optional<unsigned> month;
    std::optional<int> year;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && isDelimiter(static_cast<unsigned char>(text[pos])))
            ++pos;
        size_t start = pos;
        while (pos < text.size() && !isDelimiter(static_cast<unsigned char>(text[pos])))
            ++pos;
        std::string_view token = text.substr(start, pos - start);
        if (token.empty())
            continue;
        if (!time) {
            if ((time = readTime(token)))
                continue;
        }
        if (!day) {
            if ((day = readWholeNumber(token, 1, 2)))
                continue;
        }
        if (!month) {
            if ((month = readMonth(token)))
                continue;
        }
        if (!year)
            year = readWholeNumber(token, 2, 4);
    }
    if (!time || !day || !month || !year)
        return std::nullopt;
    int fullYear = *year;
    if (fullYear >= 70 && fullYear <= 99)
        fullYear += 1900;
    else if (fullYear >= 0 && fullYear <= 69)
        fullYear += 2000;
    if (fullYear < 1601 || *day < 1 || static_cast<unsigned>(*day) > daysInMonth(fullYear, *month) ||
        time->hour > 23 || time->minute > 59 || time->second > 59)
        return std::nullopt;
    int64_t days = daysFromCivil(fullYear, *month, static_cast<unsigned>(*day));
    return Date(static_cast<double>(days * 86400 + time->hour * 3600 + time->minute * 60 + time->second));
}

std::string formatHTTPDate(Date date) {
    static constexpr const char* weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    auto seconds = static_cast<int64_t>(std::floor(date.timeIntervalSince1970()));
    int64_t days = floorDiv(seconds, 86400);
    int64_t rest = seconds - days * 86400;
    auto civil = civilFromDays(days);
    return fmt::format("{}, {:02} {} {:04} {:02}:{:02}:{:02} GMT", weekdays[weekdayFromDays(days)], civil.day,
                       months[civil.month - 1], civil.year, rest / 3600, rest % 3600 / 60, rest % 60);
}

} // namespace platform::detail
