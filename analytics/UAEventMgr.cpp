#include "analytics/UAEventMgr.h"

#include "analytics/UAHelper.h"
#include "analytics/UANLog.h"
#include "analytics/UARecordsLock.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/PropertyList.h"
#include "platform/runloop/RunLoop.h"

#include <chrono>

namespace {

constexpr size_t kManifestQuota = 512;
constexpr uint64_t kWindowSeconds = 360;

uint64_t utcNow() {
    return UAHelper::UTCTimeIntervalMS();
}

} // namespace

std::shared_ptr<UAEventMgr> UAEventMgr::sharedInstance() {
    static const auto manager = std::make_shared<UAEventMgr>();
    return manager;
}

uint32_t UAEventMgr::twNumWithUTCMS(uint64_t milliseconds) {
    uint64_t day = milliseconds / 86400000;
    return static_cast<uint32_t>(day * 240 + (milliseconds / 1000 - day * 86400) / kWindowSeconds);
}

int64_t UAEventMgr::intervalAgTWCloseWithNow() {
    return static_cast<int64_t>(kWindowSeconds - (utcNow() / 1000) % 86400 % kWindowSeconds);
}

std::shared_ptr<UAAggregatedValue> UAEventMgr::newCounter(int32_t value, uint64_t timestamp,
                                                          const std::optional<std::string>& label) const {
    auto counter = std::make_shared<UAAggregatedValue>();
    counter->valueSum = value;
    counter->tsSum = static_cast<int64_t>(timestamp);
    counter->count = 1;
    counter->twNum = static_cast<int32_t>(twNumWithUTCMS(timestamp));
    counter->addLabels(label);
    return counter;
}

bool UAEventMgr::aggregateCk(const std::string& key, int32_t value, uint64_t timestamp,
                             const std::optional<std::string>& label) {
    auto found = m_agCachedDict.find(key);
    if (found == m_agCachedDict.end())
        return false;
    auto& counter = *found->second;
    counter.valueSum += value;
    counter.tsSum += static_cast<int64_t>(timestamp);
    counter.count += 1;
    counter.twNum = static_cast<int32_t>(twNumWithUTCMS(timestamp));
    counter.addLabels(label);
    m_agMemoryLatestTS = static_cast<double>(timestamp);
    return true;
}

bool UAEventMgr::aggregateEvent(const std::vector<std::string>& keyPath, int32_t value, uint64_t timestamp,
                                const std::optional<std::string>& label) {
    std::string key = UAHelper::arrayToAgStr(keyPath);
    if (aggregateCk(key, value, timestamp, label))
        return true;
    if (m_agMFDict.size() < kManifestQuota || m_agMFDict.contains(key)) {
        m_agCachedDict[key] = newCounter(value, timestamp, label);
        m_agMFDict.set(key, platform::Value(0));
        m_agMemoryLatestTS = static_cast<double>(timestamp);
        return true;
    }
    UANLog("{} ag event max quota.", key);
    if (foldIntoParent(keyPath, value, timestamp, label))
        return true;
    UANLog("WARNING {} ag event overflow.", key);
    UsageAnalyticsConfig::incrementCounterWithKey("agOverflowCount");
    if (UsageAnalyticsConfig::configureWithKey("agOverflowFirstTS").isNil())
        UsageAnalyticsConfig::setConfigure(platform::Value(utcNow()), "agOverflowFirstTS");
    return false;
}

bool UAEventMgr::foldIntoParent(const std::vector<std::string>& keyPath, int32_t value, uint64_t timestamp,
                                const std::optional<std::string>& label) {
    bool overflowing = !UsageAnalyticsConfig::configureWithKey("agOverflowFirstTS").isNil();
    for (auto parent = keyPath; parent.size() >= 2;) {
        parent.pop_back();
        std::string key = UAHelper::arrayToAgStr(parent);
        if (aggregateCk(key, value, timestamp, label))
            return true;
        if (overflowing && m_agMFDict.contains(key)) {
            m_agCachedDict[key] = newCounter(value, timestamp, label);
            m_agMemoryLatestTS = static_cast<double>(timestamp);
            return true;
        }
    }
    return false;
}

void UAEventMgr::addMetaVerbatimItem(const std::string& key, int32_t value, uint64_t timestamp,
                                     const std::optional<std::string>& label) {
    UACachedDB::sharedInstance()->insertMetaVerbatimItem(key, value, timestamp, label.value_or(""));
}

void UAEventMgr::loadCacheData() {
    auto manifest = platform::PropertyList::readFile(UsageAnalyticsUtility::agManifestPath());
    if (auto* entries = manifest.dictionary()) {
        for (const auto& [key, value] : *entries)
            m_agMFDict.set(key, value);
    }
    auto db = UACachedDB::sharedInstance();
    db->initDB();
    if (auto latest = UsageAnalyticsConfig::doubleWithKey("agCachedLatestTS")) {
        auto window = UsageAnalyticsConfig::unsignedWithKey("agCachedTW");
        if (window && *window == twNumWithUTCMS(utcNow())) {
            db->loadAGCachedToMemory(m_agCachedDict);
            m_agMemoryLatestTS = *latest;
        } else {
            db->transferCachedToAgTable();
            processAgTWDone();
        }
    }
    int64_t seconds = setupAGTWWithInterval(kWindowSeconds);
    if (seconds >= 91) {
        setupCacheTimer();
        m_agCachedCounter = static_cast<int32_t>(seconds / 60);
    }
}

