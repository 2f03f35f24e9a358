#include "analytics/UsageAnalyticsSession.h"

#include "analytics/UANLog.h"
#include "analytics/UANUtil.h"
#include "analytics/UAPendingCrash.h"
#include "analytics/UARecordsLock.h"
#include "analytics/UAWorkDispatch.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Immortal.h"
#include "platform/foundation/Text.h"
#include "platform/ui/UIApplication.h"

namespace {

constexpr const char* kAdhocProvider = "_adhoc";

} // namespace

std::shared_ptr<UsageAnalyticsSession> UsageAnalyticsSession::sharedInstance() {
    // Never destroyed: the upload queue may still be at work while the process exits.
    static platform::detail::Immortal<std::shared_ptr<UsageAnalyticsSession>> session(
        std::make_shared<UsageAnalyticsSession>(PrivateTag{}));
    return session.get();
}

UsageAnalyticsSession::UsageAnalyticsSession(PrivateTag)
    : m_lastLaunchTime(platform::Clock::timeIntervalSince1970()) {}

void UsageAnalyticsSession::startWithAppkey(const std::string& appKey) {
    startWithAppkey(appKey, UAReportPolicyOnActivate, "");
}

void UsageAnalyticsSession::startWithAppkey(const std::string& appKey, int32_t reportPolicy,
                                            const std::string& channelId) {
    UANLog("analytics sdk version {} , app version {}", UANUtil::sdkVersionString(),
           UANUtil::appVersionString());
    auto app = UsageAnalyticsApp::sharedInstance();
    if (appKey.empty()) {
        app->noAppKeyException();
        return;
    }
    auto stored = UsageAnalyticsConfig::stringWithKey("appkey");
    if (stored && !stored->empty() && *stored != appKey)
        uadetail::systemLog("WARNING: Appkey is different with the past.");
    if (!stored || *stored != appKey)
        UsageAnalyticsConfig::setConfigure(platform::Value(appKey), "appkey");
    UsageAnalyticsConfig::setConfigure(platform::Value(static_cast<uint32_t>(reportPolicy)),
                                       "uacReportPolicy");
    app->setAppid(appKey);
    if (UsageAnalyticsConfig::configureWithKey("uaSeparatedTime").isNil())
        UsageAnalyticsConfig::setConfigure(platform::Value(platform::Clock::timeIntervalSince1970()),
                                           "uaSeparatedTime");
    if (!channelId.empty())
        app->setChannel(channelId);
    auto session = sharedInstance();
    if (!session->m_observerRegistered.exchange(true)) {
        session->registerObservers();
        UsageAnalyticsApp::setCrashReportEnabled(app->crashReportEnabled());
    }
    std::weak_ptr<UsageAnalyticsSession> weak = session;
    platform::DispatchQueue::main()->async([weak] {
        if (auto live = weak.lock())
            live->ensureSessionLaunch();
    });
}

void UsageAnalyticsSession::registerObservers() {
    auto self = std::static_pointer_cast<UsageAnalyticsSession>(shared_from_this());
    std::weak_ptr<UsageAnalyticsSession> weak = self;
    auto application = platform::UIApplication::sharedApplication();
    auto& center = platform::NotificationCenter::defaultCenter();
    center.addObserver(self, platform::UIApplicationDidBecomeActiveNotification, application,
                       [weak](const platform::Notification& note) {
                           if (auto session = weak.lock())
                               session->appActivate(&note);
                       });
    for (const char* name : {platform::UIApplicationWillResignActiveNotification,
                             platform::UIApplicationWillTerminateNotification}) {
        center.addObserver(self, name, application, [weak](const platform::Notification& note) {
            if (auto session = weak.lock())
                session->appInactivate(&note);
        });
    }
}

void UsageAnalyticsSession::appActivate(const platform::Notification*) {
    std::lock_guard records(uadetail::recordsMutex());
    m_appInBackGround = false;
    if (m_sessionStatus == 1)
        UANLog("WARNING app has already activate.");
    beginSessionTime();
    UAWorkDispatch::sendEvent({}, UAEventAppActivate);
}

void UsageAnalyticsSession::beginSessionTime() {
    if (m_sessionStatus != 0)
        UsageAnalyticsInternal::sharedInstance()->setSessionID(UANUtil::sessionId());
    m_sessionStatus = 1;
    m_lastLaunchTime = platform::Clock::timeIntervalSince1970();
    keepForCrash();
}

// A fatal signal can only write what is ready beforehand: the session it would cut short.
void UsageAnalyticsSession::keepForCrash() const {
    uadetail::PendingCrash::setSession(UsageAnalyticsInternal::sharedInstance()->sessionID(),
                                       m_sessionStatus == 1 ? std::optional<double>(m_lastLaunchTime)
                                                            : std::nullopt);
}

double UsageAnalyticsSession::endSessionTime() const {
    double seconds = platform::Clock::timeIntervalSince1970() - m_lastLaunchTime;
    return seconds > 7200 ? 3600 : seconds;
}

void UsageAnalyticsSession::appInactivate(const platform::Notification* notification) {
    std::lock_guard records(uadetail::recordsMutex());
    m_appInBackGround = true;
    m_sessionStatus = 2;
    keepForCrash();
    if (notification && notification->name() == platform::UIApplicationWillTerminateNotification)
        m_appBeKilling = true;
    double duration = endSessionTime();
    auto app = UsageAnalyticsApp::sharedInstance();
    if (!m_appCrashed && !m_appBeKilling && app->backgroundTaskEnabled()) {
        app->activeBackgroundTask();
        UAWorkDispatch::sendEvent(platform::Value(duration), UAEventAppInactivate);
        return;
    }
    // A crash or termination leaves no time for a round through the main queue.
    auto internal = UsageAnalyticsInternal::sharedInstance();
    internal->stopSession(duration);
    internal->saveAndCleanCache();
}

void UsageAnalyticsSession::ensureSessionLaunch() {
    if (m_sessionStatus == 0)
        appActivate(nullptr);
}

void UsageAnalyticsSession::signInPUID(const std::string& puid, const std::string& provider) {
    if (puid.empty()) {
        UANLog("ERROR, invalid puid.");
        return;
    }
    if (platform::text::utf16Length(puid) > 64) {
        UANLog("ERROR, puid's max length is 64 byte.");
        return;
    }
    if (platform::text::utf16Length(provider) > 32) {
        UANLog("ERROR, provider's max length is 32 byte.");
        return;
    }
    UAWorkDispatch::sendEvent(
        platform::Value::dictionary({{"UAProfileProvider", provider}, {"UAProfilePUID", puid}}),
        UAEventProfileSignIn);
}

void UsageAnalyticsSession::profileSignInPUID(const std::string& puid) {
    signInPUID(puid, kAdhocProvider);
}

void UsageAnalyticsSession::profileSignInPUID(const std::string& puid, const std::string& provider) {
    signInPUID(puid, provider.empty() ? kAdhocProvider : provider);
}

void UsageAnalyticsSession::profileSignOff() {
    UAWorkDispatch::sendEvent({}, UAEventProfileSignOff);
}
