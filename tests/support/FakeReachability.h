#pragma once
// A scripted network for tests: while it lives it is the reachability provider and the interface
// listing, so "no network", "wifi" and "cellular" (and changes between them) need no change to the
// machine. Destroying it restores the machine's provider and listing.
//
// Every target answers the network's flags (none: 0, wifi: reachable, cellular: reachable and WWAN)
// except loopback addresses and "localhost", which stay local, and targets given flags of their own.
// The interfaces are "lo" plus "en0" on wifi or "pdp_ip0" on cellular, unless scripted. Changes tell
// the observers at once, on the calling thread. Thread-safe.

#include "platform/net/NetworkInterfaces.h"
#include "platform/net/ReachabilityProvider.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace liveapp::test {

class FakeReachability {
public:
    enum class Network { None, WiFi, Cellular };

    static constexpr platform::ReachabilityFlags wifiFlags = platform::kReachabilityFlagsReachable;
    static constexpr platform::ReachabilityFlags cellularFlags =
        platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsIsWWAN;
    static constexpr platform::ReachabilityFlags localFlags = platform::kReachabilityFlagsReachable |
                                                              platform::kReachabilityFlagsIsLocalAddress |
                                                              platform::kReachabilityFlagsIsDirect;

    explicit FakeReachability(Network network = Network::WiFi);
    ~FakeReachability();
    FakeReachability(const FakeReachability&) = delete;
    FakeReachability& operator=(const FakeReachability&) = delete;

    void setNetwork(Network network);
    // Called with the target's name after each read of flags has been answered (on the reading thread,
    // with nothing locked), so a test can change the network between two reads.
    void setAfterRead(std::function<void(const std::string& target)> afterRead);

    // Flags for one target, by its name or numeric address ("example.test", "10.1.2.3"); nullopt makes
    // them unreadable. clearTargetFlags() goes back to the network's flags.
    void setTargetFlags(const std::string& target, std::optional<platform::ReachabilityFlags> flags);
    void clearTargetFlags(const std::string& target);

    void setWiFiAddress(std::string address); // default 192.168.1.20; cellular is 10.64.0.20
    // Replaces the interfaces the network implies (system names; the aliases still apply).
    void scriptInterfaces(std::vector<platform::InterfaceAddress> entries);
    void failInterfaceListing();

    // Tells the observers to look again without changing anything.
    void poke();
    size_t observerCount() const;

    // "lo" with 127.0.0.1/8 and ::1/128, up.
    static std::vector<platform::InterfaceAddress> loopbackInterfaces();

private:
    class Provider;
    std::shared_ptr<Provider> m_provider;
};

} // namespace liveapp::test
