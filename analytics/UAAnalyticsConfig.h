#pragma once
// The start configuration of the usage-analytics library: the application key (and a secret and token),
// the distribution channel ("App Store"), whether crash capture starts (yes), the report policy
// (UAReportPolicyOnActivate) and the scenario (0 an ordinary application, 1 a game). One shared
// instance; any thread.
//
//     auto config = UAAnalyticsConfig::sharedInstance();
//     config->setAppKey("9d4e2b7a1c3f5e8d0a6b4c2e");
//     config->setEPolicy(UAReportPolicyDebug);
//     UsageAnalytics::startWithConfigure(config);

#include "analytics/UAGuarded.h"
#include "platform/foundation/Object.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// What the report policies mean for sending is the report rules' business; the settings resolve which
// one is in force (values other than these act as UAReportPolicyOnActivate).
enum UAReportPolicy : int32_t {
    UAReportPolicyDebug = 0,
    UAReportPolicyOnActivate = 1,
    UAReportPolicyInterval = 6,
    UAReportPolicyOnBackground = 8,
};

class UAAnalyticsConfig final : public platform::Object {
public:
    static std::shared_ptr<UAAnalyticsConfig> sharedInstance();

    std::optional<std::string> appKey() const { return m_appKey.get(); }
    void setAppKey(std::optional<std::string> appKey) { m_appKey.set(std::move(appKey)); }
    std::optional<std::string> token() const { return m_token.get(); }
    void setToken(std::optional<std::string> token) { m_token.set(std::move(token)); }
    std::optional<std::string> secret() const { return m_secret.get(); }
    void setSecret(std::optional<std::string> secret) { m_secret.set(std::move(secret)); }
    std::optional<std::string> channelId() const { return m_channelId.get(); }
    void setChannelId(std::optional<std::string> channelId) { m_channelId.set(std::move(channelId)); }
    bool bCrashReportEnabled() const { return m_bCrashReportEnabled; }
    void setBCrashReportEnabled(bool enabled) { m_bCrashReportEnabled = enabled; }
    int32_t ePolicy() const { return m_ePolicy; }
    void setEPolicy(int32_t policy) { m_ePolicy = policy; }
    uint64_t eSType() const { return m_eSType; }
    void setESType(uint64_t scenarioType) { m_eSType = scenarioType; }

private:
    uadetail::Guarded<std::optional<std::string>> m_appKey;
    uadetail::Guarded<std::optional<std::string>> m_token;
    uadetail::Guarded<std::optional<std::string>> m_secret;
    uadetail::Guarded<std::optional<std::string>> m_channelId{std::string("App Store")};
    std::atomic<bool> m_bCrashReportEnabled{true};
    std::atomic<int32_t> m_ePolicy{UAReportPolicyOnActivate};
    std::atomic<uint64_t> m_eSType{0};
};
