#include "analytics/UAPayloadBuild.h"

#include "analytics/UAEventMgr.h"
#include "analytics/UAHelper.h"
#include "analytics/UANEkv.h"
#include "analytics/UANError.h"
#include "analytics/UANEvent.h"
#include "analytics/UANLog.h"
#include "analytics/UANTerminate.h"
#include "analytics/UANUtil.h"
#include "analytics/UATRecordIO.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsGameAnalytics.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "analytics/UsageAnalyticsJob.h"
#include "platform/foundation/Immortal.h"
#include "platform/foundation/Text.h"

#include <cmath>

namespace {

using platform::Value;
using platform::ValueDictionary;

int64_t milliseconds(double seconds) {
    return static_cast<int64_t>(seconds * 1000);
}

bool isGame() {
    return UsageAnalyticsApp::sharedInstance()->scenarioType() == 1;
}

// The application version the payload reports: after an update, the stored earlier version once, so
// what was recorded under it is labelled with it.
std::string reportedAppVersion() {
    auto current = UANUtil::appVersionString();
    auto stored = UsageAnalyticsConfig::stringWithKey("UAAppVersion");
    if (!stored || platform::text::equalsIgnoringASCIICase(*stored, current))
        return current;
    UsageAnalyticsConfig::setConfigure(Value(current), "UAAppVersion");
    return *stored;
}

std::string accessText() {
    auto access = UANUtil::accessString();
    if (access == "WiFi")
        return "wifi";
    return access == "CellNetwork" ? "2G/3G" : "unknown";
}

// The stored imprint as Base64, only when it reads whole and its checksum holds.
std::optional<std::string> checkedImprint() {
    auto bytes = UsageAnalyticsConfig::dataWithKey("uaImprint");
    if (!bytes)
        return std::nullopt;
    bool complete = false;
    auto imprint = uadetail::recordFromData<UATImprint>(*bytes, &complete);
    if (!complete || !UAPayloadBuild::validateImprintChecksum(imprint))
        return std::nullopt;
    return UAHelper::encodeBase64(*bytes);
}

void setStored(ValueDictionary& map, const char* key, std::string_view storedKey) {
    auto value = UsageAnalyticsConfig::configureWithKey(storedKey);
    if (value.isNumber())
        map.set(key, value);
}

void setText(ValueDictionary& map, const char* key, const std::string& text) {
    if (!text.empty())
        map.set(key, text);
}

std::string describe(const Value& value) {
    return value.description();
}

// Records of one kind grouped by analytics session id: one map when there is one session, else one
// single-entry map per session.
Value grouped(const ValueDictionary& bySession) {
    if (bySession.entries().size() == 1)
        return Value::array({Value(bySession)});
    platform::ValueArray groups;
    for (const auto& [session, entries] : bySession.entries())
        groups.push_back(Value::dictionary({{session, entries}}));
    return Value(std::move(groups));
}

void append(ValueDictionary& bySession, const std::string& session, Value entry) {
    if (auto* list = bySession.find(session)) {
        list->mutableArray()->push_back(std::move(entry));
        return;
    }
    platform::ValueArray list;
    list.reserve(2);
    list.push_back(std::move(entry));
    bySession.set(session, Value(std::move(list)));
}

} // namespace

std::shared_ptr<UAPayloadBuild> UAPayloadBuild::sharedInstance() {
    // Never destroyed: the upload queue may still be at work while the process exits.
    static platform::detail::Immortal<std::shared_ptr<UAPayloadBuild>> build(
        std::make_shared<UAPayloadBuild>(PrivateTag{}));
    return build.get();
}

UAPayloadBuild::UAPayloadBuild(PrivateTag) {
    buildIdTracking();
}

std::optional<platform::Data> UAPayloadBuild::payloadData() {
    buildHeaderSeg();
    buildBodySeg();
    auto text = UANUtil::JSONFragment(Value(m_jsonObject));
    const auto& header = m_jsonObject.get("header");
    const auto& body = m_jsonObject.get("body");
    std::string entry = fmt::format(
        "logEntry=sdk_version:{}, device_id:{}, model:{}, os_version:{}, active_user:{}, active_msg:{}, "
        "control_policy:{}, cc:{}, sessions:{}, ekv:{}",
        describe(header["sdk_version"]), describe(header["device_id"]), describe(header["device_model"]),
        describe(header["os_version"]), describe(body["active_user"]), describe(body["activate_msg"]),
        describe(body["control_policy"]), describe(body["cc"]), describe(body["sessions"]),
        describe(body["ekv"]));
    if (isGame())
        entry += ",gkv:" + describe(body["gkv"]);
    UANLog("{}", entry);
    if (!text)
        return std::nullopt;
    return platform::Data(std::string_view(*text));
}

