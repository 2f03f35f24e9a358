#pragma once
// A point in time: seconds since 1970-01-01 00:00:00 UTC, as a double. now() reads the installed
// Clock, so tests that move a ManualClock move dates too. Formatting lives in DateFormatter.h.

#include <compare>

namespace platform {

class Date {
public:
    constexpr Date() = default;
    constexpr explicit Date(double timeIntervalSince1970)
        : m_seconds(timeIntervalSince1970) {}

    static Date now();
    static Date dateWithTimeIntervalSinceNow(double seconds);
    static constexpr Date distantPast() { return Date(-62135769600.0); }
    static constexpr Date distantFuture() { return Date(64092211200.0); }

    constexpr double timeIntervalSince1970() const { return m_seconds; }
    double timeIntervalSinceNow() const;
    constexpr double timeIntervalSinceDate(Date other) const { return m_seconds - other.m_seconds; }
    constexpr Date dateByAddingTimeInterval(double seconds) const { return Date(m_seconds + seconds); }

    constexpr auto operator<=>(const Date&) const = default;

private:
    double m_seconds{0};
};

} // namespace platform
