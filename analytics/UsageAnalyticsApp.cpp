#include "analytics/UsageAnalyticsApp.h"

#include "analytics/UAHelper.h"
#include "analytics/UANLog.h"
#include "analytics/UANUtil.h"
#include "analytics/UAPendingCrash.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Immortal.h"
#include "platform/foundation/Text.h"

#include <fmt/format.h>
#include <utility>

namespace {

constexpr const char* kCrashCatchNotification = "UsageAnalyticsCrashCatch";

// An interval text from the imprint or the store, held to 90 to 86400 seconds.
double boundedInterval(double seconds) {
    return seconds < 90 || seconds > 86400 ? 90 : seconds;
}

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    return text && !text->empty() ? text : std::nullopt;
}

} // namespace

UsageAnalyticsApp::UsageAnalyticsApp(PrivateTag) {
    m_appVersion.set(
        platform::Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleVersion").stringOr(""));
    m_logSendInterval = minReportInterval();
    if (auto key = UsageAnalyticsConfig::stringWithKey("appkey"); key && !key->empty())
        m_appid.set(*key);
    if (auto scenario = UsageAnalyticsConfig::integerWithKey("scenariotype"))
        m_scenarioType = static_cast<uint64_t>(*scenario);
    if (UsageAnalyticsConfig::configureWithKey("uaActivateMsg").isNil())
        m_activateMsgTS = static_cast<uint64_t>(platform::Clock::timeIntervalSince1970() * 1000);
}

std::shared_ptr<UsageAnalyticsApp> UsageAnalyticsApp::sharedInstance() {
    // Never destroyed: the upload queue may still be at work while the process exits.
    static platform::detail::Immortal<std::shared_ptr<UsageAnalyticsApp>> app(
        std::make_shared<UsageAnalyticsApp>(PrivateTag{}));
    return app.get();
}

bool UsageAnalyticsApp::isIntegratedTestModel() {
    auto value = UAHelper::imprintValueWithKey("integrated_test");
    return value && platform::text::integerValue(*value) == 1;
}

double UsageAnalyticsApp::minReportInterval() {
    bool integratedTest = isIntegratedTestModel();
    if (!integratedTest && UsageAnalyticsConfig::integerWithKey("uaExperimentRPT") == 6) {
        if (auto test = nonEmpty(UAHelper::imprintValueWithKey("test_report_interval")))
            return boundedInterval(platform::text::doubleValue(*test));
    }
    if (auto interval = nonEmpty(UAHelper::imprintValueWithKey("report_interval")))
        return boundedInterval(platform::text::doubleValue(*interval));
    if (auto stored = UsageAnalyticsConfig::doubleWithKey("uacReportInterval"))
        return boundedInterval(*stored);
    return 90;
}

int32_t UsageAnalyticsApp::verifyReportPolicy(int32_t policy) {
    switch (policy) {
    case UAReportPolicyOnActivate:
    case UAReportPolicyInterval:
    case UAReportPolicyOnBackground:
        return policy;
    case UAReportPolicyDebug:
        return isIntegratedTestModel() && UANUtil::isDebugging() ? UAReportPolicyDebug
                                                                 : UAReportPolicyOnActivate;
    default:
        return UAReportPolicyOnActivate;
    }
}

int32_t UsageAnalyticsApp::reportPolicy() const {
    int32_t policy = m_reportPolicy;
    auto experiment = UsageAnalyticsConfig::integerWithKey("uaExperimentRPT");
    if (experiment && !isIntegratedTestModel())
        policy = static_cast<int32_t>(*experiment);
    else if (auto imprinted = UAHelper::imprintValueWithKey("report_policy"))
        policy = platform::text::intValue(*imprinted);
    else if (auto stored = UsageAnalyticsConfig::integerWithKey("uacReportPolicy"))
        policy = static_cast<int32_t>(*stored);
    m_reportPolicy = verifyReportPolicy(policy);
    return m_reportPolicy;
}

void UsageAnalyticsApp::setEncryptEnabled(bool enabled) {
    sharedInstance()->m_encryptEnabled = enabled;
}

void UsageAnalyticsApp::setBackgroundTaskEnabled(bool enabled) {
    sharedInstance()->m_backgroundTaskEnabled = enabled;
}

void UsageAnalyticsApp::setLogEnabled(bool enabled) {
    sharedInstance()->m_logEnabled = enabled;
}

void UsageAnalyticsApp::setAppVersion(const std::string& version) {
    if (version.empty())
        return;
    sharedInstance()->m_appVersion.set(version);
    // A crash that only a signal handler sees is recorded under the version in force.
    uadetail::PendingCrash::setAppVersion(version);
}

void UsageAnalyticsApp::setCrashReportEnabled(bool enabled) {
    auto app = sharedInstance();
    bool observe = false, stopObserving = false, install = false;
    {
        std::lock_guard lock(app->m_mutex);
        app->m_crashReportEnabled = enabled;
        observe = enabled && !app->m_appCrashedHandlerInstalled;
        stopObserving = !enabled && app->m_appCrashedHandlerInstalled;
        if (observe || stopObserving)
            app->m_appCrashedHandlerInstalled = enabled;
        // The handlers go in once per process, however often the switch is turned on again.
        install = observe && !std::exchange(app->m_handlersInstalled, true);
    }
    auto internal = UsageAnalyticsInternal::sharedInstance();
    auto& center = platform::NotificationCenter::defaultCenter();
    if (install)
        uadetail::crashLink()->installUncaughtExceptionHandler();
    if (observe)
        center.addObserver(
            internal, kCrashCatchNotification, nullptr,
            [](const platform::Notification& note) { uadetail::crashLink()->saveCrashInfo(note); });
    // The handlers stay installed; with nobody observing, a crash makes no record.
    if (stopObserving)
        center.removeObserver(internal, kCrashCatchNotification);
}

void UsageAnalyticsApp::noAppKeyException() const {
    uadetail::systemLog(
        "UALOG: appkey can not be found or not valid. UsageAnalytics methods must be called after "
        "[UsageAnalytics startWithAppkey...]!");
}

void UsageAnalyticsApp::activeBackgroundTask() {
    if (!m_backgroundTaskEnabled)
        return;
    std::lock_guard lock(m_mutex);
    if (m_backgroundTask != platform::UIBackgroundTaskInvalid)
        return;
    std::weak_ptr<UsageAnalyticsApp> weak = std::static_pointer_cast<UsageAnalyticsApp>(shared_from_this());
    m_backgroundTask =
        platform::UIApplication::sharedApplication()->beginBackgroundTaskWithExpirationHandler([weak] {
            platform::DispatchQueue::main()->async([weak] {
                auto app = weak.lock();
                if (!app)
                    return;
                std::lock_guard lock(app->m_mutex);
                if (app->m_backgroundTask == platform::UIBackgroundTaskInvalid)
                    return;
                platform::UIApplication::sharedApplication()->endBackgroundTask(app->m_backgroundTask);
                app->m_backgroundTask = platform::UIBackgroundTaskInvalid;
            });
        });
}

void UsageAnalyticsApp::setActivateMsgFlag() {
    if (UsageAnalyticsConfig::configureWithKey("uaActivateMsg").isNil())
        UsageAnalyticsConfig::setConfigure(platform::Value(static_cast<uint64_t>(m_activateMsgTS)),
                                           "uaActivateMsg");
}

std::string UsageAnalyticsApp::description() const {
    return fmt::format("<UsageAnalyticsApp: logEnabled={:d}, crashReportEnabled={:d}, sendInterval={:f}, "
                       "reportPolicy={}, appVersion={}, appid={}, channel={}>",
                       logEnabled(), crashReportEnabled(), sharedInstance()->logSendInterval(),
                       reportPolicy(), appVersion(), appid(), channel());
}
