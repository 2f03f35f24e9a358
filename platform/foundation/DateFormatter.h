#pragma once
// Writes dates as text and reads them back by a Unicode date pattern ("yyyy-MM-dd'T'HH:mm:ssZZZZZ"),
// always with the POSIX locale's conventions (en_US_POSIX: Gregorian calendar, ASCII digits, English
// month and weekday names), in one time zone (the local zone when the formatter was made, unless set).
//
// Reading is strict: the whole text must match the pattern and every field must be in range (no
// 31 April, no hour 24 for HH, no trailing blank); otherwise nullopt. Numeric fields take any number
// of digits unless the next field is numeric too ("yyyyMMdd"), then exactly the pattern's width. An
// offset field (Z, X, x, O, z) reads an offset in any of the forms they write ("+0800", "+08:00",
// "Z", "GMT+8"). Fields the text does not give default to 2000-01-01 00:00:00 in the formatter's zone,
// as the platform's formatter does. Zone names (z, zzzz) are written as GMT offsets, except the
// United States' abbreviations (EST, PDT...) for zones in the Americas.
//
// Pattern letters: G y u M L d D E a h H K k m s S Z X x O z, and 'quoted text' ('' is a quote).
// Any other letter makes the pattern invalid: "" when writing, nullopt when reading.
//
// A formatter may be shared by threads: reading, writing and the setters are all safe at once.

#include "platform/foundation/Date.h"
#include "platform/foundation/TimeZone.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class DateFormatter {
public:
    DateFormatter();
    explicit DateFormatter(std::string_view dateFormat, TimeZonePtr timeZone = nullptr);

    std::string dateFormat() const;
    void setDateFormat(std::string_view dateFormat);
    TimeZonePtr timeZone() const;
    void setTimeZone(TimeZonePtr timeZone); // null: the local zone as it is now
    // Kept for callers that set one; every locale writes and reads as en_US_POSIX.
    std::string localeIdentifier() const;
    void setLocaleIdentifier(std::string_view identifier);

    std::string stringFromDate(Date date) const;
    std::optional<Date> dateFromString(std::string_view text) const;

    struct Settings; // the compiled pattern, zone and locale (defined in DateFormatter.cpp)

private:
    std::shared_ptr<const Settings> settings() const;
    void update(std::string_view dateFormat, TimeZonePtr timeZone, std::string_view locale);

    mutable std::mutex m_mutex;
    std::shared_ptr<const Settings> m_settings;
};

} // namespace platform
