#include "platform/net/ReachabilitySystemProvider.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSource.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/net/Resolver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <map>
#include <netinet/in.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

constexpr ReachabilityFlags kLocal =
    kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress | kReachabilityFlagsIsDirect;

socklen_t lengthFor(int family) {
    return family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
}

bool isLoopbackAddress(const sockaddr* address) {
    if (address->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    if (address->sa_family == AF_INET6)
        return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
    return false;
}

std::optional<sockaddr_storage> parseNumeric(const std::string& text) {
    sockaddr_storage storage{};
    if (inet_pton(AF_INET, text.c_str(), &reinterpret_cast<sockaddr_in*>(&storage)->sin_addr) == 1) {
        storage.ss_family = AF_INET;
        return storage;
    }
    if (inet_pton(AF_INET6, text.c_str(), &reinterpret_cast<sockaddr_in6*>(&storage)->sin6_addr) == 1) {
        storage.ss_family = AF_INET6;
        return storage;
    }
    return std::nullopt;
}

// A netlink route socket subscribed to link, address and route changes; -1 when it cannot be had.
int openNetlinkSocket() {
    FileDescriptor fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (fd.get() < 0)
        return -1;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups =
        RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return -1;
    return fd.release();
}

// Reads everything waiting; true when the kernel said something (or said too much: an overrun).
bool drainNetlink(int fd) {
    bool changed = false;
    char buffer[8192];
    for (;;) {
        sockaddr_nl sender{};
        iovec vector{buffer, sizeof buffer};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        ssize_t got = ::recvmsg(fd, &message, MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ENOBUFS)
                changed = true;
            return changed;
        }
        if (got == 0)
            return changed;
        // Only the kernel speaks for the routing table; anything else is noise.
        if (sender.nl_pid == 0)
            changed = true;
    }
}

} // namespace

struct ReachabilitySystemProvider::Observers {
    std::mutex mutex;
    std::map<uint64_t, std::shared_ptr<std::function<void()>>> entries;
    uint64_t nextId{1};

    void notify() {
        std::vector<std::shared_ptr<std::function<void()>>> callees;
        {
            std::lock_guard lock(mutex);
            for (auto& [id, observer] : entries)
                callees.push_back(observer);
        }
        for (auto& callee : callees)
            (*callee)();
    }
};

ReachabilitySystemProvider::ReachabilitySystemProvider()
    : ReachabilitySystemProvider(Configuration{}) {}

ReachabilitySystemProvider::ReachabilitySystemProvider(Configuration configuration)
    : m_configuration(std::move(configuration))
    , m_observers(std::make_shared<Observers>()) {}

ReachabilitySystemProvider::~ReachabilitySystemProvider() {
    std::lock_guard lock(m_mutex);
    stopWatchingLocked();
}

std::optional<ReachabilityFlags>
ReachabilitySystemProvider::flagsForTarget(const ReachabilityTarget& target) {
    auto interfaces = NetworkInterfaces::list().value_or(std::vector<InterfaceAddress>{});
    if (target.kind == ReachabilityTarget::Kind::Name)
        return flagsForName(target.name, interfaces);
    if (target.isZeroAddress())
        return flagsForInternet(target.address.ss_family, interfaces);
    if (target.isLinkLocalAddress()) {
        // Link-local addresses are on-link by definition: reachable wherever a local network is up.
        for (auto& entry : interfaces) {
            if (entry.family == AF_INET && entry.isUp() && !entry.isLoopback() &&
                !NetworkInterfaces::isCellular(entry.systemName) && entry.addressText() != "0.0.0.0")
                return kReachabilityFlagsReachable | kReachabilityFlagsIsDirect;
        }
        return ReachabilityFlags{0};
    }
    return flagsForAddress(target.sockaddrPtr(), interfaces);
}

ReachabilityFlags ReachabilitySystemProvider::flagsForName(const std::string& name,
                                                           const std::vector<InterfaceAddress>& interfaces) {
    std::vector<ResolvedAddress> addresses;
    ResolveHints hints;
    hints.socketType = SOCK_DGRAM;
    // A name that does not resolve is readable and unreachable, as on the phone.
    if (Resolver::current()->resolve(name, {}, hints, addresses) != 0)
        return 0;
    for (auto& address : addresses) {
        if (address.family != AF_INET && address.family != AF_INET6)
            continue;
        auto flags = flagsForAddress(address.sockaddrPtr(), interfaces);
        if (flags & kReachabilityFlagsReachable)
            return flags;
    }
    return 0;
}