void UAPayloadBuild::buildHeaderSeg() {
    auto app = UsageAnalyticsApp::sharedInstance();
    ValueDictionary header;
    header.set("app_version", reportedAppVersion());
    if (auto key = UsageAnalyticsConfig::stringWithKey("appkey"))
        header.set("appkey", *key);
    header.set("package_name", UANUtil::appPackageNameString());
    header.set("sdk_type", "IOS");
    header.set("sdk_version", UANUtil::sdkVersionString());
    header.set("channel", app->channel());
    if (auto secret = UsageAnalyticsConfig::stringWithKey("asecret"); secret && !secret->empty())
        header.set("secret", UANUtil::md5(*secret));
    setText(header, "wrapper_type", app->wrapperType());
    setText(header, "wrapper_version", app->wrapperVersion());
    if (app->scenarioType() != 0)
        header.set("vertical_type", Value(app->scenarioType()));
    header.set("device_id", UANUtil::openDeviceIDString());
    header.set("device_model", UANUtil::deviceModelString());
    header.set("os", "iOS");
    header.set("os_version", UANUtil::osVersionString());
    header.set("is_jailbroken", UANUtil::deviceJailBreakString());
    header.set("resolution", fmt::format("{}*{}", UANUtil::resolutionHeight(), UANUtil::resolutionWidth()));
    header.set("mc", UANUtil::deviceMacAddressString());
    header.set("access", accessText());
    header.set("access_subtype", UANUtil::accessSubType());
    header.set("mccmnc", UANUtil::mccString() + UANUtil::mncString());
    header.set("timezone", Value(UANUtil::timezone()));
    header.set("language", UANUtil::languageString());
    header.set("country", UANUtil::countryString());
    header.set("carrier", UANUtil::carrierString());
    header.set("display_name", UANUtil::appDisplayNameString());
    setStored(header, "successful_requests", "uaSuccessfulRequests");
    setStored(header, "failed_requests", "uaFailedRequests");
    setStored(header, "req_time", "uaLastRequestSpentMS");
    if (auto tracking = UsageAnalyticsConfig::dataWithKey("uaIDTracking"))
        header.set("id_tracking", UAHelper::encodeBase64(*tracking));
    if (auto imprint = checkedImprint())
        header.set("imprint", *imprint);
    m_jsonObject.set("header", Value(std::move(header)));
}

void UAPayloadBuild::buildBodySeg() {
    m_body.clear();
    if (auto puid = UsageAnalyticsConfig::stringWithKey("UAProfilePUID")) {
        ValueDictionary user;
        if (auto provider = UsageAnalyticsConfig::stringWithKey("UAProfileProvider"))
            user.set("provider", *provider);
        user.set("puid", *puid);
        m_body.set("active_user", Value(std::move(user)));
    }
    auto job = UsageAnalyticsJob::sharedInstance();
    int32_t defcon = job->defcon();
    if (defcon == 0 && (job->bDisguisedLatency() || job->latency() > 0)) {
        double elapsed = UsageAnalyticsJob::elapsedTimeFromPost();
        m_body.set("control_policy",
                   Value::dictionary(
                       {{"latent", Value::dictionary(
                                       {{"latency", job->latency()},
                                        {"interval", elapsed > 0 ? milliseconds(elapsed) : int64_t{0}}})}}));
    }
    if (UsageAnalyticsConfig::configureWithKey("uaActivateMsg").isNil())
        m_body.set("activate_msg",
                   Value::dictionary({{"ts", UsageAnalyticsApp::sharedInstance()->activateMsgTS()}}));
    auto groups = UsageAnalyticsConfig::configureWithKey("uaExperimentGroupInfo");
    if (groups.dictionary() && !groups.dictionary()->empty() && !UsageAnalyticsApp::isIntegratedTestModel()) {
        auto copy = *groups.dictionary();
        if (!UAHelper::checkIsOverseas())
            copy.remove("DOM");
        if (!copy.empty())
            m_body.set("group_info", Value(std::move(copy)));
    }
    auto internal = UsageAnalyticsInternal::sharedInstance();
    if (defcon != 0) {
        // Under back-off nothing of the period is reported: only sessions (or one placeholder) go.
        internal->removeInstanceMsgs();
        UAEventMgr::sharedInstance()->clearEventsWithMeta(true);
        if (defcon == 2 || defcon == 3)
            internal->removeSessions();
        if (defcon == 2)
            internal->buildDummySession();
    } else {
        buildErrors();
        buildEvents();
        buildCCEvents();
    }
    buildSessions();
    if (isGame()) {
        if (auto level = UsageAnalyticsGameAnalytics::userLevel(); !level.empty())
            m_body.set("userlevel", level);
    }
    m_jsonObject.set("body", Value(m_body));
}