void UAEventMgr::writeSnapshot() {
    auto db = UACachedDB::sharedInstance();
    db->clearDataInTable("agCachedTable");
    db->saveMemory(m_agCachedDict, "agCachedTable");
    UsageAnalyticsConfig::setConfigure(platform::Value(m_agMemoryLatestTS), "agCachedLatestTS");
    UsageAnalyticsConfig::setConfigure(
        platform::Value(twNumWithUTCMS(static_cast<uint64_t>(m_agMemoryLatestTS))), "agCachedTW");
}

void UAEventMgr::saveCacheData() {
    double stored = UsageAnalyticsConfig::doubleWithKey("agCachedLatestTS").value_or(0);
    if (m_agMemoryLatestTS != 0 && m_agMemoryLatestTS != stored)
        writeSnapshot();
    UACachedDB::sharedInstance()->closeDB();
    platform::PropertyList::writeFile(platform::Value(m_agMFDict), UsageAnalyticsUtility::agManifestPath());
    m_agMFDict.clear();
    m_agCachedDict.clear();
    cancelTimer(m_cacheTimer);
    cancelTimer(m_agTimer);
}

std::shared_ptr<platform::Timer> UAEventMgr::repeatingTimer(int64_t firstInSeconds, double interval,
                                                            void (UAEventMgr::*fire)()) {
    std::weak_ptr<UAEventMgr> weak = std::static_pointer_cast<UAEventMgr>(shared_from_this());
    auto period = std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(interval));
    auto timer = platform::Timer::create(platform::Clock::now() + std::chrono::seconds(firstInSeconds),
                                         period, true, [weak, fire](platform::Timer&) {
                                             std::lock_guard records(uadetail::recordsMutex());
                                             if (auto manager = weak.lock())
                                                 ((*manager).*fire)();
                                         });
    platform::RunLoop::current()->addTimer(timer, platform::RunLoop::defaultMode);
    return timer;
}

int64_t UAEventMgr::setupAGTWWithInterval(double interval) {
    cancelTimer(m_agTimer);
    int64_t seconds = intervalAgTWCloseWithNow();
    m_agTimer = repeatingTimer(seconds, interval, &UAEventMgr::agTimeWindowArrived);
    return seconds;
}

void UAEventMgr::setupCacheTimer() {
    cancelTimer(m_cacheTimer);
    m_cacheTimer = repeatingTimer(60, 60, &UAEventMgr::agCacheFire);
}

void UAEventMgr::cancelTimer(std::shared_ptr<platform::Timer>& slot) {
    if (slot)
        slot->invalidate();
    slot.reset();
}

void UAEventMgr::agCacheFire() {
    if (m_agMemoryLatestTS != UsageAnalyticsConfig::doubleWithKey("agCachedLatestTS").value_or(0))
        writeSnapshot();
    if (--m_agCachedCounter <= 0)
        cancelTimer(m_cacheTimer);
}

void UAEventMgr::agTimeWindowArrived() {
    auto db = UACachedDB::sharedInstance();
    if (!m_agCachedDict.empty()) {
        db->saveMemory(m_agCachedDict, "agTable");
        m_agCachedDict.clear();
    }
    db->clearDataInTable("agCachedTable");
    processAgTWDone();
    setupCacheTimer();
    m_agCachedCounter = 5;
}

void UAEventMgr::processAgTWDone() {
    UsageAnalyticsConfig::removeConfigureWithKey("agCachedLatestTS");
    UsageAnalyticsConfig::removeConfigureWithKey("agCachedTW");
    m_agMemoryLatestTS = 0;
}

void UAEventMgr::resetManifest() {
    m_agMFDict.clear();
    for (const auto& entry : m_agCachedDict)
        m_agMFDict.set(entry.first, platform::Value(0));
}

void UAEventMgr::loadAGEvents(platform::ValueDictionary& container) {
    UACachedDB::sharedInstance()->loadAGToContainer(container);
    auto firstOverflow = UsageAnalyticsConfig::unsignedWithKey("agOverflowFirstTS");
    if (!firstOverflow) {
        resetManifest();
        return;
    }
    if (auto count = UsageAnalyticsConfig::integerWithKey("agOverflowCount"); count && *count != 0) {
        addMetaVerbatimItem("__ag_of", static_cast<int32_t>(*count), *firstOverflow, std::nullopt);
        UsageAnalyticsConfig::removeConfigureWithKey("agOverflowCount");
    }
    if (*firstOverflow / 86400000 != utcNow() / 86400000) {
        resetManifest();
        UsageAnalyticsConfig::removeConfigureWithKey("agOverflowFirstTS");
    }
}

void UAEventMgr::loadVeMetaEvents(platform::ValueDictionary& container) {
    UACachedDB::sharedInstance()->loadVeMetaToContainer(container);
}

void UAEventMgr::clearEventsWithMeta(bool withMeta) {
    auto db = UACachedDB::sharedInstance();
    db->clearDataInTable("agTable");
    if (withMeta)
        db->clearDataInTable("veMetaTable");
}
