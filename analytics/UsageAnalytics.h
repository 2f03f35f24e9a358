#pragma once
// The usage-analytics library's front: the start from a configuration and every recording and setting
// call the application (or any caller) makes. Calls never raise and never return errors: a refused
// argument is logged and dropped. Any thread; records are handled on the main thread.
//
// The application's start, once:
//     UsageAnalytics::setCrashReportEnabled(true);
//     UsageAnalytics::setAppVersion(shortVersion);
//     auto config = UAAnalyticsConfig::sharedInstance();
//     config->setAppKey(appKey);
//     config->setEPolicy(0);
//     UsageAnalytics::startWithConfigure(config);

#include "analytics/UAAnalyticsConfig.h"
#include "analytics/UsageAnalyticsEvent.h"
#include "analytics/UsageAnalyticsLocation.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string>

class UsageAnalytics : private UsageAnalyticsEvent {
public:
    static void startWithConfigure(const std::shared_ptr<UAAnalyticsConfig>& config);

    static void setAppVersion(const std::string& version);
    static void setCrashReportEnabled(bool enabled);
    static void setBackgroundTaskEnabled(bool enabled);
    static void setEncryptEnabled(bool enabled);
    static void setLogEnabled(bool enabled);
    // At least 90 seconds; stored, and in force within 90 to 86400 unless the collector says otherwise.
    static void setLogSendInterval(double seconds);
    // The bound of the random upload delay, taken as unsigned and capped at 1800 seconds.
    static void setLatency(int32_t seconds);
    static void setWrapperType(const std::string& wrapperType, const std::string& wrapperVersion);
    static void setLatitude(double latitude, double longitude);
    static void setLocation(UALocationCoordinate location);
    static bool isJailbroken();
    static void startSession(const platform::Notification* notification);
    // Calls the class method named `method` of the class named `className` through the class registry,
    // with `object` as its argument; nothing happens when the class or the method is not there.
    static void preformClass(const std::string& className, const std::string& method,
                             const platform::Value& object);

    // Recording calls that the event layer takes as they are.
    using UsageAnalyticsEvent::beginEvent;
    using UsageAnalyticsEvent::beginLogPageView;
    using UsageAnalyticsEvent::endEvent;
    using UsageAnalyticsEvent::endEventLabel;
    using UsageAnalyticsEvent::endEventPrimarykey;
    using UsageAnalyticsEvent::endLogPageView;
    using UsageAnalyticsEvent::eventAcc;
    using UsageAnalyticsEvent::eventDurations;
    using UsageAnalyticsEvent::eventLabelAcc;
    using UsageAnalyticsEvent::logPageView;

    // A computed event; refused with a printed text for an empty path, in the background, or for an item
    // that is not a text.
    static void event(const platform::ValueArray& keyPath, int32_t value, const std::string& label);
    static void event(const std::string& eventId);
    static void event(const std::string& eventId, const std::string& label);
    static void event(const std::string& eventId, const platform::ValueDictionary& attributes);
    // The attributes with "__ct__" = the counter as text.
    static void eventAttributesCounter(const std::string& eventId,
                                       const platform::ValueDictionary& attributes, int32_t counter);
    // These two drop durations outside 1 to 7199999 milliseconds.
    static void eventLabelDurations(const std::string& eventId, const std::string& label,
                                    int32_t milliseconds);
    static void eventAttributesDurations(const std::string& eventId,
                                         const platform::ValueDictionary& attributes, int32_t milliseconds);

    static void profileSignInWithPUID(const std::string& puid);
    static void profileSignInWithPUID(const std::string& puid, const std::string& provider);
    static void profileSignOff();
};