ReachabilityFlags
ReachabilitySystemProvider::flagsForInternet(int family, const std::vector<InterfaceAddress>& interfaces) {
    auto probe = parseNumeric(family == AF_INET6 ? m_configuration.internetProbeIPv6
                                                 : m_configuration.internetProbeIPv4);
    if (!probe || probe->ss_family != family)
        return 0;
    return flagsForAddress(reinterpret_cast<const sockaddr*>(&*probe), interfaces);
}

ReachabilityFlags
ReachabilitySystemProvider::flagsForAddress(const sockaddr* address,
                                            const std::vector<InterfaceAddress>& interfaces) {
    if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6))
        return 0;
    int family = address->sa_family;
    if (isLoopbackAddress(address))
        return kLocal;
    for (auto& entry : interfaces) {
        if (entry.holds(address))
            return kLocal;
    }

    sockaddr_storage destination{};
    std::memcpy(&destination, address, lengthFor(family));
    // A UDP connect needs a port; which one does not change the route.
    auto& port = family == AF_INET ? reinterpret_cast<sockaddr_in*>(&destination)->sin_port
                                   : reinterpret_cast<sockaddr_in6*>(&destination)->sin6_port;
    if (port == 0)
        port = htons(9);
    FileDescriptor fd(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return 0;
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&destination), lengthFor(family)) != 0)
        return 0;
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &localLength) != 0)
        return 0;
    if (isLoopbackAddress(reinterpret_cast<sockaddr*>(&local)))
        return kLocal;

    ReachabilityFlags flags = kReachabilityFlagsReachable;
    for (auto& entry : interfaces) {
        if (!entry.holds(reinterpret_cast<sockaddr*>(&local)))
            continue;
        if (entry.sameNetwork(address))
            flags |= kReachabilityFlagsIsDirect;
        if (NetworkInterfaces::isCellular(entry.systemName))
            flags |= kReachabilityFlagsIsWWAN;
        break;
    }
    return flags;
}

// The provider's lock is taken first and held throughout, so a start and a stop cannot interleave.
uint64_t ReachabilitySystemProvider::addChangeObserver(std::function<void()> changed) {
    std::lock_guard lock(m_mutex);
    uint64_t id;
    {
        std::lock_guard observersLock(m_observers->mutex);
        id = m_observers->nextId++;
        m_observers->entries.emplace(id, std::make_shared<std::function<void()>>(std::move(changed)));
    }
    startWatchingLocked();
    return id;
}

void ReachabilitySystemProvider::removeChangeObserver(uint64_t id) {
    std::shared_ptr<std::function<void()>> removed; // released after the locks
    std::lock_guard lock(m_mutex);
    bool empty;
    {
        std::lock_guard observersLock(m_observers->mutex);
        auto found = m_observers->entries.find(id);
        if (found != m_observers->entries.end()) {
            removed = std::move(found->second);
            m_observers->entries.erase(found);
        }
        empty = m_observers->entries.empty();
    }
    if (empty)
        stopWatchingLocked();
}

bool ReachabilitySystemProvider::isWatchingNetlink() const {
    std::lock_guard lock(m_mutex);
    return m_netlinkSource != nullptr;
}

void ReachabilitySystemProvider::startWatchingLocked() {
    if (m_netlinkSource || m_pollTimer)
        return;
    if (!m_queue)
        m_queue = DispatchQueue::create("platform.reachability.watcher");
    std::weak_ptr<Observers> weakObservers = m_observers;
    int fd = m_configuration.useNetlink ? openNetlinkSocket() : -1;
    if (fd >= 0) {
        m_netlinkSource = DispatchSource::createRead(fd, m_queue);
        m_netlinkSource->setEventHandler([fd, weakObservers] {
            if (!drainNetlink(fd))
                return;
            if (auto observers = weakObservers.lock())
                observers->notify();
        });
        m_netlinkSource->setCancelHandler([fd] { ::close(fd); });
        m_netlinkSource->resume();
        return;
    }
    m_pollTimer = DispatchSource::createTimer(m_queue);
    m_pollTimer->setEventHandler([weakObservers] {
        if (auto observers = weakObservers.lock())
            observers->notify();
    });
    m_pollTimer->setTimer(Clock::now() + m_configuration.pollInterval, m_configuration.pollInterval);
    m_pollTimer->resume();
}

void ReachabilitySystemProvider::stopWatchingLocked() {
    if (m_netlinkSource)
        std::exchange(m_netlinkSource, nullptr)->cancel();
    if (m_pollTimer)
        std::exchange(m_pollTimer, nullptr)->cancel();
}

} // namespace platform
