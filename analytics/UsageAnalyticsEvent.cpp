#include "analytics/UsageAnalyticsEvent.h"

#include "analytics/UAHelper.h"
#include "analytics/UANEkv.h"
#include "analytics/UANEvent.h"
#include "analytics/UANLog.h"
#include "analytics/UAWorkDispatch.h"
#include "platform/foundation/Text.h"

namespace {

constexpr int64_t kTwoHoursMs = 7200000;
constexpr size_t kPathElementLength = 16;

std::optional<std::string> nonEmpty(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional(text);
}

std::shared_ptr<UANEvent> eventRecord(const std::string& eventId, const std::string& label) {
    auto record = std::make_shared<UANEvent>();
    record->event_id = eventId;
    record->label = nonEmpty(label);
    return record;
}

// The first 10 attributes in order (with "__ct__" first, beyond the 10, unless `plain`).
platform::ValueDictionary limitedAttributes(const platform::ValueDictionary& attributes, bool plain) {
    bool counted = !plain && attributes.contains("__ct__");
    if (attributes.size() <= (counted ? 11u : 10u))
        return attributes;
    platform::ValueDictionary kept;
    if (counted)
        kept.set("__ct__", attributes.get("__ct__"));
    size_t copied = 0;
    for (const auto& [key, value] : attributes) {
        if (copied == 10)
            break;
        if (counted && key == "__ct__")
            continue;
        kept.set(key, value);
        ++copied;
    }
    return kept;
}

void attributeEvent(const std::string& eventId, const platform::ValueDictionary& attributes,
                    int32_t milliseconds, bool game) {
    if (!UsageAnalyticsEvent::validEventID(eventId) || attributes.empty())
        return;
    auto record = UANEkv::create(eventId, std::nullopt, limitedAttributes(attributes, game), game);
    if (!record)
        return;
    if (milliseconds >= 1)
        record->du = milliseconds;
    UAWorkDispatch::sendEvent(platform::Value(record), UAEventEkv);
}

std::string pathText(const std::vector<std::string>& keyPath) {
    platform::ValueArray items(keyPath.begin(), keyPath.end());
    return platform::Value(std::move(items)).description();
}

// The key path as recorded: cut elements, or the illegal marker path.
std::vector<std::string> checkedPath(const std::vector<std::string>& keyPath) {
    const std::vector<std::string> illegal = {keyPath.front(), "__cc", "illegal"};
    if (keyPath.size() >= 9) {
        uadetail::systemLog(fmt::format("UALOG: (WARNING) {} overflow max length {}.", pathText(keyPath), 8));
        return illegal;
    }
    auto checked = keyPath;
    std::string joined;
    for (size_t i = checked.size(); i-- > 1;) {
        auto& element = checked[i];
        if (platform::text::utf16Length(element) > kPathElementLength) {
            uadetail::systemLog(fmt::format("UALOG: (WARNING) {} length overflow({}), will be trimming.",
                                            element, kPathElementLength));
            element = platform::text::substringToIndex(element, kPathElementLength);
        }
        if (!UAHelper::checkU48Character(element)) {
            uadetail::systemLog(
                fmt::format("UALOG: (WARNING) {} is illegal in {}.", element, pathText(keyPath)));
            return illegal;
        }
        joined = element + joined;
    }
    if (joined.size() > 256) {
        uadetail::systemLog(
            fmt::format("UALOG: (WARNING) {} total length overflow({})", pathText(keyPath), 256));
        return illegal;
    }
    return checked;
}

std::string checkedLabel(const std::string& label, const std::vector<std::string>& keyPath) {
    if (label.empty())
        return "";
    if (!UAHelper::checkU48Character(label)) {
        uadetail::systemLog(
            fmt::format("UALOG: (WARNING) {} is illegal label in {}.", label, pathText(keyPath)));
        return "__illegal";
    }
    if (label.size() > 160) {
        uadetail::systemLog(
            fmt::format("UALOG: (WARNING) {} length overflow({}), will be trimming.", label, 160));
        return UAHelper::trimUTF8String(label, 160);
    }
    return label;
}

} // namespace

bool UsageAnalyticsEvent::validEventID(const std::string& eventId) {
    if (eventId.empty())
        return false;
    if (eventId.size() > 128 || platform::text::trimmingWhitespaceAndNewlines(eventId).empty()) {
        uadetail::systemLog(
            fmt::format("UALOG: (Warning) event_id ({}) max bytes length > {}", eventId, 128));
        return false;
    }
    return true;
}

void UsageAnalyticsEvent::eventJob(const std::string& eventId, const std::string& label, int64_t acc,
                                   int64_t du) {
    if (!validEventID(eventId))
        return;
    auto record = eventRecord(eventId, label);
    record->acc = acc;
    record->du = du;
    if (du < kTwoHoursMs)
        UAWorkDispatch::sendEvent(platform::Value(record), UAEventNormal);
}

