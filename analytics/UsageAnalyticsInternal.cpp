#include "analytics/UsageAnalyticsInternal.h"

#include "analytics/UAEventMgr.h"
#include "analytics/UAHelper.h"
#include "analytics/UALinks.h"
#include "analytics/UANError.h"
#include "analytics/UANLog.h"
#include "analytics/UANTerminate.h"
#include "analytics/UANUtil.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsLocation.h"
#include "analytics/UsageAnalyticsSession.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Immortal.h"
#include "platform/foundation/Text.h"

#include <cmath>

namespace {

constexpr double kQuotaWindowSeconds = 28800;
constexpr int64_t kTimedEventLimitMs = 7200000;

bool inBackground() {
    return UsageAnalyticsSession::sharedInstance()->appInBackGround();
}

double now() {
    return platform::Clock::timeIntervalSince1970();
}

} // namespace

std::shared_ptr<UsageAnalyticsInternal> UsageAnalyticsInternal::sharedInstance() {
    // Never destroyed: the upload queue may still be at work while the process exits.
    static platform::detail::Immortal<std::shared_ptr<UsageAnalyticsInternal>> internal(
        std::make_shared<UsageAnalyticsInternal>(PrivateTag{}));
    return internal.get();
}

UsageAnalyticsInternal::UsageAnalyticsInternal(PrivateTag)
    : m_sendLogQueue(platform::OperationQueue::create())
    , m_sessionID(UANUtil::sessionId()) {
    m_sendLogQueue->setMaxConcurrentOperationCount(1);
}

void UsageAnalyticsInternal::workEvent(const UADispatchEvent& item) {
    const auto& payload = item.object;
    switch (item.eEventType) {
    case UAEventAppActivate:
        activate();
        break;
    case UAEventAppInactivate:
        inactivate(payload.doubleOr(0));
        break;
    case UAEventNormal:
    case UAEventError:
    case UAEventEkv:
        handleRecord(item);
        break;
    case UAEventComputed: {
        std::vector<std::string> keyPath;
        for (const auto& element :
             payload["ccKeyPath"].array() ? *payload["ccKeyPath"].array() : platform::ValueArray{})
            keyPath.push_back(element.stringOr(""));
        auto label = payload["ccLabel"].string() ? std::optional(*payload["ccLabel"].string()) : std::nullopt;
        UAEventMgr::sharedInstance()->aggregateEvent(keyPath,
                                                     static_cast<int32_t>(payload["ccValue"].int64Or(0)),
                                                     UAHelper::UTCTimeIntervalMS(), label);
        break;
    }
    case UAEventBegin:
    case UAEventEnd:
    case UAEventEkvBegin:
    case UAEventEkvEnd:
        handleTimed(item);
        break;
    case UAEventPageDuration:
        pageItems.push_back(payload);
        UANLog("pageDuration:{}", payload.description());
        break;
    case UAEventPageBegin:
        pageBegin(payload.stringOr(""));
        break;
    case UAEventPageEnd:
        pageEnd(payload.stringOr(""));
        break;
    case UAEventProfileSignIn:
    case UAEventProfileSignOff:
        changeProfile(payload, item.eEventType == UAEventProfileSignIn);
        break;
    default:
        UANLog("WARNING: unkown event type");
        break;
    }
}

void UsageAnalyticsInternal::activate() {
    loadCacheFromTempContainer();
    loadCache();
    UAEventMgr::sharedInstance()->loadCacheData();
    auto stored = UsageAnalyticsConfig::stringWithKey("UAAppVersion");
    if (stored && !platform::text::equalsIgnoringASCIICase(*stored, UANUtil::appVersionString()) && hasJob())
        generateEnvelopeFile();
    if (!inBackground())
        uadetail::jobLink()->preparePerformJob(0);
    UANLog("session begin:{}", m_sessionID);
}

void UsageAnalyticsInternal::inactivate(double duration) {
    stopSession(duration);
    auto app = UsageAnalyticsApp::sharedInstance();
    if (app->reportPolicy() == UAReportPolicyOnBackground && app->backgroundTaskEnabled())
        uadetail::jobLink()->preparePerformJob(1);
    saveAndCleanCache();
    UANLog("session end:{}", m_sessionID);
}

