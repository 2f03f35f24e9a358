#include "platform/foundation/TimeZone.h"

#include "platform/foundation/CivilTime.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

namespace platform {

namespace {

constexpr int maximumOffset = 26 * 3600;

// A POSIX TZ rule: "std offset [dst [offset] [,start[/time],end[/time]]]". Offsets here are east of
// GMT (the text writes them west-positive).
struct PosixRule {
    struct When {
        enum class Kind { JulianNoLeap, ZeroBasedDay, MonthWeekDay } kind{Kind::MonthWeekDay};
        int day{0};   // Jn: 1-365; n: 0-365; M: weekday 0-6
        int week{0};  // M: 1-5 (5 = last)
        int month{0}; // M: 1-12
        int time{7200};
    };

    std::string standardName;
    std::string daylightName;
    int standardOffset{0};
    int daylightOffset{0};
    bool hasDaylight{false};
    When start;
    When end;

    // Seconds since 1970 of `when` in `year`, as the local wall clock with `offset` reads it.
    static int64_t localSecondsOf(const When& when, int64_t year) {
        int64_t days;
        switch (when.kind) {
        case When::Kind::JulianNoLeap:
            days = detail::daysFromCivil(year, 1, 1) + when.day - 1 +
                   (detail::isLeapYear(year) && when.day >= 60);
            break;
        case When::Kind::ZeroBasedDay:
            days = detail::daysFromCivil(year, 1, 1) + when.day;
            break;
        case When::Kind::MonthWeekDay:
        default: {
            int64_t first = detail::daysFromCivil(year, static_cast<unsigned>(when.month), 1);
            int delta = (when.day - static_cast<int>(detail::weekdayFromDays(first)) + 7) % 7;
            days = first + delta + 7 * (when.week - 1);
            int64_t monthDays = detail::daysInMonth(year, static_cast<unsigned>(when.month));
            while (days >= first + monthDays)
                days -= 7;
        }
        }
        return days * 86400 + when.time;
    }

    bool isDaylightAt(int64_t t) const {
        if (!hasDaylight)
            return false;
        int64_t year = detail::civilFromDays(detail::floorDiv(t + standardOffset, 86400)).year;
        int64_t begins = localSecondsOf(start, year) - standardOffset;
        int64_t ends = localSecondsOf(end, year) - daylightOffset;
        if (begins < ends)
            return t >= begins && t < ends;
        return !(t >= ends && t < begins);
    }
};

class RuleParser {
public:
    explicit RuleParser(std::string_view text)
        : m_text(text) {}

    std::optional<PosixRule> parse() {
        PosixRule rule;
        auto standardOffset = name(rule.standardName) ? offset(24) : std::nullopt;
        if (!standardOffset)
            return std::nullopt;
        rule.standardOffset = -*standardOffset;
        if (atEnd())
            return rule;
        if (!name(rule.daylightName))
            return std::nullopt;
        rule.hasDaylight = true;
        rule.daylightOffset = rule.standardOffset + 3600;
        if (!atEnd() && peek() != ',') {
            auto daylightOffset = offset(24);
            if (!daylightOffset)
                return std::nullopt;
            rule.daylightOffset = -*daylightOffset;
        }
        if (atEnd()) {
            // The C library's default when a rule names daylight time but not its dates.
            rule.start = {PosixRule::When::Kind::MonthWeekDay, 0, 2, 3, 7200};
            rule.end = {PosixRule::When::Kind::MonthWeekDay, 0, 1, 11, 7200};
            return rule;
        }
        if (!consume(',') || !when(rule.start) || !consume(',') || !when(rule.end) || !atEnd())
            return std::nullopt;
        return rule;
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return atEnd() ? '\0' : m_text[m_pos]; }
    bool consume(char c) {
        if (peek() != c)
            return false;
        ++m_pos;
        return true;
    }
    static bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    bool name(std::string& out) {
        size_t start = m_pos;
        if (consume('<')) {
            while (!atEnd() && (isAlpha(peek()) || isDigit(peek()) || peek() == '+' || peek() == '-'))
                ++m_pos;
            out = std::string(m_text.substr(start + 1, m_pos - start - 1));
            return consume('>') && !out.empty();
        }
        while (isAlpha(peek()))
            ++m_pos;
        out = std::string(m_text.substr(start, m_pos - start));
        return out.size() >= 3;
    }