void UsageAnalyticsEvent::event(const std::string& eventId) {
    eventJob(eventId, "", 1, 0);
}

void UsageAnalyticsEvent::event(const std::string& eventId, const std::string& label) {
    eventJob(eventId, label, 1, 0);
}

void UsageAnalyticsEvent::eventAcc(const std::string& eventId, int64_t acc) {
    eventJob(eventId, "", acc, 0);
}

void UsageAnalyticsEvent::eventLabelAcc(const std::string& eventId, const std::string& label, int64_t acc) {
    eventJob(eventId, label, acc, 0);
}

void UsageAnalyticsEvent::eventDurations(const std::string& eventId, int32_t milliseconds) {
    eventJob(eventId, "", 1, milliseconds);
}

void UsageAnalyticsEvent::eventLabelDurations(const std::string& eventId, const std::string& label,
                                              int32_t milliseconds) {
    eventJob(eventId, label, 1, milliseconds);
}

void UsageAnalyticsEvent::beginEvent(const std::string& eventId) {
    beginEvent(eventId, std::string());
}

void UsageAnalyticsEvent::endEvent(const std::string& eventId) {
    endEventLabel(eventId, "");
}

void UsageAnalyticsEvent::beginEvent(const std::string& eventId, const std::string& label) {
    if (!validEventID(eventId))
        return;
    auto record = eventRecord(eventId, label);
    record->acc = 0;
    UAWorkDispatch::sendEvent(platform::Value(record), UAEventBegin);
}

void UsageAnalyticsEvent::endEventLabel(const std::string& eventId, const std::string& label) {
    if (validEventID(eventId))
        UAWorkDispatch::sendEvent(platform::Value(eventRecord(eventId, label)), UAEventEnd);
}

void UsageAnalyticsEvent::beginEvent(const std::string& eventId, const std::string& primaryKey,
                                     const platform::ValueDictionary& attributes) {
    if (!validEventID(eventId) || primaryKey.empty() || attributes.empty())
        return;
    if (auto record = UANEkv::create(eventId, primaryKey, attributes, false))
        UAWorkDispatch::sendEvent(platform::Value(record), UAEventEkvBegin);
}

void UsageAnalyticsEvent::endEventPrimarykey(const std::string& eventId, const std::string& primaryKey) {
    if (!validEventID(eventId))
        return;
    if (auto record = UANEkv::create(eventId, nonEmpty(primaryKey), {}, false))
        UAWorkDispatch::sendEvent(platform::Value(record), UAEventEkvEnd);
}

void UsageAnalyticsEvent::event(const std::string& eventId, const platform::ValueDictionary& attributes) {
    eventAttributesDurations(eventId, attributes, 0);
}

void UsageAnalyticsEvent::eventAttributesDurations(const std::string& eventId,
                                                   const platform::ValueDictionary& attributes,
                                                   int32_t milliseconds) {
    attributeEvent(eventId, attributes, milliseconds, false);
}

void UsageAnalyticsEvent::gameEvent(const std::string& eventId, const platform::ValueDictionary& attributes) {
    gameEvent(eventId, attributes, 0);
}

void UsageAnalyticsEvent::gameEvent(const std::string& eventId, const platform::ValueDictionary& attributes,
                                    int32_t milliseconds) {
    attributeEvent(eventId, attributes, milliseconds, true);
}

void UsageAnalyticsEvent::event(const std::vector<std::string>& keyPath, int32_t value,
                                const std::string& label) {
    if (keyPath.empty())
        return;
    const auto& first = keyPath.front();
    if (!UAHelper::checkU48Character(first)) {
        uadetail::systemLog(fmt::format("UALOG: (ERROR) {} path is invalid.", first));
        return;
    }
    if (platform::text::utf16Length(first) > kPathElementLength) {
        uadetail::systemLog(fmt::format("UALOG: (ERROR) {} length overflow({}).", first, kPathElementLength));
        return;
    }
    platform::ValueArray path;
    for (auto& element : checkedPath(keyPath))
        path.emplace_back(std::move(element));
    UAWorkDispatch::sendEvent(platform::Value::dictionary({{"ccKeyPath", platform::Value(std::move(path))},
                                                           {"ccValue", value},
                                                           {"ccLabel", checkedLabel(label, keyPath)}}),
                              UAEventComputed);
}

void UsageAnalyticsEvent::logPageView(const std::string& pageName, int32_t seconds) {
    if (!pageName.empty() && seconds >= 1)
        UAWorkDispatch::sendEvent(platform::Value::array({pageName, seconds}), UAEventPageDuration);
}

void UsageAnalyticsEvent::beginLogPageView(const std::string& pageName) {
    if (!pageName.empty())
        UAWorkDispatch::sendEvent(platform::Value(pageName), UAEventPageBegin);
}

void UsageAnalyticsEvent::endLogPageView(const std::string& pageName) {
    UAWorkDispatch::sendEvent(platform::Value(pageName), UAEventPageEnd);
}
