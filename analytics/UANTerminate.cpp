#include "analytics/UANTerminate.h"

#include "analytics/UANLog.h"

UANTerminate::UANTerminate(double duration)
    : duration(duration) {
    type = "terminate";
}

bool UANTerminate::hasGPSInfo() const {
    return latitude != 0 && longitude != 0 && gps_time > 0;
}

platform::ValueDictionary UANTerminate::attributes() const {
    auto attributes = UANBaseEvent::attributes();
    attributes.set("duration", platform::Value(duration));
    if (!pageViews.empty())
        attributes.set("activities", platform::Value(pageViews));
    if (latitude != 0 && longitude != 0) {
        attributes.set("lat", platform::Value(latitude));
        attributes.set("lng", platform::Value(longitude));
    }
    if (gps_time > 0)
        attributes.set("gps_time", platform::Value(gps_time));
    return attributes;
}

void UANTerminate::outputUALog() const {
    std::string text = fmt::format("session_id={}, duration={:f}", session_id.value_or("(null)"), duration);
    if (!pageViews.empty())
        text += ",pageViews=" + platform::Value(pageViews).description();
    UANLog("session: {}", text);
}

void UANTerminate::encodeWithCoder(platform::KeyedArchiver& coder) const {
    UANBaseEvent::encodeWithCoder(coder);
    coder.encodeDouble(duration, "self.duration");
    coder.encodeObject(platform::Value(pageViews), "self.pageViews");
    coder.encodeDouble(latitude, "self.latitude");
    coder.encodeDouble(longitude, "self.longitude");
    coder.encodeInt64(gps_time, "self.gps_time");
}

bool UANTerminate::initWithCoder(platform::KeyedUnarchiver& coder) {
    UANBaseEvent::initWithCoder(coder);
    duration = coder.decodeDoubleForKey("self.duration");
    pageViews = uadetail::decodeArray(coder, "self.pageViews").value_or(platform::ValueArray{});
    latitude = coder.decodeDoubleForKey("self.latitude");
    longitude = coder.decodeDoubleForKey("self.longitude");
    gps_time = coder.decodeInt64ForKey("self.gps_time");
    return true;
}
