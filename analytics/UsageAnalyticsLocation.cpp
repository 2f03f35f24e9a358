#include "analytics/UsageAnalyticsLocation.h"

#include "analytics/UANLog.h"
#include "platform/foundation/Clock.h"

#include <utility>

std::shared_ptr<UsageAnalyticsLocation> UsageAnalyticsLocation::sharedInstance() {
    static const auto location = std::make_shared<UsageAnalyticsLocation>();
    return location;
}

void UsageAnalyticsLocation::setLatitude(double latitude, double longitude) {
    if (latitude == 0 || longitude == 0) {
        UANLog("Latitude or longitude may be wrong.");
        return;
    }
    auto location = sharedInstance();
    std::lock_guard lock(location->m_mutex);
    location->m_fix = {latitude, longitude, platform::Clock::timeIntervalSince1970()};
}

void UsageAnalyticsLocation::setLocation(UALocationCoordinate location) {
    setLatitude(location.latitude, location.longitude);
}

double UsageAnalyticsLocation::latitude() const {
    std::lock_guard lock(m_mutex);
    return m_fix.latitude;
}

double UsageAnalyticsLocation::longitude() const {
    std::lock_guard lock(m_mutex);
    return m_fix.longitude;
}

double UsageAnalyticsLocation::gps_time() const {
    std::lock_guard lock(m_mutex);
    return m_fix.gps_time;
}

UsageAnalyticsLocation::Fix UsageAnalyticsLocation::takeFix() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_fix, Fix{});
}
