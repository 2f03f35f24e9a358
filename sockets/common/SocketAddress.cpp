#include "sockets/common/SocketAddress.h"

#include "platform/net/NetworkInterfaces.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstddef>
#include <cstring>
#include <net/if.h>

namespace sockets {

namespace {

sa_family_t familyOf(const platform::Data& address) {
    sa_family_t family = AF_UNSPEC;
    if (address.length() >= sizeof(sa_family_t))
        std::memcpy(&family, address.bytes() + offsetof(sockaddr, sa_family), sizeof family);
    return family;
}

template <typename T> T recordOf(const platform::Data& address) {
    T record{};
    std::memcpy(&record, address.bytes(), std::min(sizeof record, address.length()));
    return record;
}

// "80" → 80; nullopt for anything but 1..65535 written in decimal digits.
std::optional<uint16_t> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

struct Ipv6Literal {
    in6_addr address{};
    std::optional<uint32_t> scopeId;
};

// "::1", "fe80::1%eth0", "fe80::1%2".
std::optional<Ipv6Literal> parseIpv6(std::string_view text) {
    Ipv6Literal literal;
    std::string_view scope;
    if (auto percent = text.find('%'); percent != std::string_view::npos) {
        scope = text.substr(percent + 1);
        text = text.substr(0, percent);
        if (scope.empty())
            return std::nullopt;
    }
    std::string host(text);
    if (inet_pton(AF_INET6, host.c_str(), &literal.address) != 1)
        return std::nullopt;
    if (!scope.empty()) {
        std::string scopeText(scope);
        unsigned index = if_nametoindex(scopeText.c_str());
        if (index == 0) {
            bool numeric =
                std::all_of(scopeText.begin(), scopeText.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!numeric || scopeText.size() > 9)
                return std::nullopt;
            index = static_cast<unsigned>(std::stoul(scopeText));
        }
        literal.scopeId = index;
    }
    return literal;
}

} // namespace

std::string hostFromSockaddr4(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &address.sin_addr, text, sizeof text))
        return {};
    return text;
}

std::string hostFromSockaddr6(const sockaddr_in6& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text))
        return {};
    return text;
}

uint16_t portFromSockaddr4(const sockaddr_in& address) {
    return ntohs(address.sin_port);
}

uint16_t portFromSockaddr6(const sockaddr_in6& address) {
    return ntohs(address.sin6_port);
}

platform::URLPtr urlFromSockaddrUN(const sockaddr_un& address) {
    size_t length = strnlen(address.sun_path, sizeof address.sun_path);
    if (length == 0)
        return nullptr;
    return platform::URL::fileURLWithPath(std::string_view(address.sun_path, length));
}

bool isIPv4Address(const platform::Data& address) {
    return address.length() >= sizeof(sockaddr_in) && familyOf(address) == AF_INET;
}

bool isIPv6Address(const platform::Data& address) {
    return address.length() >= sizeof(sockaddr_in) && familyOf(address) == AF_INET6;
}

bool isCompleteIPv4Address(const platform::Data& address) {
    return address.length() == sizeof(sockaddr_in) && familyOf(address) == AF_INET;
}

bool isCompleteIPv6Address(const platform::Data& address) {
    return address.length() == sizeof(sockaddr_in6) && familyOf(address) == AF_INET6;
}

bool getHost(const platform::Data& address, std::string* host, uint16_t* port, sa_family_t* family) {
    if (address.length() < sizeof(sockaddr_in))
        return false;
    sa_family_t af = familyOf(address);
    if (af == AF_INET6 && address.length() >= sizeof(sockaddr_in6)) {
        auto record = recordOf<sockaddr_in6>(address);
        if (host)
            *host = hostFromSockaddr6(record);
        if (port)
            *port = portFromSockaddr6(record);
        if (family)
            *family = AF_INET6;
        return true;
    }
    if (af == AF_INET) {
        auto record = recordOf<sockaddr_in>(address);
        if (host)
            *host = hostFromSockaddr4(record);
        if (port)
            *port = portFromSockaddr4(record);
        if (family)
            *family = AF_INET;
        return true;
    }
    return false;
}

platform::Data makeAddress4(in_addr address, uint16_t port) {
    sockaddr_in record{};
    record.sin_family = AF_INET;
    record.sin_port = htons(port);
    record.sin_addr = address;
    return platform::Data(&record, sizeof record);
}

platform::Data makeAddress6(const in6_addr& address, uint16_t port, uint32_t scopeId) {
    sockaddr_in6 record{};
    record.sin6_family = AF_INET6;
    record.sin6_port = htons(port);
    record.sin6_addr = address;
    record.sin6_scope_id = scopeId;
    return platform::Data(&record, sizeof record);
}

