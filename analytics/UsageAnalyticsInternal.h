#pragma once
// The event pipeline's one handler, on the main thread. It keeps the records of the running analytics
// session (sessions, events, crash records, attribute events), holds records that arrive before the
// first session or in the background in a temporary container, enforces the quota of 5000 records per
// 8 hours (10000 for games), pairs timed events and pages, saves unsent records to the cache file when
// the application leaves the foreground and loads them at the next activation, and starts report jobs:
// envelope files are checked (size, age, count), made when needed, and handed to an upload worker on
// an operation queue that runs one upload at a time.
//
// Everything but sendLogQueue belongs to the main thread. Durations are computed in 64 bits; a cache
// entry or archived record that does not read is skipped without losing the others.

#include "analytics/UANBaseEvent.h"
#include "analytics/UANEkv.h"
#include "analytics/UANEvent.h"
#include "analytics/UAWorkDispatch.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class UsageAnalyticsInternal final : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using Records = std::vector<std::shared_ptr<UANBaseEvent>>;

    static std::shared_ptr<UsageAnalyticsInternal> sharedInstance();
    explicit UsageAnalyticsInternal(PrivateTag);

    const std::shared_ptr<platform::OperationQueue>& sendLogQueue() const { return m_sendLogQueue; }
    const std::string& sessionID() const { return m_sessionID; }
    void setSessionID(std::string sessionID) { m_sessionID = std::move(sessionID); }

    void workEvent(const UADispatchEvent& item);

    // Sessions and the cache file.
    void stopSession(double duration);
    void saveAndCleanCache();
    bool hasJob() const;
    void loadCache();
    platform::ValueDictionary loadCacheFile();
    void archiveCacheToFile();
    void loadCacheFromTempContainer();
    void removeCacheData();
    platform::ValueDictionary archiveObjectsWithHeader(bool withHeader);
    void archiveObjects(platform::ValueDictionary& body);
    void unarchiveObjects(const platform::ValueDictionary& body);
    platform::ValueDictionary header() const;

    // Envelopes and report jobs.
    void generateEnvelopeFile();
    void beginPerformJob();
    void validateEnvelopeFiles(std::vector<std::string>& paths);
    void buildDummySession();
    void removeSessions();
    void removeInstanceMsgs();

    // Crash capture: the handlers and the image facts, once per process.
    static void installUncaughtExceptionHandler();
    static void setErrorSupportInfo(const std::optional<platform::ValueDictionary>& info);
    // The handler of "UsageAnalyticsCrashCatch", whose object is the crash.
    void saveCrashInfo(const platform::Notification& notification);
    // The crash record of a crash text, which ends the analytics session and writes the cache at once.
    void error(const std::string& crashText);
    // Crash records that earlier processes could only leave in their pending-crash files, for the
    // version running now.
    void restorePendingCrashes();

    // Records.
    bool checkEventLimit();
    // The container a work type's record goes to; null when it has none.
    Records* arrayWithEventType(int32_t type);
    void addEvent(const std::shared_ptr<UANBaseEvent>& record, Records* container);
    void setEventSessionID(UANBaseEvent& record);
    void eventBegin(const std::shared_ptr<UANEvent>& record);
    void eventEnd(const std::shared_ptr<UANEvent>& record);
    void ekvBegin(const std::shared_ptr<UANEkv>& record);
    void ekvEnd(const std::shared_ptr<UANEkv>& record);

    Records terminates;
    Records events;
    Records errors;
    Records ekv;
    Records tmpContainer;
    std::optional<platform::ValueDictionary> error_support_info;
    platform::ValueArray pageItems;                 // [page name, seconds]
    std::map<std::string, double> pageItemsHash;    // open pages: start, seconds since 1970
    std::map<std::string, Records> ekvBeginTimes;   // open timed attribute events, latest first
    std::map<std::string, Records> eventBeginTimes; // open timed events, latest first

private:
    void handleRecord(const UADispatchEvent& item);
    void handleTimed(const UADispatchEvent& item);
    void activate();
    void inactivate(double duration);
    void pageBegin(const std::string& name);
    void pageEnd(const std::string& name);
    void changeProfile(const platform::Value& payload, bool signIn);
    void timedBegin(std::map<std::string, Records>& open, const std::string& key,
                    const std::shared_ptr<UANBaseEvent>& record);
    void timedEnd(std::map<std::string, Records>& open, const std::string& key, int32_t type);
    void countEnvelopeFiles(int64_t count, const char* label);

    std::shared_ptr<platform::OperationQueue> m_sendLogQueue;
    std::string m_sessionID;
};
