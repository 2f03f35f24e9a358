#pragma once
// Counters of computed events. Each event names a key path, an integer value and an optional label and
// is folded into one counter per key (the path joined with "!") for the open time window of 360
// seconds (UTC, 240 windows a day). While a window is open its counters are snapshot into the database
// once a minute for five minutes; at its end they move to the upload table. At most 512 distinct keys
// are admitted between resets of the key manifest ("agmanifest.plist"); beyond that an event falls back
// to a parent path already counted, or is refused and counted as overflow, reported later as "__ag_of".
//
// Main thread only: the window and snapshot timers run on the main run loop. Nothing throws; database
// failures are the database's log lines.

#include "analytics/UACachedDB.h"
#include "platform/foundation/Value.h"
#include "platform/runloop/Timer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class UAEventMgr final : public platform::Object {
public:
    static std::shared_ptr<UAEventMgr> sharedInstance();

    // At activation: the manifest, the database, the snapshot of this window, the timers.
    void loadCacheData();
    // On leaving the foreground: the last snapshot, the manifest file; timers stopped, memory emptied.
    void saveCacheData();

    bool aggregateEvent(const std::vector<std::string>& keyPath, int32_t value, uint64_t timestamp,
                        const std::optional<std::string>& label);
    // Folds into an open-window counter of that key only.
    bool aggregateCk(const std::string& key, int32_t value, uint64_t timestamp,
                     const std::optional<std::string>& label);
    void addMetaVerbatimItem(const std::string& key, int32_t value, uint64_t timestamp,
                             const std::optional<std::string>& label);
    void loadAGEvents(platform::ValueDictionary& container);
    void loadVeMetaEvents(platform::ValueDictionary& container);
    // After a payload was packed: the upload table, and with `withMeta` the meta items too.
    void clearEventsWithMeta(bool withMeta);

    void setupCacheTimer();
    // The window timer, first firing at the next boundary; answers the seconds until then.
    int64_t setupAGTWWithInterval(double interval);
    void agCacheFire();
    void agTimeWindowArrived();
    void processAgTWDone();
    // Seconds to the next window boundary, 1 to 360.
    int64_t intervalAgTWCloseWithNow();
    static uint32_t twNumWithUTCMS(uint64_t milliseconds);
    void cancelTimer(std::shared_ptr<platform::Timer>& slot);

    const platform::ValueDictionary& agMFDict() const { return m_agMFDict; }
    const UAAggregatedMemory& agCachedDict() const { return m_agCachedDict; }
    int32_t agCachedCounter() const { return m_agCachedCounter; }
    double agMemoryLatestTS() const { return m_agMemoryLatestTS; }
    bool hasCacheTimer() const { return static_cast<bool>(m_cacheTimer); }

private:
    std::shared_ptr<UAAggregatedValue> newCounter(int32_t value, uint64_t timestamp,
                                                  const std::optional<std::string>& label) const;
    bool foldIntoParent(const std::vector<std::string>& keyPath, int32_t value, uint64_t timestamp,
                        const std::optional<std::string>& label);
    void writeSnapshot();
    void resetManifest();
    std::shared_ptr<platform::Timer> repeatingTimer(int64_t firstInSeconds, double interval,
                                                    void (UAEventMgr::*fire)());

    platform::ValueDictionary m_agMFDict;
    UAAggregatedMemory m_agCachedDict;
    std::shared_ptr<platform::Timer> m_cacheTimer;
    std::shared_ptr<platform::Timer> m_agTimer;
    int32_t m_agCachedCounter{0};
    double m_agMemoryLatestTS{0};
};
