#pragma once
// The one seam through which the platform layer turns host names into addresses. Everything that
// resolves (URL loading, reachability, streams, the sockets) calls Resolver::current(), so tests can
// install a fake and never send a real lookup.
//
// Promises: resolve() may block (call it off the main thread) and is thread-safe; it answers 0 or a
// getaddrinfo EAI_* code, with the addresses in the resolver's preference order. install() swaps the
// resolver for every later call; calls already under way finish with the old one.

#include <memory>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <vector>

namespace platform {

struct ResolvedAddress {
    int family{AF_UNSPEC};
    int socketType{SOCK_STREAM};
    int protocol{0};
    sockaddr_storage address{};
    socklen_t length{0};

    const sockaddr* sockaddrPtr() const { return reinterpret_cast<const sockaddr*>(&address); }
    uint16_t port() const;
    std::string numericHost() const; // "127.0.0.1", "::1"
};

struct ResolveHints {
    int family{AF_UNSPEC};       // AF_INET, AF_INET6 or AF_UNSPEC
    int socketType{SOCK_STREAM}; // SOCK_STREAM or SOCK_DGRAM; 0 for any
    int flags{0};                // AI_PASSIVE, AI_NUMERICHOST, AI_NUMERICSERV, AI_ADDRCONFIG ...
};

class Resolver {
public:
    virtual ~Resolver() = default;

    // `host` empty with AI_PASSIVE means the wildcard address; `service` is a port number text or a
    // service name. Fills `out` (cleared first) and answers 0, or answers an EAI_* code.
    virtual int resolve(std::string_view host, std::string_view service, const ResolveHints& hints,
                        std::vector<ResolvedAddress>& out) = 0;

    static std::shared_ptr<Resolver> current();
    static void install(std::shared_ptr<Resolver> resolver); // null restores the system resolver

    // The resolver's text for an EAI_* code (gai_strerror).
    static std::string errorText(int code);
};

// getaddrinfo.
class SystemResolver final : public Resolver {
public:
    int resolve(std::string_view host, std::string_view service, const ResolveHints& hints,
                std::vector<ResolvedAddress>& out) override;
};

} // namespace platform
