#pragma once
// Analytics sessions: one stretch of foreground use. The session follows the application's
// did-become-active, will-resign-active and will-terminate notifications (registered once, by the
// start), gives each analytics session a start time (and, after the first, a new id), and ends it with
// a UANTerminate of its duration (over two hours counts as one). Profile sign-in and sign-off change the
// user identity, which ends the running analytics session and begins a new one.
//
// The handlers run on the posting (main) thread. The flags are atomics: the upload queue reads them.

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Object.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class UsageAnalyticsSession final : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static std::shared_ptr<UsageAnalyticsSession> sharedInstance();
    explicit UsageAnalyticsSession(PrivateTag);

    // The start with an application key (see UsageAnalytics::startWithConfigure); the second means
    // policy 1 and no channel.
    static void startWithAppkey(const std::string& appKey, int32_t reportPolicy,
                                const std::string& channelId);
    static void startWithAppkey(const std::string& appKey);

    // Notification handlers; a null notification is a direct call.
    void appActivate(const platform::Notification* notification);
    void appInactivate(const platform::Notification* notification);
    void beginSessionTime();
    // Seconds since the session began; above 7200 counts as 3600.
    double endSessionTime() const;
    void ensureSessionLaunch();
    // Hands the running session (id, and start while it runs) to crash capture.
    void keepForCrash() const;

    // Checks (in this order) a non-empty PUID of at most 64 and a provider of at most 32 UTF-16 units.
    static void signInPUID(const std::string& puid, const std::string& provider);
    static void profileSignInPUID(const std::string& puid);
    static void profileSignInPUID(const std::string& puid,
                                  const std::string& provider); // "_adhoc" when empty
    static void profileSignOff();

    bool observerRegistered() const { return m_observerRegistered; }
    bool appInBackGround() const { return m_appInBackGround; }
    bool appBeKilling() const { return m_appBeKilling; }
    bool appCrashed() const { return m_appCrashed; }
    void setAppCrashed(bool crashed) { m_appCrashed = crashed; }
    // 0 none begun in this process, 1 active, 2 ended.
    int32_t sessionStatus() const { return m_sessionStatus; }
    double lastLaunchTime() const { return m_lastLaunchTime; }

private:
    void registerObservers();

    std::atomic<bool> m_observerRegistered{false};
    std::atomic<bool> m_appInBackGround{false};
    std::atomic<bool> m_appBeKilling{false};
    std::atomic<bool> m_appCrashed{false};
    std::atomic<int32_t> m_sessionStatus{0};
    std::atomic<double> m_lastLaunchTime{0};
};
