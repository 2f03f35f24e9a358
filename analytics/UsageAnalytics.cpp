#include "analytics/UsageAnalytics.h"

#include "analytics/UALinks.h"
#include "analytics/UANLog.h"
#include "analytics/UANUtil.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsEvent.h"
#include "analytics/UsageAnalyticsSession.h"
#include "platform/foundation/ClassRegistry.h"

#include <algorithm>

namespace {

// The optional companion library; without one linked in, its calls do nothing.
constexpr const char* kCompanion = "CompanionUsageAnalytics";

bool inDurationRange(int32_t milliseconds) {
    return milliseconds >= 1 && milliseconds <= 7199999;
}

} // namespace

void UsageAnalytics::startWithConfigure(const std::shared_ptr<UAAnalyticsConfig>& config) {
    auto appKey = config ? config->appKey().value_or("") : "";
    if (appKey.empty()) {
        uadetail::systemLog("UALOG:(ERROR) appkey is empty.");
        return;
    }
    UsageAnalyticsConfig::setConfigure(platform::Value(config->eSType()), "scenariotype");
    UsageAnalyticsApp::sharedInstance()->setScenarioType(config->eSType());
    if (auto secret = config->secret(); secret && !secret->empty())
        UsageAnalyticsConfig::setConfigure(platform::Value(*secret), "asecret");
    auto channel = config->channelId().value_or("");
    UsageAnalyticsSession::startWithAppkey(appKey, config->ePolicy(), channel);
    if (config->bCrashReportEnabled())
        UsageAnalyticsApp::setCrashReportEnabled(true);
    if (!channel.empty())
        preformClass(kCompanion, "setChannel:", platform::Value(channel));
}

void UsageAnalytics::setAppVersion(const std::string& version) {
    UsageAnalyticsApp::setAppVersion(version);
}

void UsageAnalytics::setCrashReportEnabled(bool enabled) {
    UsageAnalyticsApp::setCrashReportEnabled(enabled);
}

void UsageAnalytics::setBackgroundTaskEnabled(bool enabled) {
    UsageAnalyticsApp::setBackgroundTaskEnabled(enabled);
}

void UsageAnalytics::setEncryptEnabled(bool enabled) {
    UsageAnalyticsApp::setEncryptEnabled(enabled);
}

void UsageAnalytics::setLogEnabled(bool enabled) {
    UsageAnalyticsApp::setLogEnabled(enabled);
    preformClass(kCompanion, "setDebugStatus:", platform::Value(enabled));
}

void UsageAnalytics::setLogSendInterval(double seconds) {
    if (seconds < 90) {
        uadetail::systemLog("ERROR: can't less 90s for log send interval.");
        return;
    }
    UsageAnalyticsConfig::setConfigure(platform::Value(seconds), "uacReportInterval");
    UsageAnalyticsApp::sharedInstance()->setLogSendInterval(UsageAnalyticsApp::minReportInterval());
    int32_t whole = seconds >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(seconds);
    preformClass(kCompanion, "setSendInterval:", platform::Value(whole));
}

void UsageAnalytics::setLatency(int32_t seconds) {
    uadetail::jobLink()->setLatencySdk(
        static_cast<int32_t>(std::min<uint32_t>(static_cast<uint32_t>(seconds), 1800)));
}

void UsageAnalytics::setWrapperType(const std::string& wrapperType, const std::string& wrapperVersion) {
    auto app = UsageAnalyticsApp::sharedInstance();
    if (!wrapperType.empty())
        app->setWrapperType(wrapperType);
    if (!wrapperVersion.empty())
        app->setWrapperVersion(wrapperVersion);
}

void UsageAnalytics::setLatitude(double latitude, double longitude) {
    UsageAnalyticsLocation::setLatitude(latitude, longitude);
}

void UsageAnalytics::setLocation(UALocationCoordinate location) {
    UsageAnalyticsLocation::setLocation(location);
}

bool UsageAnalytics::isJailbroken() {
    return UANUtil::isDeviceJailBreak();
}

void UsageAnalytics::startSession(const platform::Notification*) {
    UsageAnalyticsSession::sharedInstance()->appActivate(nullptr);
}

void UsageAnalytics::preformClass(const std::string& className, const std::string& method,
                                  const platform::Value& object) {
    if (auto classMethod = platform::ClassRegistry::shared().classMethod(className, method))
        classMethod(object);
}

void UsageAnalytics::event(const platform::ValueArray& keyPath, int32_t value, const std::string& label) {
    if (keyPath.empty()) {
        uadetail::systemLog("UALOG:(ERROR) event's path is empty.");
        return;
    }
    if (UsageAnalyticsSession::sharedInstance()->appInBackGround()) {
        uadetail::systemLog(fmt::format("UALOG:(WARNING) {} event not support in background mode.",
                                        platform::Value(keyPath).description()));
        return;
    }
    std::vector<std::string> path;
    for (const auto& item : keyPath) {
        if (!item.string()) {
            uadetail::systemLog("UALOG:(ERROR) keypath's item must be NSString.");
            return;
        }
        path.push_back(*item.string());
    }
    UsageAnalyticsEvent::event(path, value, label);
}

void UsageAnalytics::event(const std::string& eventId) {
    UsageAnalyticsEvent::event(eventId);
}

void UsageAnalytics::event(const std::string& eventId, const std::string& label) {
    UsageAnalyticsEvent::event(eventId, label);
}

void UsageAnalytics::event(const std::string& eventId, const platform::ValueDictionary& attributes) {
    UsageAnalyticsEvent::event(eventId, attributes);
}

void UsageAnalytics::eventAttributesCounter(const std::string& eventId,
                                            const platform::ValueDictionary& attributes, int32_t counter) {
    auto counted = attributes;
    counted.set("__ct__", std::to_string(counter));
    UsageAnalyticsEvent::event(eventId, counted);
}

void UsageAnalytics::eventLabelDurations(const std::string& eventId, const std::string& label,
                                         int32_t milliseconds) {
    if (inDurationRange(milliseconds))
        UsageAnalyticsEvent::eventLabelDurations(eventId, label, milliseconds);
}

void UsageAnalytics::eventAttributesDurations(const std::string& eventId,
                                              const platform::ValueDictionary& attributes,
                                              int32_t milliseconds) {
    if (inDurationRange(milliseconds))
        UsageAnalyticsEvent::eventAttributesDurations(eventId, attributes, milliseconds);
}

void UsageAnalytics::profileSignInWithPUID(const std::string& puid) {
    UsageAnalyticsSession::profileSignInPUID(puid);
}

void UsageAnalytics::profileSignInWithPUID(const std::string& puid, const std::string& provider) {
    UsageAnalyticsSession::profileSignInPUID(puid, provider);
}

void UsageAnalytics::profileSignOff() {
    UsageAnalyticsSession::profileSignOff();
}
