#pragma once
// The machine's interface addresses (the platform's interface listing), under the phone platform's
// interface names: callers look for "en0" (Wi-Fi) and "pdp_ip0" (cellular), while a Linux machine has
// "wlp2s0", "eth0" or "wwan0". An alias table gives the best matching interface the platform's name;
// every other interface keeps its own.
//
// Promises: thread-safe. list() answers nullopt only when the listing itself fails; entries keep the
// listing's order and hold IPv4 and IPv6 addresses only. The listing can be replaced (tests script
// "wifi" or "cellular" without touching the machine); the aliases apply to a replaced listing too.

#include <array>
#include <cstdint>
#include <functional>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <vector>

namespace platform {

struct InterfaceAddress {
    std::string name;       // as callers see it: "en0" for the interface aliased so
    std::string systemName; // as the machine names it: "wlp2s0"
    unsigned flags{0};      // IFF_UP, IFF_RUNNING, IFF_LOOPBACK ...
    int family{AF_UNSPEC};  // AF_INET or AF_INET6
    sockaddr_storage address{};
    sockaddr_storage netmask{};

    // A scripted entry (tests, fakes): numeric address and netmask texts; nullopt when they do not parse.
    static std::optional<InterfaceAddress> make(std::string systemName, std::string_view address,
                                                std::string_view netmask, unsigned flags);

    std::string addressText() const; // "192.168.1.20", "fe80::1"
    std::string netmaskText() const;
    bool isLoopback() const;
    bool isUp() const;
    // Whether `other` lies in this entry's network (same family, equal under the netmask).
    bool sameNetwork(const sockaddr* other) const;
    // Whether `other` is this entry's own address.
    bool holds(const sockaddr* other) const;
};

// The platform's name and the machine's names it may stand for, in order of preference. A pattern is
// a name in which '*' stands for any run of characters.
struct InterfaceAlias {
    std::string name;
    std::vector<std::string> patterns;
};

struct NetworkInterfacesConfiguration {
    std::vector<std::string> cellularPatterns{"wwan*", "rmnet*", "pdp_ip*", "ccmni*"};
    std::vector<InterfaceAlias> aliases{
        {"en0", {"wl*", "en*", "eth*"}},
        {"pdp_ip0", {"wwan*", "rmnet*", "pdp_ip*", "ccmni*"}},
    };
};

class NetworkInterfaces {
public:
    // The listing in the machine's names (name == systemName); nullopt when it fails.
    using Listing = std::function<std::optional<std::vector<InterfaceAddress>>()>;

    // The installed listing with the aliases applied.
    static std::optional<std::vector<InterfaceAddress>> list();
    // The machine's own listing (getifaddrs), without aliases.
    static std::optional<std::vector<InterfaceAddress>> systemListing();
    // An empty listing restores the machine's.
    static void installListing(Listing listing);

    // The link-level (MAC) address of the interface callers know as `name` ("en0"), as the machine
    // reports it for the interface the name stands for; nothing when there is none.
    static std::optional<std::array<uint8_t, 6>> hardwareAddress(std::string_view name);

    static NetworkInterfacesConfiguration configuration();
    static void setConfiguration(NetworkInterfacesConfiguration configuration);

    // Whether an interface of this machine name is a cellular one.
    static bool isCellular(std::string_view systemName);
    static bool matchesPattern(std::string_view name, std::string_view pattern);

    // Renames the interface each alias stands for. An interface already bearing an alias's name is
    // that alias's; otherwise the candidates are the non-loopback interfaces matching a pattern, those
    // up with an IPv4 address first, then by pattern order, then by listing order. One interface
    // takes at most one alias.
    static std::vector<InterfaceAddress> applyAliases(std::vector<InterfaceAddress> entries,
                                                      const NetworkInterfacesConfiguration& configuration);
};

} // namespace platform