    std::optional<int> number(int maximum) {
        if (!isDigit(peek()))
            return std::nullopt;
        int value = 0;
        while (isDigit(peek())) {
            value = value * 10 + (m_text[m_pos++] - '0');
            if (value > maximum)
                return std::nullopt;
        }
        return value;
    }

    // [+-]hh[:mm[:ss]] in seconds, as written (west-positive for zone offsets).
    std::optional<int> offset(int maximumHours) {
        int sign = 1;
        if (peek() == '+' || peek() == '-')
            sign = m_text[m_pos++] == '-' ? -1 : 1;
        auto hours = number(maximumHours);
        if (!hours)
            return std::nullopt;
        int seconds = *hours * 3600;
        if (consume(':')) {
            auto minutes = number(59);
            if (!minutes)
                return std::nullopt;
            seconds += *minutes * 60;
            if (consume(':')) {
                auto secs = number(59);
                if (!secs)
                    return std::nullopt;
                seconds += *secs;
            }
        }
        return sign * seconds;
    }

    bool when(PosixRule::When& out) {
        std::optional<int> value;
        if (consume('J')) {
            out.kind = PosixRule::When::Kind::JulianNoLeap;
            value = number(365);
            if (!value || *value < 1)
                return false;
            out.day = *value;
        } else if (consume('M')) {
            out.kind = PosixRule::When::Kind::MonthWeekDay;
            auto month = number(12);
            std::optional<int> week;
            std::optional<int> day;
            if (!month || *month < 1 || !consume('.') || !(week = number(5)) || *week < 1 || !consume('.') ||
                !(day = number(6)))
                return false;
            out.month = *month;
            out.week = *week;
            out.day = *day;
        } else {
            out.kind = PosixRule::When::Kind::ZeroBasedDay;
            value = number(365);
            if (!value)
                return false;
            out.day = *value;
        }
        out.time = 7200;
        if (consume('/')) {
            auto time = offset(167);
            if (!time)
                return false;
            out.time = *time;
        }
        return true;
    }

    std::string_view m_text;
    size_t m_pos{0};
};

class TZifReader {
public:
    explicit TZifReader(std::string_view bytes)
        : m_bytes(bytes) {}

    struct Header {
        uint64_t isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt;
    };

    bool header(size_t at, Header& h) const {
        if (at > m_bytes.size() || m_bytes.size() - at < 44 || m_bytes.substr(at, 4) != "TZif")
            return false;
        h = {u32(at + 20), u32(at + 24), u32(at + 28), u32(at + 32), u32(at + 36), u32(at + 40)};
        return h.typecnt >= 1 && h.typecnt <= 256 && h.charcnt >= 1 &&
               (h.isutcnt == 0 || h.isutcnt == h.typecnt) && (h.isstdcnt == 0 || h.isstdcnt == h.typecnt);
    }

    static uint64_t blockSize(const Header& h, unsigned timeSize) {
        return h.timecnt * timeSize + h.timecnt + h.typecnt * 6 + h.charcnt + h.leapcnt * (timeSize + 4) +
               h.isstdcnt + h.isutcnt;
    }

    uint32_t u32(size_t at) const {
        auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(m_bytes[at + i])); };
        return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
    }
    int64_t i64(size_t at) const { return static_cast<int64_t>(uint64_t(u32(at)) << 32 | u32(at + 4)); }

    std::shared_ptr<TimeZone::Rules> read() const;

    std::string_view m_bytes;
};

