#include "app/core/Reachability.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"

#include <arpa/inet.h>
#include <fmt/format.h>
#include <netinet/in.h>

using platform::ReachabilityFlags;

namespace {

bool has(ReachabilityFlags flags, ReachabilityFlags bit) {
    return (flags & bit) != 0;
}

std::shared_ptr<Reachability> forIPv4(const char* address) {
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    inet_pton(AF_INET, address, &ipv4.sin_addr);
    return Reachability::reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&ipv4), sizeof ipv4);
}

} // namespace

std::shared_ptr<Reachability> Reachability::reachabilityWithHostname(std::string_view hostname) {
    auto handle = platform::ReachabilityHandle::createWithName(hostname);
    return handle ? std::make_shared<Reachability>(std::move(handle)) : nullptr;
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const sockaddr* address,
                                                                    socklen_t length) {
    auto handle = platform::ReachabilityHandle::createWithAddress(address, length);
    return handle ? std::make_shared<Reachability>(std::move(handle)) : nullptr;
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
    return forIPv4("0.0.0.0");
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi() {
    return forIPv4("169.254.0.0");
}

Reachability::Reachability(platform::ReachabilityHandlePtr reachabilityRef)
    : m_reachabilityRef(std::move(reachabilityRef))
    , m_queue(platform::DispatchQueue::create("com.pendrawoxil.reachability")) {}

Reachability::~Reachability() {
    m_reachabilityRef->setDispatchQueue(nullptr);
    m_reachabilityRef->setCallback({});
}

void Reachability::setReachableBlock(Block block) {
    std::lock_guard lock(m_blocksMutex);
    m_reachableBlock = std::move(block);
}

void Reachability::setUnreachableBlock(Block block) {
    std::lock_guard lock(m_blocksMutex);
    m_unreachableBlock = std::move(block);
}

std::shared_ptr<Reachability> Reachability::reachabilityObject() {
    return m_notifying.load() ? std::static_pointer_cast<Reachability>(shared_from_this()) : nullptr;
}

bool Reachability::startNotifier() {
    std::lock_guard lock(m_notifierMutex);
    if (m_notifying)
        return true;
    std::weak_ptr<Reachability> weak = std::static_pointer_cast<Reachability>(shared_from_this());
    bool started =
        m_reachabilityRef->setCallback([weak](platform::ReachabilityHandle&, ReachabilityFlags flags) {
            if (auto self = weak.lock())
                self->reachabilityChanged(flags);
        });
    if (started) {
        started = m_reachabilityRef->setDispatchQueue(m_queue);
        if (!started)
            m_reachabilityRef->setCallback({});
    }
    m_notifying.store(started);
    return started;
}

void Reachability::stopNotifier() {
    std::lock_guard lock(m_notifierMutex);
    m_reachabilityRef->setCallback({});
    m_reachabilityRef->setDispatchQueue(nullptr);
    m_notifying.store(false);
}

void Reachability::reachabilityChanged(ReachabilityFlags flags) {
    auto self = std::static_pointer_cast<Reachability>(shared_from_this());
    Block block;
    {
        std::lock_guard lock(m_blocksMutex);
        block = isReachableWithFlags(flags) ? m_reachableBlock : m_unreachableBlock;
    }
    if (block)
        block(self);
    platform::DispatchQueue::main()->async([self, flags] {
        platform::NotificationCenter::defaultCenter().postNotificationName(
            kReachabilityChangedNotification, self,
            platform::Value(platform::ValueDictionary{{"flags", platform::Value(flags)}}));
    });
}

bool Reachability::isReachableWithFlags(ReachabilityFlags flags) const {
    if (!has(flags, platform::kReachabilityFlagsReachable))
        return false;
    if (has(flags, platform::kReachabilityFlagsTransientConnection) &&
        has(flags, platform::kReachabilityFlagsConnectionRequired))
        return false;
    if (has(flags, platform::kReachabilityFlagsIsWWAN) && !reachableOnWWAN())
        return false;
    return true;
}

bool Reachability::isReachable() const {
    ReachabilityFlags flags = 0;
    if (!m_reachabilityRef->getFlags(&flags))
        return false;
    return isReachableWithFlags(flags);
}

bool Reachability::isReachableViaWWAN() const {
    ReachabilityFlags flags = reachabilityFlags();
    return has(flags, platform::kReachabilityFlagsReachable) &&
           has(flags, platform::kReachabilityFlagsIsWWAN);
}

bool Reachability::isReachableViaWiFi() const {
    ReachabilityFlags flags = reachabilityFlags();
    return has(flags, platform::kReachabilityFlagsReachable) &&
           !has(flags, platform::kReachabilityFlagsIsWWAN);
}

bool Reachability::isConnectionRequired() const {
    return has(reachabilityFlags(), platform::kReachabilityFlagsConnectionRequired);
}

bool Reachability::isConnectionOnDemand() const {
    ReachabilityFlags flags = reachabilityFlags();
    return has(flags, platform::kReachabilityFlagsConnectionRequired) &&
           (has(flags, platform::kReachabilityFlagsConnectionOnTraffic) ||
            has(flags, platform::kReachabilityFlagsConnectionOnDemand));
}

bool Reachability::isInterventionRequired() const {
    ReachabilityFlags flags = reachabilityFlags();
    return has(flags, platform::kReachabilityFlagsConnectionRequired) &&
           has(flags, platform::kReachabilityFlagsInterventionRequired);
}

ReachabilityStatus Reachability::reachabilityStatusForFlags(ReachabilityFlags flags) const {
    if (!isReachableWithFlags(flags))
        return ReachabilityStatusNotReachable;
    if (!has(flags, platform::kReachabilityFlagsIsWWAN))
        return ReachabilityStatusViaWiFi;
    return ReachabilityStatusViaWWAN;
}

ReachabilityStatus Reachability::currentReachabilityStatus() const {
    // One read of the flags, so the answer cannot mix two moments of a changing network.
    ReachabilityFlags flags = 0;
    if (!m_reachabilityRef->getFlags(&flags))
        return ReachabilityStatusNotReachable;
    return reachabilityStatusForFlags(flags);
}

ReachabilityFlags Reachability::reachabilityFlags() const {
    ReachabilityFlags flags = 0;
    if (!m_reachabilityRef->getFlags(&flags))
        return 0;
    return flags;
}

std::string Reachability::currentReachabilityString() const {
    const char* key = "No Connection";
    switch (currentReachabilityStatus()) {
    case ReachabilityStatusViaWWAN:
        key = "Cellular";
        break;
    case ReachabilityStatusViaWiFi:
        key = "WiFi";
        break;
    default:
        break;
    }
    return platform::Bundle::mainBundle()->localizedStringForKey(key, "", "");
}

std::string Reachability::flagsDescription(ReachabilityFlags flags) {
    auto bit = [flags](ReachabilityFlags mask, char set) { return has(flags, mask) ? set : '-'; };
    return fmt::format("{}{} {}{}{}{}{}{}{}", bit(platform::kReachabilityFlagsIsWWAN, 'W'),
                       bit(platform::kReachabilityFlagsReachable, 'R'),
                       bit(platform::kReachabilityFlagsConnectionRequired, 'c'),
                       bit(platform::kReachabilityFlagsTransientConnection, 't'),
                       bit(platform::kReachabilityFlagsInterventionRequired, 'i'),
                       bit(platform::kReachabilityFlagsConnectionOnTraffic, 'C'),
                       bit(platform::kReachabilityFlagsConnectionOnDemand, 'D'),
                       bit(platform::kReachabilityFlagsIsLocalAddress, 'l'),
                       bit(platform::kReachabilityFlagsIsDirect, 'd'));
}

std::string Reachability::currentReachabilityFlags() const {
    return flagsDescription(reachabilityFlags());
}

std::string Reachability::description() const {
    return fmt::format("<{}: {:#x} ({})>", className(), reinterpret_cast<uintptr_t>(this),
                       currentReachabilityFlags());
}
