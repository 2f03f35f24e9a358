#include "analytics/UANOpenDeviceID.h"

#include "platform/foundation/Date.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/UUID.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/security/MD5.h"
#include "platform/security/RandomBytes.h"

#include <algorithm>
#include <fmt/format.h>
#include <map>
#include <mutex>

namespace {

constexpr const char* kRecordKey = "OpenDeviceID";
constexpr const char* kAppUIDKey = "OpenDeviceID_appUID";
constexpr const char* kCreatedKey = "OpenDeviceID_createdTS";
constexpr const char* kSlotKey = "OpenDeviceID_slot";
constexpr const char* kOptOutKey = "OpenDeviceID_optOutTS";
constexpr const char* kPasteboardType = "org.OpenDeviceID";
constexpr const char* kSlotPrefix = "org.OpenDeviceID.slot.";
constexpr int kSlots = 100;

std::mutex g_mutex;
std::string g_cached;

struct Survey {
    std::optional<std::string> freeSlot;
    std::optional<std::string> mySlot;
    platform::Value optOutDate;
    std::map<std::string, int> counts;
};

// What the shared slots hold: the first free one, this application's own, and how often each
// identifier occurs.
Survey surveySlots(const std::string& appUID, const platform::Value& localOptOut) {
    Survey survey;
    survey.optOutDate = localOptOut;
    for (int slot = 0; slot < kSlots; ++slot) {
        std::string name = fmt::format("{}{}", kSlotPrefix, slot);
        auto pasteboard = platform::UIPasteboard::pasteboardWithName(name, false);
        auto dict =
            pasteboard ? UANOpenDeviceID::_getDictFromPasteboard(pasteboard) : platform::ValueDictionary{};
        auto* identifier = dict.get(kRecordKey).string();
        if (!identifier) {
            if (!survey.freeSlot)
                survey.freeSlot = name;
        } else {
            ++survey.counts[*identifier];
        }
        if (auto* owner = dict.get(kAppUIDKey).string(); owner && *owner == appUID) {
            survey.mySlot = name;
            survey.optOutDate = localOptOut.isNil() ? platform::Value() : dict.get(kOptOutKey);
        }
    }
    return survey;
}

std::optional<std::string> mostFrequent(const std::map<std::string, int>& counts) {
    std::vector<std::pair<int, std::string>> ranked;
    for (const auto& [identifier, count] : counts)
        ranked.emplace_back(count, identifier);
    if (ranked.empty())
        return std::nullopt;
    std::sort(ranked.begin(), ranked.end());
    return ranked.back().second;
}

std::string describeDate(const platform::Value& date) {
    if (!date.date())
        return date.description();
    platform::DateFormatter formatter("yyyy-MM-dd HH:mm:ss Z", platform::TimeZone::GMT());
    return formatter.stringFromDate(*date.date());
}

platform::ErrorPtr errorWith(int64_t code, std::string description) {
    return platform::Error::create(kPasteboardType, code,
                                   platform::Value::dictionary({{"description", std::move(description)}}));
}

std::string computeValue(platform::ErrorPtr* error) {
    auto defaults = platform::UserDefaults::standardUserDefaults();
    std::string appUID = defaults->stringForKey(kAppUIDKey).value_or(platform::UUID::create().UUIDString());

    auto stored = defaults->objectForKey(kRecordKey);
    std::optional<platform::ValueDictionary> local;
    if (auto* dict = stored.dictionary())
        local = *dict;
    auto localValue = local ? local->get(kRecordKey).string() : nullptr;
    std::optional<std::string> value = localValue ? std::optional(*localValue) : std::nullopt;
    auto survey = surveySlots(appUID, local ? local->get(kOptOutKey) : platform::Value());
    if (local && local->get(kSlotKey).string() && !survey.mySlot)
        survey.mySlot = *local->get(kSlotKey).string();

    auto frequent = mostFrequent(survey.counts);
    bool save = false, discrepancy = false;
    if (!value) {
        value = frequent ? *frequent : UANOpenDeviceID::_generateFreshOpenDeviceID();
        if (!local) {
            local = platform::ValueDictionary{
                {kRecordKey, *value}, {kAppUIDKey, appUID}, {kCreatedKey, platform::Date::now()}};
            save = true;
        }
    } else {
        discrepancy = frequent && *frequent != *value;
    }

    if (survey.freeSlot && (!survey.mySlot || *survey.mySlot == *survey.freeSlot)) {
        auto pasteboard = platform::UIPasteboard::pasteboardWithName(*survey.freeSlot, true);
        pasteboard->setPersistent(true);
        if (local) {
            local->set(kSlotKey, *survey.freeSlot);
            UANOpenDeviceID::_setDict(*local, pasteboard);
            save = true;
        }
    }
    if (save && local) {
        defaults->setObject(platform::Value(*local), kRecordKey);
        defaults->synchronize();
    }

    if (!survey.optOutDate.isNil()) {
        platform::setError(error, errorWith(1, fmt::format("Application with unique id {} is opted-out from "
                                                           "OpenDeviceID as of {}",
                                                           appUID, describeDate(survey.optOutDate))));
        return std::string(40, '0');
    }
    if (discrepancy)
        platform::setError(error,
                           errorWith(2, "Found a discrepancy between stored OpenDeviceID (reliable) and "
                                        "redundant copies; one of the apps on the device is most likely "
                                        "corrupting the OpenDeviceID protocol"));
    else
        platform::setError(error, errorWith(0, "OpenDeviceID succesfully retrieved"));
    return *value;
}

} // namespace

std::string UANOpenDeviceID::value() {
    return valueWithError(nullptr);
}

std::string UANOpenDeviceID::valueWithError(platform::ErrorPtr* error) {
    std::lock_guard lock(g_mutex);
    if (!g_cached.empty()) {
        platform::setError(error, errorWith(0, "OpenDeviceID in cache from first call"));
        return g_cached;
    }
    g_cached = computeValue(error);
    return g_cached;
}

void UANOpenDeviceID::setOptOut(bool optOut) {
    value();
    auto defaults = platform::UserDefaults::standardUserDefaults();
    auto dict = defaults->dictionaryForKey(kRecordKey).value_or(platform::ValueDictionary{});
    if (optOut)
        dict.set(kOptOutKey, platform::Date::now());
    else
        dict.remove(kOptOutKey);
    defaults->setObject(platform::Value(std::move(dict)), kRecordKey);
    defaults->synchronize();
    std::lock_guard lock(g_mutex);
    g_cached.clear();
}

std::string UANOpenDeviceID::_generateFreshOpenDeviceID() {
    return platform::md5Hex(platform::UUID::create().UUIDString()) +
           fmt::format("{:08x}", platform::randomUInt32());
}

platform::ValueDictionary
UANOpenDeviceID::_getDictFromPasteboard(const platform::UIPasteboardPtr& pasteboard) {
    auto data = pasteboard->dataForPasteboardType(kPasteboardType);
    if (!data)
        return {};
    auto value = platform::KeyedUnarchiver::unarchiveValueWithData(*data);
    return value.dictionary() ? *value.dictionary() : platform::ValueDictionary{};
}

void UANOpenDeviceID::_setDict(const platform::ValueDictionary& dict,
                               const platform::UIPasteboardPtr& pasteboard) {
    pasteboard->setData(platform::KeyedArchiver::archivedDataWithRootValue(platform::Value(dict)),
                        kPasteboardType);
}
