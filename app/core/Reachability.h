#pragma once
// Reachability: one reachability target (a host name, a socket address, any internet route, or the
// link-local Wi-Fi network) and its status. Queries read the flags afresh each time (and may block
// while a name resolves, so keep them off the main thread). startNotifier() reports changes: each
// one calls reachableBlock or unreachableBlock on the object's serial queue
// ("com.pendrawoxil.reachability"), then posts kReachabilityChangedNotification with the object on
// the main queue, the flags that caused it under "flags" in the user info.
//
// Ownership: the owner keeps the object alive while it notifies (the callbacks hold it weakly);
// when it goes away it stops notifying. The blocks and switches may be set from any thread.

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Object.h"
#include "platform/net/ReachabilityFlags.h"
#include "platform/net/ReachabilityHandle.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/socket.h>

inline constexpr const char* kReachabilityChangedNotification = "kReachabilityChangedNotification";

enum ReachabilityStatus : int64_t {
    ReachabilityStatusNotReachable = 0,
    ReachabilityStatusViaWWAN = 1,
    ReachabilityStatusViaWiFi = 2,
};

class Reachability : public platform::Object {
public:
    using Block = std::function<void(const std::shared_ptr<Reachability>& reachability)>;

    // Null when the platform cannot make a handle for the target.
    static std::shared_ptr<Reachability> reachabilityWithHostname(std::string_view hostname);
    static std::shared_ptr<Reachability> reachabilityWithHostName(std::string_view hostname) {
        return reachabilityWithHostname(hostname);
    }
    static std::shared_ptr<Reachability> reachabilityWithAddress(const sockaddr* address, socklen_t length);
    static std::shared_ptr<Reachability> reachabilityForInternetConnection(); // 0.0.0.0
    static std::shared_ptr<Reachability> reachabilityForLocalWiFi();          // 169.254.0.0

    // initWithReachabilityRef: takes the handle; reachableOnWWAN starts YES.
    explicit Reachability(platform::ReachabilityHandlePtr reachabilityRef);
    ~Reachability() override;

    void setReachableBlock(Block block);
    void setUnreachableBlock(Block block);
    bool reachableOnWWAN() const { return m_reachableOnWWAN.load(); }
    void setReachableOnWWAN(bool value) { m_reachableOnWWAN.store(value); }
    const platform::ReachabilityHandlePtr& reachabilityRef() const { return m_reachabilityRef; }
    const std::shared_ptr<platform::DispatchQueue>& reachabilitySerialQueue() const { return m_queue; }
    // The object itself while it notifies, else null.
    std::shared_ptr<Reachability> reachabilityObject();

    // YES when notifying (also when it already was).
    bool startNotifier();
    void stopNotifier();

    bool isReachableWithFlags(platform::ReachabilityFlags flags) const;
    bool isReachable() const;
    bool isReachableViaWWAN() const;
    bool isReachableViaWiFi() const;
    bool isConnectionRequired() const;
    bool connectionRequired() const { return isConnectionRequired(); }
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    ReachabilityStatus currentReachabilityStatus() const;
    // The status that the flags stand for, by the same rules as currentReachabilityStatus.
    ReachabilityStatus reachabilityStatusForFlags(platform::ReachabilityFlags flags) const;
    platform::ReachabilityFlags reachabilityFlags() const;
    std::string currentReachabilityString() const; // "Cellular", "WiFi", "No Connection", localised
    std::string currentReachabilityFlags() const;  // "WR ctiCDld" style, '-' for each clear bit
    static std::string flagsDescription(platform::ReachabilityFlags flags);
    std::string description() const override;

    // Reachability(Extension) (Reachability+Extension.cpp): the kind of network the device reaches the
    // internet over now: "3g" (any cellular), "wifi" or "none". Each call reads afresh and keeps nothing;
    // when the network changes between its two reads, the second decides.
    static std::string currentNetType();

private:
    void reachabilityChanged(platform::ReachabilityFlags flags);

    const platform::ReachabilityHandlePtr m_reachabilityRef;
    const std::shared_ptr<platform::DispatchQueue> m_queue;
    std::atomic<bool> m_reachableOnWWAN{true};
    mutable std::mutex m_blocksMutex;
    Block m_reachableBlock;
    Block m_unreachableBlock;
    // Orders start and stop; never taken by a change callback, so stopping cannot wait on one.
    std::mutex m_notifierMutex;
    std::atomic<bool> m_notifying{false};
};
