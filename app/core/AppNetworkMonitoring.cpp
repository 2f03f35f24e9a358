#include "app/core/AppNetworkMonitoring.h"

#include "app/core/AppConfiguration.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchTime.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URL.h"
#include "platform/net/NetworkInterfaces.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <netinet/in.h>

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

// Judged by the name alone: resolving it here would wait on the network the monitor is probing.
bool isLoopbackHost(std::string host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    constexpr std::string_view localhost = "localhost";
    if (host == localhost || (host.size() > localhost.size() && host.ends_with(".localhost")))
        return true;
    in_addr ipv4{};
    if (inet_pton(AF_INET, host.c_str(), &ipv4) == 1)
        return (ntohl(ipv4.s_addr) >> 24) == 127;
    in6_addr ipv6{};
    if (inet_pton(AF_INET6, host.c_str(), &ipv6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&ipv6) || (IN6_IS_ADDR_V4MAPPED(&ipv6) && ipv6.s6_addr[12] == 127);
    return false;
}

// Without configured probe hosts: the service's own host tells whether the service can be reached,
// but a loopback one is reachable whatever the network does, so then any route to the internet is
// watched instead.
std::shared_ptr<Reachability> unconfiguredProbe() {
    auto service = platform::URL::create(AppConfiguration::serviceURL());
    auto host = service ? service->host() : std::nullopt;
    if (host && !host->empty() && !isLoopbackHost(*host))
        return Reachability::reachabilityWithHostname(*host);
    return Reachability::reachabilityForInternetConnection();
}

std::shared_ptr<Reachability> makeProbe() {
    std::string first = AppConfiguration::probeHost1();
    std::string second = AppConfiguration::probeHost2();
    if (first.empty() && second.empty())
        return unconfiguredProbe();
    auto probe = probeFor(first);
    // A lone host stays watched while out of reach, so its return shows at once, not a cycle later.
    if (!second.empty() && (!probe || probe->currentReachabilityStatus() == ReachabilityStatusNotReachable))
        probe = probeFor(second);
    return probe;
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

    if (auto probe = makeProbe()) {
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
