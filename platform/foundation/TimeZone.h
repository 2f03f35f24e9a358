#pragma once
// A time zone: the offset from GMT, daylight saving and abbreviation at any date. Named zones are read
// from the system's time zone database (TZif files under $TZDIR or /usr/share/zoneinfo, including
// the POSIX rule that carries a zone past its last listed transition); fixed zones are a number of
// seconds from GMT. Zones are immutable and shared, so any thread may use one; loaded zones are
// cached, and nothing here touches the C library's process-wide TZ state.
//
// The local zone follows the TZ environment variable as the C library reads it (a zone name, ":name",
// or a POSIX rule text such as "CST-8"), else /etc/localtime, else GMT.

#include "platform/foundation/Date.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class TimeZone;
using TimeZonePtr = std::shared_ptr<const TimeZone>;

class TimeZone {
public:
    // "Asia/Shanghai", "UTC", "GMT", or a fixed offset written "GMT+8", "GMT+08:00", "UTC-0530".
    // Null for a name the database does not know.
    static TimeZonePtr timeZoneWithName(std::string_view name);
    // Named "GMT+0800" (or "GMT" for 0); null beyond +-18 hours.
    static TimeZonePtr timeZoneForSecondsFromGMT(int seconds);
    static TimeZonePtr localTimeZone();
    static TimeZonePtr GMT();
    // A POSIX TZ rule text ("EST5EDT,M3.2.0,M11.1.0"); null when it does not parse.
    static TimeZonePtr timeZoneWithPOSIXRule(std::string_view rule);

    const std::string& name() const { return m_name; }
    int secondsFromGMTForDate(Date date) const;
    int secondsFromGMT() const { return secondsFromGMTForDate(Date::now()); }
    bool isDaylightSavingTimeForDate(Date date) const;
    std::string abbreviationForDate(Date date) const;

    // The instant at which this zone's wall clock reads `localSeconds` (seconds since 1970 as if the
    // wall clock were GMT). A wall time that occurs twice (clocks turned back) gives the earlier
    // instant; one skipped by clocks turned forward is read with the offset in force before the jump,
    // so it lands as far past the jump as it was written past it.
    double instantForLocalTime(double localSeconds) const;

    struct Rules; // the transitions and rule (defined in TimeZone.cpp)
    TimeZone(std::string name, std::shared_ptr<const Rules> rules);

private:
    struct Period {
        int offset{0};
        bool isDaylight{false};
        std::string_view abbreviation;
    };
    Period periodAt(double seconds) const;

    std::string m_name;
    std::shared_ptr<const Rules> m_rules;
};

} // namespace platform