std::optional<int> parseGMTOffsetName(std::string_view name) {
    if (name.size() < 3 || (name.substr(0, 3) != "GMT" && name.substr(0, 3) != "UTC"))
        return std::nullopt;
    name.remove_prefix(3);
    if (name.empty())
        return 0;
    if (name[0] != '+' && name[0] != '-')
        return std::nullopt;
    int sign = name[0] == '-' ? -1 : 1;
    name.remove_prefix(1);
    auto digitsAt = [&](size_t i, size_t n) {
        int v = 0;
        for (size_t k = i; k < i + n; ++k) {
            if (k >= name.size() || name[k] < '0' || name[k] > '9')
                return -1;
            v = v * 10 + (name[k] - '0');
        }
        return v;
    };
    int hours;
    int minutes = 0;
    switch (name.size()) {
    case 1:
    case 2:
        hours = digitsAt(0, name.size());
        break;
    case 4:
        hours = digitsAt(0, 2);
        minutes = digitsAt(2, 2);
        break;
    case 5:
        if (name[2] != ':')
            return std::nullopt;
        hours = digitsAt(0, 2);
        minutes = digitsAt(3, 2);
        break;
    default:
        return std::nullopt;
    }
    if (hours < 0 || minutes < 0 || hours > 18 || minutes > 59)
        return std::nullopt;
    return sign * (hours * 3600 + minutes * 60);
}

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    auto size = std::filesystem::file_size(path, ec);
    if (ec || size > (1u << 20))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::string bytes(size, '\0');
    if (!in.read(bytes.data(), static_cast<std::streamsize>(size)))
        return std::nullopt;
    return bytes;
}

std::filesystem::path zoneDirectory() {
    const char* dir = std::getenv("TZDIR");
    return dir && *dir ? std::filesystem::path(dir) : std::filesystem::path("/usr/share/zoneinfo");
}

bool isPlausibleZoneName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name.front() == '/' || name.back() == '/')
        return false;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
              c == '_' || c == '-' || c == '+' || c == '.'))
            return false;
    for (size_t start = 0; start <= name.size();) {
        size_t slash = std::min(name.find('/', start), name.size());
        auto component = name.substr(start, slash - start);
        if (component.empty() || component == "." || component == "..")
            return false;
        start = slash + 1;
    }
    return true;
}

// Loaded zones, by name or by the TZ text that chose them. Zone files do not change while we run,
// and there are only a few hundred of them, so the cache is never trimmed.
struct ZoneCache {
    std::mutex mutex;
    std::map<std::string, TimeZonePtr, std::less<>> zones;
};

ZoneCache& zoneCache() {
    static ZoneCache cache;
    return cache;
}

TimeZonePtr cached(const std::string& key) {
    auto& cache = zoneCache();
    std::lock_guard lock(cache.mutex);
    auto it = cache.zones.find(key);
    return it == cache.zones.end() ? nullptr : it->second;
}

TimeZonePtr remember(const std::string& key, TimeZonePtr zone) {
    if (!zone)
        return zone;
    auto& cache = zoneCache();
    std::lock_guard lock(cache.mutex);
    return cache.zones.emplace(key, std::move(zone)).first->second;
}

} // namespace

struct TimeZone::Rules {
    struct Type {
        int offset{0};
        bool isDaylight{false};
        std::string abbreviation;
    };
    std::vector<int64_t> transitions;     // ascending
    std::vector<uint8_t> transitionTypes; // one per transition, an index into types
    std::vector<Type> types;              // at least one
    std::optional<PosixRule> rule;        // for times past the last transition
};