void UsageAnalyticsInternal::handleRecord(const UADispatchEvent& item) {
    auto record = item.object.objectAs<UANBaseEvent>();
    if (!record || !checkEventLimit())
        return;
    setEventSessionID(*record);
    addEvent(record, arrayWithEventType(item.eEventType));
}

void UsageAnalyticsInternal::handleTimed(const UADispatchEvent& item) {
    if (auto event = item.object.objectAs<UANEvent>()) {
        setEventSessionID(*event);
        item.eEventType == UAEventBegin ? eventBegin(event) : eventEnd(event);
    } else if (auto attributeEvent = item.object.objectAs<UANEkv>()) {
        setEventSessionID(*attributeEvent);
        item.eEventType == UAEventEkvBegin ? ekvBegin(attributeEvent) : ekvEnd(attributeEvent);
    }
}

void UsageAnalyticsInternal::pageBegin(const std::string& name) {
    double start = now();
    pageItemsHash[name] = start;
    UANLog("pageBegin={}, beginTime:{}", name, platform::Value(start).description());
}

void UsageAnalyticsInternal::pageEnd(const std::string& name) {
    auto open = pageItemsHash.find(name);
    if (name.empty() || open == pageItemsHash.end())
        return;
    auto duration = static_cast<int64_t>(std::trunc(now() - open->second));
    if (duration >= 1) {
        pageItems.push_back(platform::Value::array({name, duration}));
        UANLog("pageEnd={}, duration:{}", name, duration);
    }
    pageItemsHash.erase(open);
}

void UsageAnalyticsInternal::changeProfile(const platform::Value& payload, bool signIn) {
    auto provider = payload["UAProfileProvider"].stringOr("");
    auto puid = payload["UAProfilePUID"].stringOr("");
    auto storedPUID = UsageAnalyticsConfig::stringWithKey("UAProfilePUID");
    if (signIn && UsageAnalyticsConfig::stringWithKey("UAProfileProvider") == provider && storedPUID == puid)
        return;
    if (!signIn && !storedPUID)
        return;
    auto session = UsageAnalyticsSession::sharedInstance();
    if (session->sessionStatus() != 0) {
        stopSession(session->endSessionTime());
        generateEnvelopeFile();
        session->beginSessionTime();
    }
    if (signIn) {
        UsageAnalyticsConfig::setConfigure(platform::Value(provider), "UAProfileProvider");
        UsageAnalyticsConfig::setConfigure(platform::Value(puid), "UAProfilePUID");
    } else {
        UsageAnalyticsConfig::removeConfigureWithKey("UAProfileProvider");
        UsageAnalyticsConfig::removeConfigureWithKey("UAProfilePUID");
    }
}

bool UsageAnalyticsInternal::checkEventLimit() {
    auto windowStart = UsageAnalyticsConfig::doubleWithKey("uaSeparatedTime");
    if (!windowStart) {
        UsageAnalyticsConfig::setConfigure(platform::Value(now()), "uaSeparatedTime");
        return true;
    }
    if (now() - *windowStart > kQuotaWindowSeconds) {
        UsageAnalyticsConfig::setConfigure(platform::Value(0), "uaPeriodEvtCount");
        UsageAnalyticsConfig::setConfigure(platform::Value(now()), "uaSeparatedTime");
    }
    int64_t count = static_cast<int64_t>(events.size() + ekv.size()) +
                    UsageAnalyticsConfig::integerWithKey("uaPeriodEvtCount").value_or(0);
    int64_t limit = UsageAnalyticsApp::sharedInstance()->scenarioType() == 1 ? 10000 : 5000;
    if (count >= limit) {
        UANLog("WARNING event max count {} per 8 hours.", limit);
        return false;
    }
    return true;
}

UsageAnalyticsInternal::Records* UsageAnalyticsInternal::arrayWithEventType(int32_t type) {
    if (inBackground() || UsageAnalyticsSession::sharedInstance()->sessionStatus() == 0)
        return &tmpContainer;
    switch (type) {
    case UAEventAppInactivate:
        return &terminates;
    case UAEventNormal:
        return &events;
    case UAEventError:
        return &errors;
    case UAEventEkv:
        return &ekv;
    default:
        return nullptr;
    }
}