platform::Data withPort(const platform::Data& address, uint16_t port) {
    if (isCompleteIPv4Address(address)) {
        auto record = recordOf<sockaddr_in>(address);
        record.sin_port = htons(port);
        return platform::Data(&record, sizeof record);
    }
    if (isCompleteIPv6Address(address)) {
        auto record = recordOf<sockaddr_in6>(address);
        record.sin6_port = htons(port);
        return platform::Data(&record, sizeof record);
    }
    return address;
}

InterfaceAddresses interfaceAddresses(std::string_view description, uint16_t port) {
    std::string_view interface;
    std::optional<std::string_view> portText;
    bool ipv6Literal = false;

    if (!description.empty() && description.front() == '[') {
        auto close = description.find(']');
        if (close == std::string_view::npos)
            return {};
        interface = description.substr(1, close - 1);
        std::string_view rest = description.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return {};
            portText = rest.substr(1);
        }
        ipv6Literal = true;
    } else if (std::count(description.begin(), description.end(), ':') >= 2) {
        // Two colons or more: an IPv6 address, whose colons are not a port separator.
        interface = description;
        ipv6Literal = true;
    } else {
        auto colon = description.find(':');
        interface = description.substr(0, colon);
        if (colon != std::string_view::npos)
            portText = description.substr(colon + 1);
    }

    if (port == 0 && portText) {
        if (auto parsed = parsePort(*portText))
            port = *parsed;
    }

    InterfaceAddresses result;
    if (interface.empty()) {
        if (ipv6Literal)
            return {};
        in_addr any4{};
        any4.s_addr = htonl(INADDR_ANY);
        result.address4 = makeAddress4(any4, port);
        result.address6 = makeAddress6(in6addr_any, port);
        return result;
    }
    if (interface == "localhost" || interface == "loopback") {
        in_addr loop4{};
        loop4.s_addr = htonl(INADDR_LOOPBACK);
        result.address4 = makeAddress4(loop4, port);
        result.address6 = makeAddress6(in6addr_loopback, port);
        return result;
    }

    std::optional<in_addr> literal4;
    std::optional<Ipv6Literal> literal6;
    std::string interfaceText(interface);
    if (ipv6Literal) {
        literal6 = parseIpv6(interface);
        if (!literal6)
            return {};
    } else {
        in_addr parsed{};
        if (inet_pton(AF_INET, interfaceText.c_str(), &parsed) == 1)
            literal4 = parsed;
    }

    auto entries = platform::NetworkInterfaces::list();
    if (!entries)
        return {};
    for (const auto& entry : *entries) {
        bool named =
            !literal4 && !literal6 && (entry.name == interfaceText || entry.systemName == interfaceText);
        if (entry.family == AF_INET && !result.address4 && !literal6) {
            const auto& record = reinterpret_cast<const sockaddr_in&>(entry.address);
            if (named || (literal4 && record.sin_addr.s_addr == literal4->s_addr))
                result.address4 = makeAddress4(record.sin_addr, port);
        } else if (entry.family == AF_INET6 && !result.address6 && !literal4) {
            const auto& record = reinterpret_cast<const sockaddr_in6&>(entry.address);
            bool sameAddress = literal6 &&
                               std::memcmp(&record.sin6_addr, &literal6->address, sizeof(in6_addr)) == 0 &&
                               (!literal6->scopeId || *literal6->scopeId == record.sin6_scope_id);
            if (named || sameAddress)
                result.address6 = makeAddress6(record.sin6_addr, port, record.sin6_scope_id);
        }
    }
    return result;
}

std::optional<platform::Data> unixAddressForPath(std::string_view path) {
    sockaddr_un record{};
    // The path needs its terminator inside the record; a longer one is refused, never cut.
    if (path.empty() || path.size() >= sizeof record.sun_path)
        return std::nullopt;
    if (path.find('\0') != std::string_view::npos)
        return std::nullopt;
    record.sun_family = AF_UNIX;
    std::memcpy(record.sun_path, path.data(), path.size());
    return platform::Data(&record, sizeof record);
}

socklen_t unixAddressLength(const platform::Data& address) {
    auto record = recordOf<sockaddr_un>(address);
    size_t length = strnlen(record.sun_path, sizeof record.sun_path);
    return static_cast<socklen_t>(std::min(offsetof(sockaddr_un, sun_path) + length + 1, sizeof record));
}

platform::Data CRLFData() {
    return platform::Data("\x0D\x0A", 2);
}

platform::Data CRData() {
    return platform::Data("\x0D", 1);
}

platform::Data LFData() {
    return platform::Data("\x0A", 1);
}

platform::Data ZeroData() {
    return platform::Data("", 1);
}

} // namespace sockets