namespace {

std::shared_ptr<TimeZone::Rules> TZifReader::read() const {
    Header h;
    if (!header(0, h))
        return nullptr;
    size_t at = 44;
    unsigned timeSize = 4;
    char version = m_bytes[4];
    if (version >= '2') {
        uint64_t skip = blockSize(h, 4);
        if (skip > m_bytes.size() - at || !header(at + skip, h))
            return nullptr;
        at += skip + 44;
        timeSize = 8;
    }
    if (blockSize(h, timeSize) > m_bytes.size() - at)
        return nullptr;
    auto rules = std::make_shared<TimeZone::Rules>();
    size_t times = at;
    size_t indices = times + h.timecnt * timeSize;
    size_t types = indices + h.timecnt;
    size_t chars = types + h.typecnt * 6;
    std::string_view designations = m_bytes.substr(chars, h.charcnt);
    for (uint64_t i = 0; i < h.timecnt; ++i) {
        int64_t t = timeSize == 8 ? i64(times + i * 8) : static_cast<int32_t>(u32(times + i * 4));
        auto type = static_cast<uint8_t>(m_bytes[indices + i]);
        if (type >= h.typecnt || (!rules->transitions.empty() && t <= rules->transitions.back()))
            return nullptr;
        rules->transitions.push_back(t);
        rules->transitionTypes.push_back(type);
    }
    for (uint64_t i = 0; i < h.typecnt; ++i) {
        size_t p = types + i * 6;
        auto offset = static_cast<int32_t>(u32(p));
        auto index = static_cast<uint8_t>(m_bytes[p + 5]);
        if (offset < -maximumOffset || offset > maximumOffset || index >= h.charcnt)
            return nullptr;
        auto abbreviation = designations.substr(index);
        abbreviation = abbreviation.substr(0, abbreviation.find('\0'));
        rules->types.push_back({offset, m_bytes[p + 4] != 0, std::string(abbreviation)});
    }
    if (timeSize == 8) {
        size_t footer = at + blockSize(h, timeSize);
        if (footer < m_bytes.size() && m_bytes[footer] == '\n') {
            size_t close = m_bytes.find('\n', footer + 1);
            if (close != std::string_view::npos && close > footer + 1)
                rules->rule = RuleParser(m_bytes.substr(footer + 1, close - footer - 1)).parse();
        }
    }
    return rules;
}

std::shared_ptr<TimeZone::Rules> fixedRules(int offset, std::string abbreviation) {
    auto rules = std::make_shared<TimeZone::Rules>();
    rules->types.push_back({offset, false, std::move(abbreviation)});
    return rules;
}

// "GMT+8", "GMT+5:30": how the platform abbreviates a zone that has no letters of its own.
std::string shortGMTName(int seconds) {
    if (seconds == 0)
        return "GMT";
    int magnitude = std::abs(seconds);
    if (magnitude / 60 % 60 == 0)
        return fmt::format("GMT{}{}", seconds < 0 ? '-' : '+', magnitude / 3600);
    return fmt::format("GMT{}{}:{:02}", seconds < 0 ? '-' : '+', magnitude / 3600, magnitude / 60 % 60);
}

std::string gmtName(int seconds) {
    if (seconds == 0)
        return "GMT";
    int magnitude = std::abs(seconds);
    return fmt::format("GMT{}{:02}{:02}", seconds < 0 ? '-' : '+', magnitude / 3600, magnitude / 60 % 60);
}

TimeZonePtr zoneFromFile(const std::filesystem::path& path, std::string name) {
    auto bytes = readFile(path);
    if (!bytes)
        return nullptr;
    auto rules = TZifReader(*bytes).read();
    return rules ? std::make_shared<const TimeZone>(std::move(name), std::move(rules)) : nullptr;
}

// The name of the system's zone, from the /etc/localtime link or /etc/timezone.
std::string systemZoneName() {
    std::error_code ec;
    auto target = std::filesystem::read_symlink("/etc/localtime", ec).string();
    if (auto at = target.find("zoneinfo/"); !ec && at != std::string::npos)
        return target.substr(at + 9);
    if (auto name = readFile("/etc/timezone")) {
        auto end = name->find_first_of(" \t\r\n");
        name->resize(std::min(end, name->size()));
        if (isPlausibleZoneName(*name))
            return *name;
    }
    return "Localtime";
}

} // namespace

TimeZone::TimeZone(std::string name, std::shared_ptr<const Rules> rules)
    : m_name(std::move(name))
    , m_rules(std::move(rules)) {}

TimeZonePtr TimeZone::GMT() {
    static const TimeZonePtr zone = std::make_shared<const TimeZone>("GMT", fixedRules(0, "GMT"));
    return zone;
}

TimeZonePtr TimeZone::timeZoneForSecondsFromGMT(int seconds) {
    if (seconds < -18 * 3600 || seconds > 18 * 3600)
        return nullptr;
    if (seconds == 0)
        return GMT();
    auto name = gmtName(seconds);
    return std::make_shared<const TimeZone>(name, fixedRules(seconds, name));
}

