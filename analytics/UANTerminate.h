#pragma once
// The record of one ended analytics session: its duration in seconds, the pages shown during it (pairs
// of page name and seconds) and the last reported position; type "terminate". Archived under
// "self.duration", "self.pageViews", "self.latitude", "self.longitude" and "self.gps_time".

#include "analytics/UANBaseEvent.h"

class UANTerminate final : public UANBaseEvent {
public:
    explicit UANTerminate(double duration = 0);

    double duration{0};
    platform::ValueArray pageViews;
    double latitude{0};
    double longitude{0};
    int64_t gps_time{0}; // milliseconds since 1970

    bool hasGPSInfo() const;

    // The base attributes, "duration", "activities" (the pages, when any), "lat" and "lng" (when both
    // differ from 0) and "gps_time" (when above 0).
    platform::ValueDictionary attributes() const override;
    void outputUALog() const override;

    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    bool initWithCoder(platform::KeyedUnarchiver& coder) override;
};