void UAPayloadBuild::buildErrors() {
    const auto& errors = UsageAnalyticsInternal::sharedInstance()->errors;
    if (errors.empty())
        return;
    platform::ValueArray list;
    for (const auto& record : errors) {
        auto error = std::dynamic_pointer_cast<UANError>(record);
        list.push_back(
            Value::dictionary({{"ts", milliseconds(record->ts)},
                               {"context", uadetail::textValue(error ? error->context : std::nullopt)}}));
    }
    m_body.set("error", Value(std::move(list)));
}

void UAPayloadBuild::buildEvents() {
    m_ekvs.clear();
    m_gkvs.clear();
    auto internal = UsageAnalyticsInternal::sharedInstance();
    for (const auto& record : internal->events)
        addEvent(record);
    for (const auto& record : internal->ekv)
        addEvent(record);
    if (!m_ekvs.empty())
        m_body.set("ekv", grouped(m_ekvs));
    if (!m_gkvs.empty())
        m_body.set("gkv", grouped(m_gkvs));
}

void UAPayloadBuild::addEvent(const std::shared_ptr<UANBaseEvent>& record) {
    ValueDictionary entry{{"ts", milliseconds(record->ts)}};
    ValueDictionary* container = nullptr;
    if (auto event = std::dynamic_pointer_cast<UANEvent>(record)) {
        entry.set("id", uadetail::textValue(event->event_id));
        if (event->du >= 1)
            entry.set("du", event->du);
        if (event->label && !event->label->empty())
            entry.set(event->event_id.value_or(""), *event->label);
        container = &m_ekvs;
    } else if (auto attributeEvent = std::dynamic_pointer_cast<UANEkv>(record)) {
        entry.set("id", uadetail::textValue(attributeEvent->id));
        if (attributeEvent->du >= 1)
            entry.set("du", attributeEvent->du);
        for (const auto& [key, value] : attributeEvent->values.entries())
            entry.set(key, value);
        if (attributeEvent->type == "ekv")
            container = &m_ekvs;
        else if (isGame())
            container = &m_gkvs;
    }
    if (container)
        append(*container, record->session_id.value_or(""), Value(std::move(entry)));
}

void UAPayloadBuild::buildCCEvents() {
    auto manager = UAEventMgr::sharedInstance();
    ValueDictionary aggregated, meta;
    manager->loadAGEvents(aggregated);
    manager->loadVeMetaEvents(meta);
    ValueDictionary counters;
    if (!aggregated.empty())
        counters.set("ag", Value(std::move(aggregated)));
    if (!meta.empty())
        counters.set("ve_meta", Value(std::move(meta)));
    if (!counters.empty())
        m_body.set("cc", Value(std::move(counters)));
}

void UAPayloadBuild::buildSessions() {
    const auto& terminates = UsageAnalyticsInternal::sharedInstance()->terminates;
    if (terminates.empty())
        return;
    platform::ValueArray sessions;
    for (const auto& record : terminates) {
        auto session = std::dynamic_pointer_cast<UANTerminate>(record);
        if (!session)
            continue;
        ValueDictionary entry{{"id", uadetail::textValue(session->session_id)},
                              {"start_time", milliseconds(session->ts - session->duration)},
                              {"end_time", milliseconds(session->ts)},
                              {"duration", milliseconds(session->duration)}};
        platform::ValueArray pages;
        for (const auto& page : session->pageViews)
            pages.push_back(
                Value::dictionary({{"page_name", page[0]},
                                   {"duration", static_cast<int32_t>(milliseconds(page[1].doubleOr(0)))}}));
        if (!pages.empty())
            entry.set("pages", Value(std::move(pages)));
        if (session->hasGPSInfo())
            entry.set("locations", Value::array({Value::dictionary({{"lat", session->latitude},
                                                                    {"lng", session->longitude},
                                                                    {"ts", session->gps_time}})}));
        sessions.push_back(Value(std::move(entry)));
    }
    m_body.set("sessions", Value(std::move(sessions)));
}
