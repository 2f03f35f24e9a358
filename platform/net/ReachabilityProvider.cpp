#include "platform/net/ReachabilityProvider.h"

#include "platform/foundation/Immortal.h"
#include "platform/net/ReachabilitySystemProvider.h"

#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <utility>

namespace platform {

namespace {

// Never destroyed: the watcher's queue may still ask for flags while static destructors run at exit.
struct Installed {
    std::mutex mutex;
    std::shared_ptr<ReachabilityProvider> provider;
};

Installed& installed() {
    static detail::Immortal<Installed> storage;
    return storage.get();
}

} // namespace

std::string reachabilityFlagsDescription(ReachabilityFlags flags) {
    static const std::pair<ReachabilityFlags, const char*> names[] = {
        {kReachabilityFlagsTransientConnection, "transient"},
        {kReachabilityFlagsReachable, "reachable"},
        {kReachabilityFlagsConnectionRequired, "connection-required"},
        {kReachabilityFlagsConnectionOnTraffic, "on-traffic"},
        {kReachabilityFlagsInterventionRequired, "intervention"},
        {kReachabilityFlagsConnectionOnDemand, "on-demand"},
        {kReachabilityFlagsIsLocalAddress, "local"},
        {kReachabilityFlagsIsDirect, "direct"},
        {kReachabilityFlagsIsWWAN, "wwan"},
    };
    std::string text;
    for (auto& [bit, name] : names) {
        if (!(flags & bit))
            continue;
        if (!text.empty())
            text += '|';
        text += name;
    }
    return text.empty() ? "none" : text;
}

ReachabilityTarget ReachabilityTarget::forName(std::string name) {
    ReachabilityTarget target;
    target.kind = Kind::Name;
    target.name = std::move(name);
    return target;
}

std::optional<ReachabilityTarget> ReachabilityTarget::forAddress(const sockaddr* address, socklen_t length) {
    if (!address)
        return std::nullopt;
    socklen_t needed = 0;
    if (address->sa_family == AF_INET)
        needed = sizeof(sockaddr_in);
    else if (address->sa_family == AF_INET6)
        needed = sizeof(sockaddr_in6);
    if (needed == 0 || length < needed)
        return std::nullopt;
    ReachabilityTarget target;
    target.kind = Kind::Address;
    std::memcpy(&target.address, address, needed);
    target.length = needed;
    return target;
}

bool ReachabilityTarget::isZeroAddress() const {
    if (kind != Kind::Address)
        return false;
    if (address.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in*>(&address)->sin_addr.s_addr == htonl(INADDR_ANY);
    if (address.ss_family == AF_INET6)
        return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr);
    return false;
}

bool ReachabilityTarget::isLinkLocalAddress() const {
    if (kind != Kind::Address)
        return false;
    if (address.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(&address)->sin_addr.s_addr) >> 16) == 0xA9FE;
    if (address.ss_family == AF_INET6)
        return IN6_IS_ADDR_LINKLOCAL(&reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr);
    return false;
}

std::string ReachabilityTarget::description() const {
    if (kind == Kind::Name)
        return name;
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, text, sizeof text);
    else if (address.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr, text, sizeof text);
    return text;
}

std::shared_ptr<ReachabilityProvider> ReachabilityProvider::current() {
    auto& state = installed();
    std::lock_guard lock(state.mutex);
    if (!state.provider)
        state.provider = std::make_shared<ReachabilitySystemProvider>();
    return state.provider;
}

void ReachabilityProvider::install(std::shared_ptr<ReachabilityProvider> provider) {
    // The old provider may stop its watcher as it goes; that happens outside the lock.
    std::shared_ptr<ReachabilityProvider> previous;
    auto& state = installed();
    std::lock_guard lock(state.mutex);
    previous = std::exchange(state.provider, std::move(provider));
}

} // namespace platform
