#include "platform/foundation/DateFormatter.h"

#include "platform/foundation/CivilTime.h"
#include "platform/foundation/Clock.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fmt/format.h>
#include <vector>

namespace platform {

namespace {

constexpr std::array<std::string_view, 12> monthNames{"January",   "February", "March",    "April",
                                                      "May",       "June",     "July",     "August",
                                                      "September", "October",  "November", "December"};
constexpr std::array<std::string_view, 7> weekdayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};

// A date's wall-clock fields in some zone.
struct Fields {
    int64_t year{2000};
    unsigned month{1};
    unsigned day{1};
    unsigned dayOfYear{1};
    unsigned weekday{0};
    unsigned hour{0};
    unsigned minute{0};
    unsigned second{0};
    unsigned millisecond{0};
    int offset{0};
    bool isDaylight{false};
};

struct Token {
    char letter{0}; // 0 for literal text
    unsigned count{0};
    std::string literal;

    bool isNumeric() const {
        switch (letter) {
        case 'y':
        case 'u':
        case 'd':
        case 'D':
        case 'h':
        case 'H':
        case 'K':
        case 'k':
        case 'm':
        case 's':
        case 'S':
            return true;
        case 'M':
        case 'L':
            return count <= 2;
        default:
            return false;
        }
    }
};

constexpr std::string_view supportedLetters = "GyuMLdDEahHKkmsSZXxOz";

std::optional<std::vector<Token>> compile(std::string_view pattern) {
    std::vector<Token> tokens;
    auto appendLiteral = [&](std::string_view text) {
        if (tokens.empty() || tokens.back().letter != 0)
            tokens.push_back({});
        tokens.back().literal.append(text);
    };
    for (size_t i = 0; i < pattern.size();) {
        char c = pattern[i];
        if (c == '\'') {
            if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                appendLiteral("'");
                i += 2;
                continue;
            }
            // Quoted text runs to the next lone quote; '' inside it is a quote.
            std::string quoted;
            size_t j = i + 1;
            for (; j < pattern.size(); ++j) {
                if (pattern[j] == '\'') {
                    if (j + 1 < pattern.size() && pattern[j + 1] == '\'') {
                        quoted += '\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                quoted += pattern[j];
            }
            if (j >= pattern.size())
                return std::nullopt; // unterminated quote
            appendLiteral(quoted);
            i = j + 1;
            continue;
        }
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            if (supportedLetters.find(c) == std::string_view::npos)
                return std::nullopt;
            size_t j = i;
            while (j < pattern.size() && pattern[j] == c)
                ++j;
            tokens.push_back({c, static_cast<unsigned>(j - i), {}});
            i = j;
            continue;
        }
        appendLiteral(pattern.substr(i, 1));
        ++i;
    }
    return tokens;
}

bool isAmericanZone(std::string_view name) {
    return name.starts_with("America/") || name.starts_with("US/") || name == "Pacific/Honolulu" ||
           name == "EST5EDT" || name == "CST6CDT" || name == "MST7MDT" || name == "PST8PDT";
}

constexpr std::array<std::pair<std::string_view, int>, 12> americanAbbreviations{{
    {"EST", -5 * 3600},
    {"EDT", -4 * 3600},
    {"CST", -6 * 3600},
    {"CDT", -5 * 3600},
    {"MST", -7 * 3600},
    {"MDT", -6 * 3600},
    {"PST", -8 * 3600},
    {"PDT", -7 * 3600},
    {"AKST", -9 * 3600},
    {"AKDT", -8 * 3600},
    {"HST", -10 * 3600},
    {"HDT", -9 * 3600},
}};

// Offsets as the zone fields write them. `style`: 'b' +HHMM, 'e' +HH:MM, 'h' +HH[MM] (minutes only
// when not whole hours). Seconds, when the offset has any, follow in the same style if `seconds`.
std::string isoOffset(int offset, char style, bool seconds) {
    char sign = offset < 0 ? '-' : '+';
    int magnitude = std::abs(offset);
    int h = magnitude / 3600;
    int m = magnitude / 60 % 60;
    int s = magnitude % 60;
    std::string out = fmt::format("{}{:02}", sign, h);
    const char* separator = style == 'e' ? ":" : "";
    if (style != 'h' || m != 0 || (seconds && s != 0))
        out += fmt::format("{}{:02}", separator, m);
    if (seconds && s != 0)
        out += fmt::format("{}{:02}", separator, s);
    return out;
}

std::string gmtOffset(int offset, bool longForm) {
    if (offset == 0)
        return "GMT";
    char sign = offset < 0 ? '-' : '+';
    int magnitude = std::abs(offset);
    int h = magnitude / 3600;
    int m = magnitude / 60 % 60;
    int s = magnitude % 60;
    // Seconds appear only when the offset has them (local mean time before a zone's first
    // standard offset); dropping them would move the date when the text is read back.
    if (s != 0)
        return longForm ? fmt::format("GMT{}{:02}:{:02}:{:02}", sign, h, m, s)
                        : fmt::format("GMT{}{}:{:02}:{:02}", sign, h, m, s);
    if (longForm)
        return fmt::format("GMT{}{:02}:{:02}", sign, h, m);
    return m == 0 ? fmt::format("GMT{}{}", sign, h) : fmt::format("GMT{}{}:{:02}", sign, h, m);
}

void appendNumber(std::string& out, int64_t value, unsigned width) {
    if (value < 0) {
        out += '-';
        value = -value;
    }
    out += fmt::format("{:0{}}", value, width);
}

void appendDateField(std::string& out, const Token& token, const Fields& f) {
    unsigned n = token.count;
    int64_t eraYear = f.year > 0 ? f.year : 1 - f.year;
    switch (token.letter) {
    case 'G':
        out += n == 4   ? (f.year > 0 ? "Anno Domini" : "Before Christ")
               : n == 5 ? (f.year > 0 ? "A" : "B")
                        : (f.year > 0 ? "AD" : "BC");
        break;
    case 'y':
        if (n == 2)
            appendNumber(out, eraYear % 100, 2);
        else
            appendNumber(out, eraYear, n);
        break;
    case 'u':
        appendNumber(out, f.year, n);
        break;
    case 'M':
    case 'L':
        if (n <= 2)
            appendNumber(out, f.month, n);
        else if (n == 3)
            out += monthNames[f.month - 1].substr(0, 3);
        else if (n == 4)
            out += monthNames[f.month - 1];
        else
            out += monthNames[f.month - 1].substr(0, 1);
        break;
    case 'd':
        appendNumber(out, f.day, n);
        break;
    case 'D':
        appendNumber(out, f.dayOfYear, n);
        break;
    case 'E':
        out += n == 4 ? weekdayNames[f.weekday]
                      : weekdayNames[f.weekday].substr(0, n == 5   ? 1
                                                          : n == 6 ? 2
                                                                   : 3);
        break;
    default:
        break;
    }
}

void appendTimeField(std::string& out, const Token& token, const Fields& f) {
    unsigned n = token.count;
    switch (token.letter) {
    case 'a':
        out += f.hour < 12 ? "AM" : "PM";
        break;
    case 'h':
        appendNumber(out, f.hour % 12 == 0 ? 12 : f.hour % 12, n);
        break;
    case 'K':
        appendNumber(out, f.hour % 12, n);
        break;
    case 'H':
        appendNumber(out, f.hour, n);
        break;
    case 'k':
        appendNumber(out, f.hour == 0 ? 24 : f.hour, n);
        break;
    case 'm':
        appendNumber(out, f.minute, n);
        break;
    case 's':
        appendNumber(out, f.second, n);
        break;
    case 'S': {
        // The platform keeps milliseconds and truncates, never rounds, to the pattern's width.
        std::string digits = fmt::format("{:03}", f.millisecond);
        digits.resize(std::max<size_t>(n, 3), '0');
        out += digits.substr(0, n);
        break;
    }
    default:
        break;
    }
}

void appendZoneField(std::string& out, const Token& token, const Fields& f, const TimeZone& zone, Date date) {
    unsigned n = token.count;
    switch (token.letter) {
    case 'Z':
        if (n <= 3)
            out += isoOffset(f.offset, 'b', true); // +HHMM, +HHMMSS when the offset has seconds
        else if (n == 4)
            out += gmtOffset(f.offset, true);
        else
            out += f.offset == 0 ? "Z" : isoOffset(f.offset, 'e', true);
        break;
    case 'X':
    case 'x':
        if (token.letter == 'X' && f.offset == 0) {
            out += 'Z';
            break;
        }
        out += isoOffset(f.offset, n == 1 ? 'h' : (n == 3 || n == 5) ? 'e' : 'b', n >= 4);
        break;
    case 'O':
        out += gmtOffset(f.offset, n >= 4);
        break;
    case 'z': {
        if (n <= 3 && isAmericanZone(zone.name())) {
            auto abbreviation = zone.abbreviationForDate(date);
            for (const auto& [name, offset] : americanAbbreviations)
                if (name == abbreviation) {
                    out += abbreviation;
                    return;
                }
        }
        out += gmtOffset(f.offset, n >= 4);
        break;
    }
    default:
        break;
    }
}

void appendField(std::string& out, const Token& token, const Fields& f, const TimeZone& zone, Date date) {
    if (std::string_view("GyuMLdDE").find(token.letter) != std::string_view::npos)
        appendDateField(out, token, f);
    else if (std::string_view("ahKHkmsS").find(token.letter) != std::string_view::npos)
        appendTimeField(out, token, f);
    else
        appendZoneField(out, token, f, zone, date);
}

// Reads text against the compiled pattern.
class Reader {
public:
    Reader(std::string_view text, const std::vector<Token>& tokens)
        : m_text(text)
        , m_tokens(tokens) {}

