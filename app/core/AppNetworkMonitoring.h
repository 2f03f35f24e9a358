#pragma once
// AppNetworkMonitoring: the application's network monitor. A thread of its own probes the network
// every 10 seconds (and once at start) through a fresh Reachability on the configured probe hosts
// (AppConfiguration::probeHost1, then probeHost2 when the first is unusable; a lone host is watched
// even while out of reach) and keeps the status.
// With neither configured it probes the service's host, or any route to the internet when that host
// is a loopback one (always reachable, so it would never show the network gone).
// It tells the screens, always on the main thread with the monitor as the object:
//   "_notifyNetworkStatusChanged_"  the first change at once; later changes 2 seconds after they
//                                   happen, and only if the status then still differs from the one
//                                   before the change (so a change undone within 2 s posts once, for
//                                   the undoing change, and readers see the old status);
//   "_notifyNetworkIPAddrChanged_"  the device's IPv4 address differs from the last one seen (the
//                                   first look-up always posts).
// networkStatus() and curIPAddress() may be read from any thread. Time comes from the installed
// clock, so the 10-second and 2-second rules run under a ManualClock in tests.

#include "app/core/Reachability.h"
#include "platform/foundation/Object.h"
#include "platform/runloop/Thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

inline constexpr const char* kNotifyNetworkStatusChanged = "_notifyNetworkStatusChanged_";
inline constexpr const char* kNotifyNetworkIPAddrChanged = "_notifyNetworkIPAddrChanged_";

class AppNetworkMonitoring : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    // The one monitor; the first call makes it and starts its thread.
    static std::shared_ptr<AppNetworkMonitoring> sharedInstance();
    static std::shared_ptr<AppNetworkMonitoring> create() { return sharedInstance(); }
    // Tests: stops the monitor's thread and forgets the monitor, so the next sharedInstance() starts
    // afresh (a new first change, a new first address).
    static void resetSharedInstanceForTesting();

    explicit AppNetworkMonitoring(PrivateTag); // reads the status of any internet route
    ~AppNetworkMonitoring() override;

    ReachabilityStatus networkStatus() const { return m_networkStatus.load(); }
    std::optional<std::string> curIPAddress() const;

    // The device's IPv4 address: Wi-Fi ("en0") first, else cellular ("pdp_ip0"), else "0.0.0.0".
    static std::string getWifiOr3G_IPAddress();

    // One probe cycle (the timer's work, on the monitor's thread).
    void networkMonitoringTimer();
    // A probe's change notification (main thread).
    void reachabilityChanged(const std::shared_ptr<Reachability>& probe, const platform::Value& userInfo);

private:
    void startThread();
    void stopThread();
    void releaseProbe();
    // `due` is 2 seconds after the change, taken when the change is seen, so the wait does not grow
    // by however long the main thread takes to pick the post up.
    void laterPostNetworkStatusChangedWithPreNStatus(ReachabilityStatus previous, platform::MonoTime due);
    void postNetworkStatusChanged();
    void postNetworkIPAddrChanged();
    void lookUpIPAddress();

    std::atomic<ReachabilityStatus> m_networkStatus{ReachabilityStatusNotReachable};
    mutable std::mutex m_addressMutex;
    std::optional<std::string> m_curIPAddress;
    bool m_firstChangeSeen{false}; // main thread only

    std::shared_ptr<Reachability> m_curReachability; // the monitor's thread only
    std::shared_ptr<platform::Thread> m_thread;
};
