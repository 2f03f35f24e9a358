#pragma once
// The seams through which parts of the library reach others: the settings (is the log on, the
// application's version and key), the collector's imprint (its named settings), the report rules with
// the upload worker, the envelope builder and crash capture. Each answers with the library's own part
// (UsageAnalyticsApp, UAPayloadBuild, UsageAnalyticsJob and UANWorker, UsageAnalyticsEnvelope,
// UsageAnalyticsInternal's crash path) unless a test has installed a double. Safe on any thread.

#include "platform/dispatch/Operation.h"
#include "platform/foundation/NotificationCenter.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class UASettingsLink {
public:
    virtual ~UASettingsLink() = default;
    virtual bool logEnabled() const = 0;
    virtual std::string appVersion() const = 0; // empty when none was set
    virtual std::string appid() const = 0;      // the application key in force, empty before the start
};

class UAImprintLink {
public:
    virtual ~UAImprintLink() = default;
    // The imprint's property of that name, as text; nothing when there is no imprint or no such property.
    virtual std::optional<std::string> imprintPropertyValueWithKey(std::string_view key) const = 0;
};

class UAJobLink {
public:
    virtual ~UAJobLink() = default;
    // A chance to upload: job type 0 when an analytics session begins on activation, 1 after a record
    // or when resigning under the background policy. The rules decide whether a job starts.
    virtual void preparePerformJob(int32_t jobType) = 0;
    // The application's bound of the random upload delay, in seconds.
    virtual void setLatencySdk(int32_t seconds) = 0;
    // An upload worker is queued or running.
    virtual void setJobRunning(bool running) = 0;
    // The worker that posts these envelope files, for the upload queue.
    virtual std::shared_ptr<platform::Operation> makeWorker(std::vector<std::string> envelopeFilePaths) = 0;
};

class UAEnvelopeLink {
public:
    virtual ~UAEnvelopeLink() = default;
    // Builds an envelope file from what the pipeline holds; whether bytes were made.
    virtual bool makeEnvelopeData() = 0;
};

class UACrashLink {
public:
    virtual ~UACrashLink() = default;
    virtual void installUncaughtExceptionHandler() = 0;
    // The handler of "UsageAnalyticsCrashCatch", whose object is the crash.
    virtual void saveCrashInfo(const platform::Notification& notification) = 0;
};

namespace uadetail {

// Null restores the default.
std::shared_ptr<UASettingsLink> settingsLink();
void setSettingsLink(std::shared_ptr<UASettingsLink> link);
std::shared_ptr<UAImprintLink> imprintLink();
void setImprintLink(std::shared_ptr<UAImprintLink> link);
std::shared_ptr<UAJobLink> jobLink();
void setJobLink(std::shared_ptr<UAJobLink> link);
std::shared_ptr<UAEnvelopeLink> envelopeLink();
void setEnvelopeLink(std::shared_ptr<UAEnvelopeLink> link);
std::shared_ptr<UACrashLink> crashLink();
void setCrashLink(std::shared_ptr<UACrashLink> link);

} // namespace uadetail