    struct Result {
        int64_t year{2000};
        bool bc{false};
        std::optional<unsigned> month;
        unsigned day{1};
        std::optional<unsigned> dayOfYear;
        std::optional<unsigned> hour24;
        std::optional<unsigned> hour12; // 0-11
        bool pm{false};
        unsigned minute{0};
        unsigned second{0};
        double fraction{0};
        std::optional<int> offset;
    };

    std::optional<Result> read() {
        Result r;
        for (size_t i = 0; i < m_tokens.size(); ++i) {
            const Token& token = m_tokens[i];
            bool abutting = token.isNumeric() && i + 1 < m_tokens.size() && m_tokens[i + 1].isNumeric();
            if (!field(token, abutting, r))
                return std::nullopt;
        }
        if (m_pos != m_text.size())
            return std::nullopt;
        return r;
    }

private:
    bool field(const Token& token, bool abutting, Result& r) {
        if (token.letter == 0) {
            if (!m_text.substr(m_pos).starts_with(token.literal))
                return false;
            m_pos += token.literal.size();
            return true;
        }
        if (std::string_view("GyuMLdDE").find(token.letter) != std::string_view::npos)
            return dateField(token, abutting, r);
        if (std::string_view("ahKHkmsS").find(token.letter) != std::string_view::npos)
            return timeField(token, abutting, r);
        if (std::string_view("ZXxOz").find(token.letter) != std::string_view::npos) {
            r.offset = offset();
            return r.offset.has_value();
        }
        return false;
    }

