#pragma once
// Where reachability flags come from. The installed provider answers the flags of a target and tells
// observers when something happened that may have changed them; every reachability handle asks it.
// The system provider (ReachabilitySystemProvider.h) reads the machine's routing decisions; tests
// install a scripted one, so "no network", "wifi" and "cellular" need no change to the machine.
//
// Promises: current() and install() are thread-safe; a handle already watching keeps the provider it
// started with, later reads use the newly installed one. Providers must be thread-safe: flags are read
// on any thread (and may block, while a name resolves), observers are called on any thread and must
// not block.

#include "platform/net/ReachabilityFlags.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/socket.h>

namespace platform {

// What a handle watches: a host name, or a socket address (the zero address stands for any route to
// the internet, a link-local one for the local network).
struct ReachabilityTarget {
    enum class Kind { Name, Address };

    Kind kind{Kind::Name};
    std::string name;
    sockaddr_storage address{};
    socklen_t length{0};

    static ReachabilityTarget forName(std::string name);
    // nullopt for a family other than IPv4 and IPv6 or a length too short for it.
    static std::optional<ReachabilityTarget> forAddress(const sockaddr* address, socklen_t length);

    const sockaddr* sockaddrPtr() const { return reinterpret_cast<const sockaddr*>(&address); }
    bool isZeroAddress() const;      // 0.0.0.0 or ::
    bool isLinkLocalAddress() const; // 169.254.0.0/16 or fe80::/10
    std::string description() const; // the name, or the numeric address
};

class ReachabilityProvider {
public:
    virtual ~ReachabilityProvider() = default;

    // The target's flags now; nullopt when they cannot be read. May block.
    virtual std::optional<ReachabilityFlags> flagsForTarget(const ReachabilityTarget& target) = 0;

    // `changed` is called after anything that may change some target's flags. Ids are never 0.
    virtual uint64_t addChangeObserver(std::function<void()> changed) = 0;
    virtual void removeChangeObserver(uint64_t id) = 0;

    static std::shared_ptr<ReachabilityProvider> current();
    static void install(std::shared_ptr<ReachabilityProvider> provider); // null restores the system's
};

} // namespace platform
