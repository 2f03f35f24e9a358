#include "app/core/AppNetworkMonitoring.h"

#include "app/core/AppConfiguration.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchTime.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/NetworkInterfaces.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

#include <chrono>

namespace {

using namespace std::chrono_literals;

constexpr platform::Duration kProbeInterval = 10s;
constexpr platform::Duration kStatusPostDelay = 2s;

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<AppNetworkMonitoring>& sharedSlot() {
    static std::shared_ptr<AppNetworkMonitoring> shared;
    return shared;
}

std::shared_ptr<Reachability> probeFor(const std::string& host) {
    return host.empty() ? nullptr : Reachability::reachabilityWithHostname(host);
}

} // namespace

std::shared_ptr<AppNetworkMonitoring> AppNetworkMonitoring::sharedInstance() {
    std::lock_guard lock(sharedMutex());
    auto& shared = sharedSlot();
    if (!shared) {
        shared = std::make_shared<AppNetworkMonitoring>(PrivateTag());
        shared->startThread();
    }
    return shared;
}

void AppNetworkMonitoring::resetSharedInstanceForTesting() {
    std::shared_ptr<AppNetworkMonitoring> old;
    {
        std::lock_guard lock(sharedMutex());
        old = std::move(sharedSlot());
    }
    if (old)
        old->stopThread();
}

AppNetworkMonitoring::AppNetworkMonitoring(PrivateTag) {
    if (auto internet = Reachability::reachabilityForInternetConnection())
        m_networkStatus.store(internet->currentReachabilityStatus());
}

AppNetworkMonitoring::~AppNetworkMonitoring() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

std::optional<std::string> AppNetworkMonitoring::curIPAddress() const {
    std::lock_guard lock(m_addressMutex);
    return m_curIPAddress;
}

void AppNetworkMonitoring::startThread() {
    std::weak_ptr<AppNetworkMonitoring> weak =
        std::static_pointer_cast<AppNetworkMonitoring>(shared_from_this());
    m_thread = platform::Thread::create("com.marvane.network.monitoring", [weak] {
        auto timer = platform::Timer::timerWithTimeInterval(kProbeInterval, true, [weak](platform::Timer&) {
            if (auto self = weak.lock())
                self->networkMonitoringTimer();
        });
        platform::RunLoop::current()->addTimer(timer, platform::RunLoop::defaultMode);
        timer->fire();
        platform::Thread::runUntilCancelled();
        timer->invalidate();
        // The probe belongs to this thread; let it go here, where it was made.
        if (auto self = weak.lock())
            self->releaseProbe();
    });
    m_thread->start();
}

void AppNetworkMonitoring::stopThread() {
    if (!m_thread)
        return;
    m_thread->cancel();
    m_thread->join();
    m_thread.reset();
}

void AppNetworkMonitoring::releaseProbe() {
    if (!m_curReachability)
        return;
    m_curReachability->stopNotifier();
    platform::NotificationCenter::defaultCenter().removeObserver(this, kReachabilityChangedNotification,
                                                                 m_curReachability);
    m_curReachability.reset();
}

void AppNetworkMonitoring::networkMonitoringTimer() {
    releaseProbe();

    auto probe = probeFor(AppConfiguration::probeHost1());
    if (!probe || probe->currentReachabilityStatus() == ReachabilityStatusNotReachable)
        probe = probeFor(AppConfiguration::probeHost2());

    if (probe) {
        m_curReachability = probe;
        auto self = std::static_pointer_cast<AppNetworkMonitoring>(shared_from_this());
        std::weak_ptr<AppNetworkMonitoring> weak = self;
        platform::NotificationCenter::defaultCenter().addObserver(
            self, kReachabilityChangedNotification, probe, [weak](const platform::Notification& note) {
                auto monitor = weak.lock();
                auto source = std::dynamic_pointer_cast<Reachability>(note.object());
                if (monitor && source)
                    monitor->reachabilityChanged(source, note.userInfo());
            });
        probe->startNotifier();
        return;
    }

    ReachabilityStatus previous = m_networkStatus.load();
    if (previous != ReachabilityStatusNotReachable) {
        auto due = platform::DispatchTime::fromNow(kStatusPostDelay);
        m_networkStatus.store(ReachabilityStatusNotReachable);
        laterPostNetworkStatusChangedWithPreNStatus(previous, due);
    }
}