    bool dateField(const Token& token, bool abutting, Result& r) {
        unsigned n = token.count;
        switch (token.letter) {
        case 'G': {
            auto era = word({"Anno Domini", "Before Christ", "AD", "BC", "A", "B"});
            if (!era)
                return false;
            r.bc = *era % 2 == 1;
            return true;
        }
        case 'y': {
            size_t start = m_pos;
            auto v = digits(abutting ? n : 0, 9);
            if (!v)
                return false;
            r.year = *v;
            if (n == 2 && m_pos - start == 2)
                r.year = twoDigitYear(*v);
            // Years of an era count from 1: a year 0 would be written back as 1.
            return r.year != 0;
        }
        case 'u': {
            bool negative = m_pos < m_text.size() && m_text[m_pos] == '-';
            m_pos += negative;
            auto v = digits(abutting ? n : 0, 9);
            if (!v)
                return false;
            r.year = negative ? -*v : *v;
            r.bc = false;
            return true;
        }
        case 'M':
        case 'L':
            if (n <= 2)
                return number(abutting ? n : 0, 1, 12, r.month);
            if (auto month = monthName()) {
                r.month = *month;
                return true;
            }
            return false;
        case 'd': {
            std::optional<unsigned> day;
            if (!number(abutting ? n : 0, 1, 31, day))
                return false;
            r.day = *day;
            return true;
        }
        case 'D':
            return number(abutting ? n : 0, 1, 366, r.dayOfYear);
        case 'E': {
            std::vector<std::string_view> names;
            for (auto name : weekdayNames)
                names.push_back(name);
            for (auto name : weekdayNames)
                names.push_back(name.substr(0, 3));
            return word(names).has_value();
        }
        default:
            return false;
        }
    }

