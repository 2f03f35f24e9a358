#include "platform/net/Resolver.h"

#include "platform/foundation/Immortal.h"

#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>

namespace platform {

namespace {

// Never destroyed: a lookup block still queued on a worker may ask for the resolver while static
// destructors run at exit.
struct Installed {
    std::mutex mutex;
    std::shared_ptr<Resolver> resolver;
};

Installed& installed() {
    static detail::Immortal<Installed> storage;
    return storage.get();
}

} // namespace

uint16_t ResolvedAddress::port() const {
    if (family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in)))
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    if (family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6)))
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return 0;
}

std::string ResolvedAddress::numericHost() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in)))
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, text, sizeof(text));
    else if (family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6)))
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr, text, sizeof(text));
    return text;
}

std::shared_ptr<Resolver> Resolver::current() {
    auto& state = installed();
    std::lock_guard lock(state.mutex);
    if (!state.resolver)
        state.resolver = std::make_shared<SystemResolver>();
    return state.resolver;
}

void Resolver::install(std::shared_ptr<Resolver> resolver) {
    auto& state = installed();
    std::lock_guard lock(state.mutex);
    state.resolver = std::move(resolver);
}

std::string Resolver::errorText(int code) {
    return gai_strerror(code);
}

int SystemResolver::resolve(std::string_view host, std::string_view service, const ResolveHints& hints,
                            std::vector<ResolvedAddress>& out) {
    out.clear();
    addrinfo request{};
    request.ai_family = hints.family;
    request.ai_socktype = hints.socketType;
    request.ai_flags = hints.flags;
    std::string hostText(host);
    std::string serviceText(service);
    addrinfo* result = nullptr;
    int code = getaddrinfo(hostText.empty() ? nullptr : hostText.c_str(),
                           serviceText.empty() ? nullptr : serviceText.c_str(), &request, &result);
    if (code != 0)
        return code;
    for (addrinfo* entry = result; entry; entry = entry->ai_next) {
        if (entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        ResolvedAddress address;
        address.family = entry->ai_family;
        address.socketType = entry->ai_socktype;
        address.protocol = entry->ai_protocol;
        std::memcpy(&address.address, entry->ai_addr, entry->ai_addrlen);
        address.length = entry->ai_addrlen;
        out.push_back(address);
    }
    freeaddrinfo(result);
    return 0;
}

} // namespace platform
