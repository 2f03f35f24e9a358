#pragma once
// Reachability from the machine's own routing decisions. A target is reachable when the kernel would
// route to it: a name is resolved through the resolver seam, then a UDP socket is connected (which
// sends nothing) to learn the outgoing address and so the interface. Loopback and own addresses are
// local and direct; an address on the interface's own network is direct; an interface whose name is
// a cellular one (NetworkInterfaces::isCellular) makes the route cellular. The zero address stands
// for "the internet" and is judged by the route to a probe address; a link-local address is
// reachable when a non-cellular interface is up with an IPv4 address.
//
// Changes are watched, while anyone observes, on a netlink route socket (links, addresses, routes);
// where that cannot be opened, a slow poll tells observers to look again. Observers are called on the
// provider's own serial queue. Thread-safe.

#include "platform/foundation/Clock.h"
#include "platform/net/NetworkInterfaces.h"
#include "platform/net/ReachabilityProvider.h"

#include <chrono>
#include <mutex>
#include <vector>

namespace platform {

class DispatchQueue;
class DispatchSource;

class ReachabilitySystemProvider final : public ReachabilityProvider {
public:
    struct Configuration {
        // Never-routed documentation addresses: the kernel picks the default route for them.
        std::string internetProbeIPv4{"192.0.2.1"};
        std::string internetProbeIPv6{"2001:db8::1"};
        Duration pollInterval{std::chrono::seconds(30)};
        bool useNetlink{true}; // false: poll only
    };

    ReachabilitySystemProvider();
    explicit ReachabilitySystemProvider(Configuration configuration);
    ~ReachabilitySystemProvider() override;

    std::optional<ReachabilityFlags> flagsForTarget(const ReachabilityTarget& target) override;
    uint64_t addChangeObserver(std::function<void()> changed) override;
    void removeChangeObserver(uint64_t id) override;

    // The flags of the route to one address, given the interface listing (in system names).
    static ReachabilityFlags flagsForAddress(const sockaddr* address,
                                             const std::vector<InterfaceAddress>& interfaces);

    // Whether changes come from netlink (false: polling, or nobody observes).
    bool isWatchingNetlink() const;

private:
    ReachabilityFlags flagsForName(const std::string& name, const std::vector<InterfaceAddress>& interfaces);
    ReachabilityFlags flagsForInternet(int family, const std::vector<InterfaceAddress>& interfaces);
    void startWatchingLocked();
    void stopWatchingLocked();

    // Shared with the watcher's handlers, which may still run while the provider goes away.
    struct Observers;

    const Configuration m_configuration;
    const std::shared_ptr<Observers> m_observers;
    mutable std::mutex m_mutex;
    std::shared_ptr<DispatchQueue> m_queue;
    std::shared_ptr<DispatchSource> m_netlinkSource;
    std::shared_ptr<DispatchSource> m_pollTimer;
};

} // namespace platform