    bool timeField(const Token& token, bool abutting, Result& r) {
        unsigned n = token.count;
        switch (token.letter) {
        case 'a': {
            auto v = word({"AM", "PM"});
            if (!v)
                return false;
            r.pm = *v == 1;
            return true;
        }
        case 'h':
        case 'K': {
            std::optional<unsigned> v;
            if (!number(abutting ? n : 0, token.letter == 'h' ? 1 : 0, token.letter == 'h' ? 12 : 11, v))
                return false;
            r.hour12 = *v % 12;
            return true;
        }
        case 'H':
            return number(abutting ? n : 0, 0, 23, r.hour24);
        case 'k': {
            std::optional<unsigned> v;
            if (!number(abutting ? n : 0, 1, 24, v))
                return false;
            r.hour24 = *v % 24;
            return true;
        }
        case 'm':
        case 's': {
            std::optional<unsigned> v;
            if (!number(abutting ? n : 0, 0, 59, v))
                return false;
            (token.letter == 'm' ? r.minute : r.second) = *v;
            return true;
        }
        case 'S': {
            size_t start = m_pos;
            size_t limit = abutting ? n : SIZE_MAX;
            while (m_pos < m_text.size() && m_pos - start < limit && isDigit(m_text[m_pos]))
                ++m_pos;
            if (m_pos == start || (abutting && m_pos - start != n))
                return false;
            double scale = 0.1;
            r.fraction = 0;
            for (size_t i = start; i < m_pos && i < start + 9; ++i, scale /= 10)
                r.fraction += (m_text[i] - '0') * scale;
            return true;
        }
        default:
            return false;
        }
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    // Exactly `width` digits when width > 0, else any number; either way a value of at most
    // `maximum` digits. Leading zeros do not count: a wide pattern pads the values it writes.
    std::optional<int64_t> digits(unsigned width, unsigned maximum) {
        size_t start = m_pos;
        size_t significant = 0;
        int64_t v = 0;
        while (m_pos < m_text.size() && (width == 0 || m_pos - start < width) && isDigit(m_text[m_pos])) {
            if (significant > 0 || m_text[m_pos] != '0') {
                if (++significant > maximum)
                    return std::nullopt;
                v = v * 10 + (m_text[m_pos] - '0');
            }
            ++m_pos;
        }
        size_t count = m_pos - start;
        if (count == 0 || (width > 0 && count != width))
            return std::nullopt;
        return v;
    }

    bool number(unsigned width, unsigned minimum, unsigned maximum, std::optional<unsigned>& out) {
        auto v = digits(width, 9);
        if (!v || *v < minimum || *v > maximum)
            return false;
        out = static_cast<unsigned>(*v);
        return true;
    }

    // The longest of `choices` at the current position, ignoring ASCII case; its index.
    std::optional<size_t> word(std::initializer_list<std::string_view> choices) {
        return word(std::vector<std::string_view>(choices));
    }

    std::optional<size_t> word(const std::vector<std::string_view>& choices) {
        std::optional<size_t> best;
        auto rest = m_text.substr(m_pos);
        for (size_t i = 0; i < choices.size(); ++i) {
            auto choice = choices[i];
            if (rest.size() < choice.size() || (best && choices[*best].size() >= choice.size()))
                continue;
            auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
            bool same = true;
            for (size_t k = 0; k < choice.size() && same; ++k)
                same = lower(rest[k]) == lower(choice[k]);
            if (same)
                best = i;
        }
        if (best)
            m_pos += choices[*best].size();
        return best;
    }

    std::optional<unsigned> monthName() {
        std::vector<std::string_view> names;
        for (auto name : monthNames)
            names.push_back(name);
        for (auto name : monthNames)
            names.push_back(name.substr(0, 3));
        auto v = word(names);
        return v ? std::optional<unsigned>(static_cast<unsigned>(*v % 12 + 1)) : std::nullopt;
    }

    // +HH, +HHMM, +HH:MM, with optional seconds; "Z"; GMT/UTC/UT with an optional +H[H][:MM] or
    // +HHMM; the United States' zone abbreviations.
    std::optional<int> offset() {
        auto rest = m_text.substr(m_pos);
        if (!rest.empty() && rest[0] == 'Z') {
            ++m_pos;
            return 0;
        }
        for (const auto& [name, value] : americanAbbreviations)
            if (rest.starts_with(name)) {
                m_pos += name.size();
                return value;
            }
        bool gmt = false;
        for (std::string_view prefix : {"GMT", "UTC", "UT"})
            if (rest.starts_with(prefix)) {
                m_pos += prefix.size();
                gmt = true;
                break;
            }
        if (m_pos >= m_text.size() || (m_text[m_pos] != '+' && m_text[m_pos] != '-'))
            return gmt ? std::optional<int>(0) : std::nullopt;
        int sign = m_text[m_pos++] == '-' ? -1 : 1;
        size_t start = m_pos;
        while (m_pos < m_text.size() && m_pos - start < 6 && isDigit(m_text[m_pos]))
            ++m_pos;
        std::string_view run = m_text.substr(start, m_pos - start);
        auto two = [](std::string_view s, size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); };
        int hours = 0;
        int minutes = 0;
        int seconds = 0;
        if (run.size() == 1 && gmt) {
            hours = run[0] - '0';
        } else if (run.size() == 2) {
            hours = two(run, 0);
        } else if (run.size() == 4) {
            hours = two(run, 0);
            minutes = two(run, 2);
        } else if (run.size() == 6) {
            hours = two(run, 0);
            minutes = two(run, 2);
            seconds = two(run, 4);
        } else {
            return std::nullopt;
        }
        if (run.size() <= 2 && m_pos < m_text.size() && m_text[m_pos] == ':') {
            ++m_pos;
            auto m = digits(2, 2);
            if (!m)
                return std::nullopt;
            minutes = static_cast<int>(*m);
            if (m_pos < m_text.size() && m_text[m_pos] == ':') {
                ++m_pos;
                auto s = digits(2, 2);
                if (!s)
                    return std::nullopt;
                seconds = static_cast<int>(*s);
            }
        }
        if (hours > 23 || minutes > 59 || seconds > 59)
            return std::nullopt;
        return sign * (hours * 3600 + minutes * 60 + seconds);
    }

