#include "analytics/UAClasses.h"
#include "analytics/UAEventMgr.h"
#include "analytics/UANError.h"
#include "analytics/UANTerminate.h"
#include "analytics/UANUtil.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "analytics/UsageAnalyticsSession.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Text.h"

namespace {

// A section of the cache file shorter than this cannot hold an archive.
constexpr size_t kSmallestArchive = 11;

std::optional<platform::Data> archived(const UsageAnalyticsInternal::Records& records) {
    if (records.empty())
        return std::nullopt;
    platform::ValueArray array;
    for (const auto& record : records)
        array.emplace_back(record);
    auto data = platform::KeyedArchiver::archivedDataWithRootValue(platform::Value(std::move(array)));
    return data.empty() ? std::nullopt : std::optional(data);
}

// The records of type T in a cache section; an element that does not read as one is skipped alone.
template <class T> UsageAnalyticsInternal::Records unarchived(const platform::Value& section) {
    UsageAnalyticsInternal::Records records;
    auto* data = section.data();
    if (!data || data->length() < kSmallestArchive)
        return records;
    auto array = platform::KeyedUnarchiver::unarchiveValueWithData(*data);
    for (const auto& element : array.array() ? *array.array() : platform::ValueArray{}) {
        if (auto record = element.objectAs<T>())
            records.push_back(std::move(record));
    }
    return records;
}

void appendAll(UsageAnalyticsInternal::Records& to, UsageAnalyticsInternal::Records from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

void setIfNotEmpty(platform::ValueDictionary& header, const char* key, const std::string& value) {
    if (!value.empty())
        header.set(key, value);
}

} // namespace

void UsageAnalyticsInternal::saveAndCleanCache() {
    if (hasJob()) {
        archiveCacheToFile();
        removeCacheData();
    }
    UAEventMgr::sharedInstance()->saveCacheData();
    UsageAnalyticsConfig::setConfigure(platform::Value(UANUtil::appVersionString()), "UAAppVersion");
}

void UsageAnalyticsInternal::archiveObjects(platform::ValueDictionary& body) {
    uadetail::registerAnalyticsClasses();
    const std::pair<const char*, const Records*> sections[] = {
        {"terminate", &terminates}, {"event", &events}, {"error", &errors}, {"ekv", &ekv}};
    for (const auto& [key, records] : sections) {
        if (auto data = archived(*records))
            body.set(key, platform::Value(*data));
    }
}

platform::ValueDictionary UsageAnalyticsInternal::archiveObjectsWithHeader(bool withHeader) {
    platform::ValueDictionary body;
    archiveObjects(body);
    platform::ValueDictionary file;
    if (!body.empty())
        file.set("body", platform::Value(std::move(body)));
    if (withHeader)
        file.set("header", platform::Value(header()));
    return file;
}

void UsageAnalyticsInternal::archiveCacheToFile() {
    auto file = archiveObjectsWithHeader(false);
    auto path = UsageAnalyticsUtility::cacheFilePath();
    if (file.empty()) {
        UsageAnalyticsUtility::removeFile(path);
        return;
    }
    // Written also when the application is being terminated: the records are dropped from memory right
    // after, so skipping the write would lose them.
    platform::PropertyList::writeFile(platform::Value(std::move(file)), path);
}

platform::ValueDictionary UsageAnalyticsInternal::loadCacheFile() {
    auto path = UsageAnalyticsUtility::cacheFilePath();
    auto contents = platform::PropertyList::readFile(path);
    UsageAnalyticsUtility::removeFile(path);
    return contents.dictionary() ? *contents.dictionary() : platform::ValueDictionary{};
}

void UsageAnalyticsInternal::loadCache() {
    auto file = loadCacheFile();
    const auto& body = file.get("body");
    if (body.dictionary() && !body.dictionary()->empty())
        unarchiveObjects(*body.dictionary());
    restorePendingCrashes();
}

void UsageAnalyticsInternal::unarchiveObjects(const platform::ValueDictionary& body) {
    uadetail::registerAnalyticsClasses();
    appendAll(terminates, unarchived<UANTerminate>(body.get("terminate")));
    appendAll(events, unarchived<UANEvent>(body.get("event")));
    appendAll(ekv, unarchived<UANEkv>(body.get("ekv")));
    // Crash records belong to the version that crashed; after an update they are dropped.
    auto stored = UsageAnalyticsConfig::stringWithKey("UAAppVersion");
    if (!stored) {
        errors.clear();
        return;
    }
    if (!platform::text::equalsIgnoringASCIICase(*stored, UANUtil::appVersionString()))
        return;
    auto restored = unarchived<UANError>(body.get("error"));
    if (!restored.empty())
        restored.front()->outputUALog();
    appendAll(errors, std::move(restored));
}

void UsageAnalyticsInternal::loadCacheFromTempContainer() {
    for (auto& record : std::exchange(tmpContainer, {})) {
        if (std::dynamic_pointer_cast<UANEvent>(record))
            events.push_back(std::move(record));
        else if (std::dynamic_pointer_cast<UANEkv>(record))
            ekv.push_back(std::move(record));
        else if (std::dynamic_pointer_cast<UANError>(record))
            errors.push_back(std::move(record));
    }
}

void UsageAnalyticsInternal::removeCacheData() {
    terminates.clear();
    events.clear();
    errors.clear();
    ekv.clear();
    ekvBeginTimes.clear();
    eventBeginTimes.clear();
}

platform::ValueDictionary UsageAnalyticsInternal::header() const {
    auto app = UsageAnalyticsApp::sharedInstance();
    platform::ValueDictionary header;
    header.set("appkey", app->appid());
    header.set("channel", app->channel());
    header.set("sdk_type", UANUtil::sdkTypeString());
    header.set("os", UANUtil::osString());
    header.set("os_version", UANUtil::osVersionString());
    header.set("sdk_version", UANUtil::sdkVersionString());
    header.set("app_version", UANUtil::appVersionString());
    header.set("sv", UANUtil::appShortVersionString());
    header.set("device_model", UANUtil::deviceModelString());
    setIfNotEmpty(header, "mc", UANUtil::deviceMacAddressString());
    header.set("device_id", UANUtil::openDeviceIDString());
    setIfNotEmpty(header, "idfa", UANUtil::idfa());
    if (auto idfv = UANUtil::idfv(); idfv != "00000000-0000-0000-0000-000000000000")
        setIfNotEmpty(header, "idfv", idfv);
    header.set("resolution", UANUtil::resolutionString());
    header.set("access", UANUtil::accessString());
    header.set("is_jailbroken", UANUtil::deviceJailBreakString());
    header.set("carrier", UANUtil::carrierString());
    header.set("country", UANUtil::countryString());
    header.set("timezone", UANUtil::timezoneString());
    header.set("language", UANUtil::languageString());
    header.set("package_name", UANUtil::appPackageNameString());
    header.set("display_name", UANUtil::appDisplayNameString());
    if (app->scenarioType() != 0)
        header.set("vertical_type", platform::Value(app->scenarioType()));
    setIfNotEmpty(header, "wrapper_type", app->wrapperType());
    setIfNotEmpty(header, "wrapper_version", app->wrapperVersion());
    return header;
}
