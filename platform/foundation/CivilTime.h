#pragma once
// Proleptic Gregorian calendar arithmetic on day numbers (days since 1970-01-01), shared by the time
// zone rules and the date formatter. Exact for any year an int64 day count can hold.

#include <cstdint>

namespace platform::detail {

struct CivilDate {
    int64_t year{1970};
    unsigned month{1}; // 1-12
    unsigned day{1};   // 1-31
};

constexpr int64_t floorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

constexpr int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = floorDiv(year, 400);
    const auto yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr CivilDate civilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = floorDiv(days, 146097);
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int64_t>(yoe) + era * 400 + (month <= 2), month, day};
}

constexpr bool isLeapYear(int64_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

constexpr unsigned daysInMonth(int64_t year, unsigned month) {
    constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// 0 = Sunday; 1970-01-01 was a Thursday.
constexpr unsigned weekdayFromDays(int64_t days) {
    return static_cast<unsigned>(days - floorDiv(days + 4, 7) * 7 + 4);
}

static_assert(daysFromCivil(1970, 1, 1) == 0);
static_assert(daysFromCivil(2000, 3, 1) == 11017);
static_assert(civilFromDays(-1).year == 1969 && civilFromDays(-1).day == 31);
static_assert(weekdayFromDays(0) == 4 && weekdayFromDays(-4) == 0);

} // namespace platform::detail