void AppNetworkMonitoring::reachabilityChanged(const std::shared_ptr<Reachability>& probe,
                                               const platform::Value& userInfo) {
    // The flags that caused the change come with it, so the main thread never waits on a name
    // look-up to read them again.
    const platform::Value& flags = userInfo["flags"];
    ReachabilityStatus status =
        flags.isNumber() ? probe->reachabilityStatusForFlags(
                               static_cast<platform::ReachabilityFlags>(flags.number()->uint64Value()))
                         : probe->currentReachabilityStatus();

    if (!m_firstChangeSeen) {
        m_firstChangeSeen = true;
        m_networkStatus.store(status);
        postNetworkStatusChanged();
    } else {
        auto due = platform::DispatchTime::fromNow(kStatusPostDelay);
        ReachabilityStatus previous = m_networkStatus.exchange(status);
        if (previous != status)
            laterPostNetworkStatusChangedWithPreNStatus(previous, due);
    }

    std::weak_ptr<AppNetworkMonitoring> weak =
        std::static_pointer_cast<AppNetworkMonitoring>(shared_from_this());
    platform::DispatchQueue::global()->async([weak] {
        if (auto self = weak.lock())
            self->lookUpIPAddress();
    });
}

void AppNetworkMonitoring::lookUpIPAddress() {
    std::string address = getWifiOr3G_IPAddress();
    {
        std::lock_guard lock(m_addressMutex);
        if (m_curIPAddress == address)
            return;
        m_curIPAddress = address;
    }
    postNetworkIPAddrChanged();
}

void AppNetworkMonitoring::laterPostNetworkStatusChangedWithPreNStatus(ReachabilityStatus previous,
                                                                       platform::MonoTime due) {
    std::weak_ptr<AppNetworkMonitoring> weak =
        std::static_pointer_cast<AppNetworkMonitoring>(shared_from_this());
    // Each scheduled post decides for itself when its time comes: a change that was undone in the
    // meantime finds the status equal to its previous value and stays silent.
    auto schedule = [weak, previous, due] {
        platform::DispatchQueue::main()->after(due, [weak, previous] {
            auto self = weak.lock();
            if (self && self->networkStatus() != previous)
                self->postNetworkStatusChanged();
        });
    };
    if (platform::RunLoop::isMainThread())
        schedule();
    else
        platform::DispatchQueue::main()->async(schedule);
}

void AppNetworkMonitoring::postNetworkStatusChanged() {
    auto self = std::static_pointer_cast<AppNetworkMonitoring>(shared_from_this());
    auto post = [self] {
        platform::NotificationCenter::defaultCenter().postNotificationName(kNotifyNetworkStatusChanged, self);
    };
    if (platform::RunLoop::isMainThread())
        post();
    else
        platform::DispatchQueue::main()->async(post);
}

void AppNetworkMonitoring::postNetworkIPAddrChanged() {
    auto self = std::static_pointer_cast<AppNetworkMonitoring>(shared_from_this());
    auto post = [self] {
        platform::NotificationCenter::defaultCenter().postNotificationName(kNotifyNetworkIPAddrChanged, self);
    };
    if (platform::RunLoop::isMainThread())
        post();
    else
        platform::DispatchQueue::main()->async(post);
}

std::string AppNetworkMonitoring::getWifiOr3G_IPAddress() {
    auto entries = platform::NetworkInterfaces::list();
    if (!entries)
        return "0.0.0.0";
    std::optional<std::string> wifi;
    std::optional<std::string> cellular;
    for (const auto& entry : *entries) {
        if (entry.family != AF_INET)
            continue;
        std::string address = entry.addressText();
        if (address == "0.0.0.0")
            continue;
        if (entry.name == "en0")
            wifi = address;
        else if (entry.name == "pdp_ip0")
            cellular = address;
    }
    return wifi ? *wifi : cellular ? *cellular : "0.0.0.0";
}