    // A two-digit year lands in the century that starts 80 years before now.
    static int64_t twoDigitYear(int64_t twoDigits) {
        auto days = detail::floorDiv(static_cast<int64_t>(std::floor(Clock::timeIntervalSince1970())), 86400);
        int64_t start = detail::civilFromDays(days).year - 80;
        int64_t year = start - detail::floorDiv(start, 100) * 100 <= twoDigits
                           ? detail::floorDiv(start, 100) * 100 + twoDigits
                           : detail::floorDiv(start, 100) * 100 + 100 + twoDigits;
        return year;
    }

    std::string_view m_text;
    const std::vector<Token>& m_tokens;
    size_t m_pos{0};
};

// Whole milliseconds of a date: the platform keeps time to the millisecond, and a date made
// from a decimal text (0.123) must not read back as 122 ms.
int64_t millisecondsOf(double seconds) {
    double ms = seconds * 1000.0;
    double nearest = std::nearbyint(ms);
    // A double's error grows with the date's distance from 1970 (past the year 2242 it exceeds
    // the 1e-3 ms allowed here); within a few of its steps the nearest millisecond is meant.
    double step = std::nextafter(std::fabs(ms), HUGE_VAL) - std::fabs(ms);
    return static_cast<int64_t>(std::fabs(ms - nearest) < std::max(1e-3, 4 * step) ? nearest
                                                                                   : std::floor(ms));
}

Fields fieldsOf(Date date, const TimeZone& zone) {
    Fields f;
    int64_t ms = millisecondsOf(date.timeIntervalSince1970());
    f.offset = zone.secondsFromGMTForDate(date);
    f.isDaylight = zone.isDaylightSavingTimeForDate(date);
    int64_t local = detail::floorDiv(ms, 1000) + f.offset;
    f.millisecond = static_cast<unsigned>(ms - detail::floorDiv(ms, 1000) * 1000);
    int64_t days = detail::floorDiv(local, 86400);
    auto secondOfDay = static_cast<unsigned>(local - days * 86400);
    auto civil = detail::civilFromDays(days);
    f.year = civil.year;
    f.month = civil.month;
    f.day = civil.day;
    f.dayOfYear = static_cast<unsigned>(days - detail::daysFromCivil(civil.year, 1, 1) + 1);
    f.weekday = detail::weekdayFromDays(days);
    f.hour = secondOfDay / 3600;
    f.minute = secondOfDay / 60 % 60;
    f.second = secondOfDay % 60;
    return f;
}

// Dates this far out are beyond any calendar the platform writes.
constexpr double maximumSeconds = 1e14;

} // namespace