void UsageAnalyticsInternal::addEvent(const std::shared_ptr<UANBaseEvent>& record, Records* container) {
    if (!record || !container)
        return;
    container->push_back(record);
    record->outputUALog();
    if (!inBackground())
        uadetail::jobLink()->preparePerformJob(1);
}

void UsageAnalyticsInternal::setEventSessionID(UANBaseEvent& record) {
    if (m_sessionID.empty()) {
        UANLog("WARNING: session id is empty");
        return;
    }
    record.session_id = m_sessionID;
}

void UsageAnalyticsInternal::timedBegin(std::map<std::string, Records>& open, const std::string& key,
                                        const std::shared_ptr<UANBaseEvent>& record) {
    auto& begun = open[key];
    begun.insert(begun.begin(), record);
}

void UsageAnalyticsInternal::timedEnd(std::map<std::string, Records>& open, const std::string& key,
                                      int32_t type) {
    auto found = open.find(key);
    if (found == open.end() || found->second.empty())
        return;
    auto begun = found->second.front();
    found->second.erase(found->second.begin());
    if (found->second.empty())
        open.erase(found);
    // Compared in full before anything narrows it: a begin weeks old is long, not negative.
    int64_t duration = 0;
    if (auto event = std::dynamic_pointer_cast<UANEvent>(begun))
        duration = event->updateDu();
    else if (auto attributeEvent = std::dynamic_pointer_cast<UANEkv>(begun))
        duration = attributeEvent->updateDu();
    if (duration < kTimedEventLimitMs && checkEventLimit())
        addEvent(begun, arrayWithEventType(type));
}

void UsageAnalyticsInternal::eventBegin(const std::shared_ptr<UANEvent>& record) {
    timedBegin(eventBeginTimes, record->event_id.value_or("") + record->label.value_or(""), record);
    UANLog("eventBegin eventId={}, label={}", record->event_id.value_or("(null)"),
           record->label.value_or("(null)"));
}

void UsageAnalyticsInternal::eventEnd(const std::shared_ptr<UANEvent>& record) {
    if (record->event_id.value_or("").empty())
        return;
    timedEnd(eventBeginTimes, *record->event_id + record->label.value_or(""), UAEventNormal);
}

void UsageAnalyticsInternal::ekvBegin(const std::shared_ptr<UANEkv>& record) {
    timedBegin(ekvBeginTimes, record->id.value_or("") + record->key.value_or(""), record);
    UANLog("ekvBegin ekvEvent.id={}, ekvEvent.key={}", record->id.value_or("(null)"),
           record->key.value_or("(null)"));
}

void UsageAnalyticsInternal::ekvEnd(const std::shared_ptr<UANEkv>& record) {
    if (record->id.value_or("").empty() || record->key.value_or("").empty())
        return;
    timedEnd(ekvBeginTimes, *record->id + *record->key, UAEventEkv);
}

void UsageAnalyticsInternal::stopSession(double duration) {
    auto record = std::make_shared<UANTerminate>(duration);
    record->session_id = m_sessionID;
    auto location = UsageAnalyticsLocation::sharedInstance();
    if (location->latitude() != 0 && location->longitude() != 0) {
        auto fix = location->takeFix();
        record->latitude = fix.latitude;
        record->longitude = fix.longitude;
        record->gps_time = static_cast<int64_t>(fix.gps_time * 1000);
    }
    if (!pageItems.empty())
        record->pageViews = std::exchange(pageItems, {});
    terminates.push_back(record);
    record->outputUALog();
}

bool UsageAnalyticsInternal::hasJob() const {
    return !terminates.empty() || !events.empty() || !ekv.empty() || !errors.empty();
}

void UsageAnalyticsInternal::buildDummySession() {
    auto record = std::make_shared<UANTerminate>(60);
    record->session_id = m_sessionID;
    record->ts = now();
    terminates.push_back(record);
}

void UsageAnalyticsInternal::removeSessions() {
    terminates.clear();
}

void UsageAnalyticsInternal::removeInstanceMsgs() {
    ekv.clear();
    events.clear();
    errors.clear();
}