TimeZonePtr TimeZone::timeZoneWithName(std::string_view name) {
    if (auto offset = parseGMTOffsetName(name)) {
        if (*offset == 0 && (name == "GMT" || name == "UTC"))
            return remember(
                "name:" + std::string(name),
                std::make_shared<const TimeZone>(std::string(name), fixedRules(0, std::string(name))));
        return timeZoneForSecondsFromGMT(*offset);
    }
    if (!isPlausibleZoneName(name))
        return nullptr;
    std::string key = "name:" + std::string(name);
    if (auto zone = cached(key))
        return zone;
    return remember(key, zoneFromFile(zoneDirectory() / std::string(name), std::string(name)));
}

TimeZonePtr TimeZone::timeZoneWithPOSIXRule(std::string_view text) {
    auto rule = RuleParser(text).parse();
    if (!rule)
        return nullptr;
    auto rules = std::make_shared<Rules>();
    rules->types.push_back({rule->standardOffset, false, rule->standardName});
    rules->rule = std::move(rule);
    return std::make_shared<const TimeZone>(std::string(text), std::move(rules));
}

TimeZonePtr TimeZone::localTimeZone() {
    const char* variable = std::getenv("TZ");
    std::string tz = variable ? variable : "";
    std::string key = variable ? "local:" + tz : "system";
    if (auto zone = cached(key))
        return zone;
    TimeZonePtr zone;
    if (!variable) {
        zone = zoneFromFile("/etc/localtime", systemZoneName());
    } else if (tz.empty()) {
        zone = GMT();
    } else {
        std::string_view setting = tz;
        if (setting.front() == ':')
            setting.remove_prefix(1);
        if (!setting.empty() && setting.front() == '/') {
            std::string path(setting);
            auto at = path.find("zoneinfo/");
            zone = zoneFromFile(path, at == std::string::npos ? path : path.substr(at + 9));
        } else if (!setting.empty()) {
            zone = timeZoneWithName(setting);
            if (!zone)
                zone = timeZoneWithPOSIXRule(setting);
        }
    }
    return remember(key, zone ? zone : GMT());
}

TimeZone::Period TimeZone::periodAt(double seconds) const {
    const Rules& rules = *m_rules;
    auto fromType = [&](size_t index) {
        const auto& type = rules.types[index];
        return Period{type.offset, type.isDaylight, type.abbreviation};
    };
    if (!std::isfinite(seconds))
        return fromType(0);
    // Beyond a few hundred million years the calendar arithmetic would overflow; such dates keep the
    // last known period.
    double clamped = std::clamp(seconds, -1e16, 1e16);
    auto t = static_cast<int64_t>(std::floor(clamped));
    const auto& transitions = rules.transitions;
    if (transitions.empty() || t >= transitions.back()) {
        if (rules.rule) {
            const auto& rule = *rules.rule;
            if (rule.isDaylightAt(t))
                return {rule.daylightOffset, true, rule.daylightName};
            return {rule.standardOffset, false, rule.standardName};
        }
        return transitions.empty() ? fromType(0) : fromType(rules.transitionTypes.back());
    }
    if (t < transitions.front())
        return fromType(0);
    auto it = std::upper_bound(transitions.begin(), transitions.end(), t);
    return fromType(rules.transitionTypes[static_cast<size_t>(it - transitions.begin()) - 1]);
}

int TimeZone::secondsFromGMTForDate(Date date) const {
    return periodAt(date.timeIntervalSince1970()).offset;
}

bool TimeZone::isDaylightSavingTimeForDate(Date date) const {
    return periodAt(date.timeIntervalSince1970()).isDaylight;
}

std::string TimeZone::abbreviationForDate(Date date) const {
    auto period = periodAt(date.timeIntervalSince1970());
    bool numeric =
        period.abbreviation.empty() || period.abbreviation[0] == '+' || period.abbreviation[0] == '-';
    return numeric ? shortGMTName(period.offset) : std::string(period.abbreviation);
}

double TimeZone::instantForLocalTime(double localSeconds) const {
    int before = periodAt(localSeconds - 86400).offset;
    int after = periodAt(localSeconds + 86400).offset;
    int guess = periodAt(localSeconds - periodAt(localSeconds).offset).offset;
    std::optional<int> best;
    for (int offset : {before, after, guess})
        if (periodAt(localSeconds - offset).offset == offset && (!best || offset > *best))
            best = offset;
    return localSeconds - (best ? *best : before);
}

} // namespace platform
