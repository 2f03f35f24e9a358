#pragma once
// The analytics settings singleton: report policy and send interval, crash capture, background
// execution, logging, encryption, the application's key, version and channel, the scenario type and
// the activation time of the installation. The report policy and the minimum interval are resolved
// anew at each ask, from the experiment's policy, the collector's imprint and the stored configuration.
//
// Any thread: the flags and numbers are atomics and the texts are guarded, since the upload queue reads
// them too. The background task's expiry is handled on the main queue. Made once, on first use.

#include "analytics/UAAnalyticsConfig.h"
#include "analytics/UAGuarded.h"
#include "analytics/UALinks.h"
#include "platform/foundation/Object.h"
#include "platform/ui/UIApplication.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class UsageAnalyticsApp final : public platform::Object, public UASettingsLink {
    struct Private {};

public:
    static std::shared_ptr<UsageAnalyticsApp> sharedInstance();
    explicit UsageAnalyticsApp(Private);

    // The imprint has "integrated_test" 1.
    static bool isIntegratedTestModel();
    // 90 to 86400 seconds, from the experiment, the imprint or the stored interval; 90 otherwise.
    static double minReportInterval();
    // 1, 6 and 8 stay; 0 stays only in integrated testing while debugging; everything else is 1.
    static int32_t verifyReportPolicy(int32_t policy);
    // These set the shared instance.
    static void setEncryptEnabled(bool enabled);
    static void setBackgroundTaskEnabled(bool enabled);
    // Turning on installs crash capture once per process and observes "UsageAnalyticsCrashCatch";
    // turning off only stops observing.
    static void setCrashReportEnabled(bool enabled);
    static void setLogEnabled(bool enabled);
    // Kept unless empty.
    static void setAppVersion(const std::string& version);

    bool crashReportEnabled() const { return m_crashReportEnabled; }
    bool backgroundTaskEnabled() const { return m_backgroundTaskEnabled; }
    bool logEnabled() const override { return m_logEnabled; }
    double logSendInterval() const { return m_logSendInterval; }
    void setLogSendInterval(double seconds) { m_logSendInterval = seconds; }
    std::string appVersion() const override { return m_appVersion.get(); }
    std::string channel() const { return m_channel.get(); }
    void setChannel(std::string channel) { m_channel.set(std::move(channel)); }
    // The policy in force, resolved now (and remembered).
    int32_t reportPolicy() const;
    bool encryptEnabled() const { return m_encryptEnabled; }
    bool appCrashedHandlerInstalled() const { return m_appCrashedHandlerInstalled; }
    uint64_t activateMsgTS() const { return m_activateMsgTS; }
    std::string appid() const override { return m_appid.get(); }
    void setAppid(std::string appid) { m_appid.set(std::move(appid)); }
    uint64_t scenarioType() const { return m_scenarioType; }
    void setScenarioType(uint64_t scenarioType) { m_scenarioType = scenarioType; }
    std::string wrapperType() const { return m_wrapperType.get(); }
    void setWrapperType(std::string wrapperType) { m_wrapperType.set(std::move(wrapperType)); }
    std::string wrapperVersion() const { return m_wrapperVersion.get(); }
    void setWrapperVersion(std::string wrapperVersion) { m_wrapperVersion.set(std::move(wrapperVersion)); }

    void noAppKeyException() const;
    // Begins a platform background task unless one runs or background tasks are off.
    void activeBackgroundTask();
    // Stores the activation time once the first envelope exists.
    void setActivateMsgFlag();
    std::string description() const override;

private:
    std::atomic<bool> m_crashReportEnabled{true};
    std::atomic<bool> m_backgroundTaskEnabled{true};
    std::atomic<bool> m_logEnabled{false};
    std::atomic<double> m_logSendInterval{90};
    mutable std::atomic<int32_t> m_reportPolicy{0};
    std::atomic<bool> m_encryptEnabled{false};
    std::atomic<bool> m_appCrashedHandlerInstalled{false};
    std::atomic<uint64_t> m_activateMsgTS{0};
    std::atomic<uint64_t> m_scenarioType{0};
    uadetail::Guarded<std::string> m_appVersion;
    uadetail::Guarded<std::string> m_channel{std::string("App Store")};
    uadetail::Guarded<std::string> m_appid;
    uadetail::Guarded<std::string> m_wrapperType;
    uadetail::Guarded<std::string> m_wrapperVersion;
    mutable std::mutex m_mutex; // the background task and the crash switch
    platform::UIBackgroundTaskIdentifier m_backgroundTask{platform::UIBackgroundTaskInvalid};
    bool m_handlersInstalled{false};
};