struct DateFormatter::Settings {
    std::string dateFormat;
    std::optional<std::vector<Token>> tokens; // nullopt when the pattern is invalid
    TimeZonePtr timeZone;
    std::string locale{"en_US_POSIX"};
};

DateFormatter::DateFormatter() {
    update("", nullptr, "en_US_POSIX");
}

DateFormatter::DateFormatter(std::string_view dateFormat, TimeZonePtr timeZone) {
    update(dateFormat, std::move(timeZone), "en_US_POSIX");
}

std::shared_ptr<const DateFormatter::Settings> DateFormatter::settings() const {
    std::lock_guard lock(m_mutex);
    return m_settings;
}

void DateFormatter::update(std::string_view dateFormat, TimeZonePtr timeZone, std::string_view locale) {
    auto settings = std::make_shared<Settings>();
    settings->dateFormat = std::string(dateFormat);
    settings->tokens = compile(dateFormat);
    settings->timeZone = timeZone ? std::move(timeZone) : TimeZone::localTimeZone();
    settings->locale = std::string(locale);
    std::lock_guard lock(m_mutex);
    m_settings = std::move(settings);
}

std::string DateFormatter::dateFormat() const {
    return settings()->dateFormat;
}

void DateFormatter::setDateFormat(std::string_view dateFormat) {
    auto current = settings();
    update(dateFormat, current->timeZone, current->locale);
}

TimeZonePtr DateFormatter::timeZone() const {
    return settings()->timeZone;
}

void DateFormatter::setTimeZone(TimeZonePtr timeZone) {
    auto current = settings();
    update(current->dateFormat, std::move(timeZone), current->locale);
}

std::string DateFormatter::localeIdentifier() const {
    return settings()->locale;
}

void DateFormatter::setLocaleIdentifier(std::string_view identifier) {
    auto current = settings();
    update(current->dateFormat, current->timeZone, identifier);
}

std::string DateFormatter::stringFromDate(Date date) const {
    auto s = settings();
    double t = date.timeIntervalSince1970();
    if (!s->tokens || !std::isfinite(t) || std::fabs(t) > maximumSeconds)
        return {};
    Fields fields = fieldsOf(date, *s->timeZone);
    std::string out;
    for (const auto& token : *s->tokens) {
        if (token.letter == 0)
            out += token.literal;
        else
            appendField(out, token, fields, *s->timeZone, date);
    }
    return out;
}

std::optional<Date> DateFormatter::dateFromString(std::string_view text) const {
    auto s = settings();
    if (!s->tokens)
        return std::nullopt;
    auto r = Reader(text, *s->tokens).read();
    if (!r)
        return std::nullopt;
    int64_t year = r->bc ? 1 - r->year : r->year;
    unsigned month = r->month.value_or(1);
    unsigned day = r->day;
    if (r->dayOfYear && !r->month) {
        if (*r->dayOfYear > (detail::isLeapYear(year) ? 366u : 365u))
            return std::nullopt;
        auto civil = detail::civilFromDays(detail::daysFromCivil(year, 1, 1) + *r->dayOfYear - 1);
        month = civil.month;
        day = civil.day;
    }
    if (day > detail::daysInMonth(year, month))
        return std::nullopt;
    unsigned hour = r->hour24 ? *r->hour24 : r->hour12.value_or(0) + (r->pm ? 12 : 0);
    int64_t local =
        detail::daysFromCivil(year, month, day) * 86400 + hour * 3600 + r->minute * 60 + r->second;
    double seconds = r->offset ? static_cast<double>(local - *r->offset)
                               : s->timeZone->instantForLocalTime(static_cast<double>(local));
    if (std::fabs(seconds) > maximumSeconds)
        return std::nullopt;
    return Date(seconds + r->fraction);
}

} // namespace platform
