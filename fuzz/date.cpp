// Reads text as a date by several patterns in several zones: the application's own patterns, and,
// when the input has a first line, that line as the pattern for the rest. Beyond not crashing, it
// holds the formatter to the round trip: a date that reads writes as text that reads back as the
// same date (to the millisecond the platform keeps when the pattern has fractions of a second),
// and that text writes again unchanged.
#include "platform/foundation/CivilTime.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Fatal.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fmt/format.h>
#include <string>
#include <vector>

using namespace platform;

namespace {

[[noreturn]] void fail(const char* what, std::string_view pattern, std::string_view zone,
                       std::string_view text, std::string_view written, double expected, double actual) {
    fatalError(fmt::format("fuzz_date: {}\n  pattern \"{}\" zone {}\n  read \"{}\" as {:.17g}\n"
                           "  wrote \"{}\" which reads as {:.17g}",
                           what, pattern, zone, text, expected, written, actual));
}

const std::vector<std::string>& patterns() {
    static const std::vector<std::string> list{
        "yyyy-MM-dd'T'HH:mm:ssZZZZZ",
        "yyyy-MM-dd'T'HH:mm:ss.SSSZ",
        "yyyy-MM-dd HH:mm:ss",
        "EEE, dd MMM yyyy HH:mm:ss zzz",
        "yyyyMMddHHmmss",
        "MMMM d, yyyy h:mm a",
        "G yyyy-MM-dd HH:mm:ss.SSS xxx",
        "uuuu-DDD'T'kk:mm:ss XXXXX",
        "yy-M-d K:m:s a O",
    };
    return list;
}

const std::vector<TimeZonePtr>& zones() {
    static const std::vector<TimeZonePtr> list{
        TimeZone::GMT(),
        TimeZone::timeZoneWithName("Asia/Shanghai"),
        TimeZone::timeZoneWithName("America/New_York"),
        TimeZone::timeZoneForSecondsFromGMT(5 * 3600 + 45 * 60),
    };
    return list;
}

struct Field {
    char letter{0};
    size_t count{0};
    bool abutsNext{false}; // a numeric field directly followed by another reads a fixed width
};

bool isNumeric(const Field& field) {
    return std::string_view("yudDhHKkmsS").find(field.letter) != std::string_view::npos ||
           ((field.letter == 'M' || field.letter == 'L') && field.count <= 2);
}

std::vector<Field> fieldsOf(std::string_view pattern) {
    std::vector<Field> fields;
    bool quoted = false;
    bool literalSinceLast = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '\'' || quoted || !std::isalpha(static_cast<unsigned char>(c))) {
            quoted ^= c == '\'';
            literalSinceLast = true;
            continue;
        }
        size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c)
            ++run;
        Field field{c, run, false};
        if (!fields.empty() && !literalSinceLast && isNumeric(fields.back()) && isNumeric(field))
            fields.back().abutsNext = true;
        fields.push_back(field);
        literalSinceLast = false;
        i += run - 1;
    }
    return fields;
}

size_t digitCount(int64_t value) {
    return fmt::formatted_size("{}", value < 0 ? -value : value);
}

// A field of fixed width that the date needs more digits for: its text cannot be read back.
bool overflowsItsWidth(const std::vector<Field>& fields, int64_t year) {
    for (const auto& field : fields) {
        if (!field.abutsNext)
            continue;
        switch (field.letter) {
        case 'y':
            if (field.count != 2 && digitCount(year > 0 ? year : 1 - year) > field.count)
                return true;
            break;
        case 'u':
            if (year < 0 || digitCount(year) > field.count)
                return true;
            break;
        case 'D':
            if (field.count < 3)
                return true;
            break;
        case 'S':
            break;
        default:
            if (field.count < 2)
                return true;
        }
    }
    return false;
}

// Patterns whose text cannot carry every date they read: a two-digit year keeps only its century's
// window; a year of the era without the era cannot say "before Christ"; an era with a proleptic
// year ("u", which may be negative) says the era twice; and a text with its own offset fills the
// fields the pattern lacks in that offset, where the formatter writes them in its own zone. The
// short ISO offsets (X, x up to three letters) have no seconds, which the offsets of local mean
// time before a zone's first standard offset need.
bool isLossy(const std::vector<Field>& fields, bool offsetHasSeconds, int64_t year) {
    std::string letters;
    for (const auto& field : fields) {
        if ((field.letter == 'y' && field.count == 2) ||
            ((field.letter == 'X' || field.letter == 'x') && field.count < 4 && offsetHasSeconds))
            return true;
        letters += field.letter;
    }
    auto has = [&](std::string_view any) { return letters.find_first_of(any) != std::string::npos; };
    if ((has("G") && has("u")) || (has("y") && !has("G") && year <= 0))
        return true;
    bool complete = has("yu") && ((has("ML") && has("d")) || has("D")) &&
                    (has("Hk") || (has("hK") && has("a"))) && has("m") && has("s");
    return has("ZXxOz") && !complete;
}

// The text keeps as many digits of a second as the pattern has S, the platform no more than three;
// the double holding a date far from 1970 keeps fewer still.
double tolerance(const std::vector<Field>& fields, double seconds) {
    size_t width = 0;
    for (const auto& field : fields) {
        if (field.letter == 'S')
            width = width == 0 ? field.count : std::min(width, field.count);
    }
    if (width == 0)
        return 0;
    return std::pow(10.0, -static_cast<double>(std::min<size_t>(width, 3))) + std::fabs(seconds) * 4e-16;
}

void roundTrip(const DateFormatter& formatter, std::string_view text) {
    auto date = formatter.dateFromString(text);
    if (!date)
        return;
    std::string pattern = formatter.dateFormat();
    std::string zone = formatter.timeZone()->name();
    auto fields = fieldsOf(pattern);
    double seconds = date->timeIntervalSince1970();
    int offset = formatter.timeZone()->secondsFromGMTForDate(*date);
    int64_t year =
        detail::civilFromDays(detail::floorDiv(static_cast<int64_t>(std::floor(seconds)) + offset, 86400))
            .year;
    std::string written = formatter.stringFromDate(*date);
    if (overflowsItsWidth(fields, year))
        return;
    auto again = formatter.dateFromString(written);
    if (!again)
        fail("a written date does not read back", pattern, zone, text, written, seconds, NAN);
    double back = again->timeIntervalSince1970();
    // What a lossy pattern's text reads back as may differ, and so may its text in turn.
    if (isLossy(fields, offset % 60 != 0, year))
        return;
    if (!(std::fabs(back - seconds) <= tolerance(fields, seconds)))
        fail("a written date reads back as another date", pattern, zone, text, written, seconds, back);
    std::string rewritten = formatter.stringFromDate(*again);
    if (rewritten != written)
        fail("a written date writes again differently", pattern, zone, written, rewritten, back, NAN);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(bytes), size);
    size_t newline = input.find('\n');
    for (const auto& zone : zones()) {
        if (newline != std::string_view::npos) {
            DateFormatter formatter(input.substr(0, newline), zone);
            roundTrip(formatter, input.substr(newline + 1));
            (void)formatter.stringFromDate(Date(static_cast<double>(size) * 1e7 - 3e9));
        } else {
            for (const auto& pattern : patterns())
                roundTrip(DateFormatter(pattern, zone), input);
        }
    }
    return 0;
}
