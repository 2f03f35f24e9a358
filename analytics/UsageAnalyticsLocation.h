#pragma once
// The last position the application reported, copied into the next session record and cleared there.
// There is no location service: callers pass a latitude and a longitude. One shared instance; any thread.

#include "platform/foundation/Object.h"

#include <memory>
#include <mutex>

struct UALocationCoordinate {
    double latitude{0};
    double longitude{0};
};

class UsageAnalyticsLocation final : public platform::Object {
public:
    static std::shared_ptr<UsageAnalyticsLocation> sharedInstance();

    // Both must differ from 0; the time is now. Otherwise a conditional log line and no change.
    static void setLatitude(double latitude, double longitude);
    static void setLocation(UALocationCoordinate location);

    double latitude() const;
    double longitude() const;
    double gps_time() const; // seconds since 1970 when the position was set
    // The position and its time, cleared at once (one session takes it).
    struct Fix {
        double latitude{0};
        double longitude{0};
        double gps_time{0};
    };
    Fix takeFix();

private:
    mutable std::mutex m_mutex;
    Fix m_fix;
};
