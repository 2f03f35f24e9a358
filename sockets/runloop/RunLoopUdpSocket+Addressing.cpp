#include "platform/foundation/Exception.h"
#include "platform/net/Resolver.h"
#include "sockets/common/SocketAddress.h"
#include "sockets/common/SocketErrors.h"
#include "sockets/runloop/AddressText.h"
#include "sockets/runloop/RunLoopUdpSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <fmt/format.h>
#include <netdb.h>
#include <netinet/in.h>

namespace {

constexpr const char* kCFStreamErrorDomainPOSIX = "kCFStreamErrorDomainPOSIX";

platform::Data withPortOf(const platform::Data& from, const platform::Data& to) {
    return sockets::withPort(to, sockets::portOf(from));
}

} // namespace

// MARK: - Addresses from host texts

// "localhost" and "loopback" are the loopback addresses; no host is every interface when binding.
int RunLoopUdpSocket::convertHost(const Host& host, uint16_t port, bool passive, Addresses* addresses) const {
    if (!host || host->empty()) {
        if (!passive)
            return EAI_NONAME;
        addresses->address4 = sockets::makeAddress4(in_addr{htonl(INADDR_ANY)}, port);
        addresses->address6 = sockets::makeAddress6(in6addr_any, port);
        return 0;
    }
    if (*host == "localhost" || *host == "loopback") {
        addresses->address4 = sockets::makeAddress4(in_addr{htonl(INADDR_LOOPBACK)}, port);
        addresses->address6 = sockets::makeAddress6(in6addr_loopback, port);
        return 0;
    }
    std::vector<platform::ResolvedAddress> resolved;
    platform::ResolveHints hints{AF_UNSPEC, SOCK_DGRAM, passive ? AI_PASSIVE : 0};
    if (int code = platform::Resolver::current()->resolve(*host, fmt::format("{}", port), hints, resolved))
        return code;
    for (auto& entry : resolved) {
        auto& slot = entry.family == AF_INET ? addresses->address4 : addresses->address6;
        if (!slot && (entry.family == AF_INET || entry.family == AF_INET6))
            slot = platform::Data(&entry.address, entry.length);
    }
    return 0;
}

int RunLoopUdpSocket::convertForBindHost(const Host& host, uint16_t port, Addresses* addresses) const {
    return convertHost(host, port, true, addresses);
}

int RunLoopUdpSocket::convertForSendHost(const Host& host, uint16_t port, Addresses* addresses) const {
    return convertHost(host, port, false, addresses);
}

void RunLoopUdpSocket::checkUsable(const char* misuse) const {
    if (m_flags & kClosed)
        throw platform::Exception(RunLoopUdpSocketException, "The socket is closed.");
    if (misuse)
        throw platform::Exception(RunLoopUdpSocketException, misuse);
}

// MARK: - Binding

bool RunLoopUdpSocket::bindToPort(uint16_t port, platform::ErrorPtr* errPtr) {
    return bindToAddress(std::nullopt, port, errPtr);
}

bool RunLoopUdpSocket::bindToAddress(const Host& localAddr, uint16_t port, platform::ErrorPtr* errPtr) {
    checkUsable(m_flags & kBound       ? "Cannot bind a socket more than once."
                : m_flags & kConnected ? "Cannot bind after connecting. If needed, bind first, then connect."
                                       : nullptr);
    Addresses addresses;
    if (int code = convertForBindHost(localAddr, port, &addresses)) {
        platform::setError(errPtr, sockets::gaiError(code));
        return false;
    }
    int on = 1;
    for (auto& socket : {m_socket4, m_socket6}) {
        if (socket)
            ::setsockopt(socket->nativeHandle(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (!bindFamilies(addresses, errPtr))
        return false;
    m_flags |= kBound;
    return true;
}

// A family without an address loses its socket; a family with an address needs its socket, unless the
// other family's address was bound.
bool RunLoopUdpSocket::bindFamilies(Addresses& addresses, platform::ErrorPtr* errPtr) {
    auto& address4 = addresses.address4;
    auto& address6 = addresses.address6;
    if (address4 && !m_socket4 && !address6) {
        platform::setError(errPtr, getIPv4UnavailableError());
        return false;
    }
    if (address6 && !m_socket6 && !(address4 && m_socket4)) {
        platform::setError(errPtr, getIPv6UnavailableError());
        return false;
    }
    bool bind4 = address4 && m_socket4;
    if (bind4 && m_socket4->setAddress(*address4) != platform::kCFSocketSuccess) {
        platform::setError(errPtr, getSocketError());
        return false;
    }
    // Port 0 on both families: the IPv6 socket takes the port the system gave the IPv4 one.
    auto bound4 = bind4 ? m_socket4->copyAddress() : std::nullopt;
    if (bound4 && address6 && m_socket6 && sockets::portOf(address6) == 0)
        address6 = withPortOf(*bound4, *address6);
    if (address6 && m_socket6 && m_socket6->setAddress(*address6) != platform::kCFSocketSuccess) {
        platform::setError(errPtr, getSocketError());
        return false;
    }
    if (address6 && !address4)
        closeSocket4();
    if (address4 && !address6)
        closeSocket6();
    return true;
}

// MARK: - Connecting

bool RunLoopUdpSocket::connectToHost(const Host& host, uint16_t port, platform::ErrorPtr* errPtr) {
    checkUsable(m_flags & kConnected ? "Cannot connect a socket more than once." : nullptr);
    Addresses addresses;
    if (int code = convertForSendHost(host, port, &addresses)) {
        platform::setError(errPtr, sockets::gaiError(code));
        return false;
    }
    if (addresses.address4 && (m_socket4 || !addresses.address6))
        return connectFamily(AF_INET, *addresses.address4, errPtr);
    if (addresses.address6)
        return connectFamily(AF_INET6, *addresses.address6, errPtr);
    platform::setError(errPtr, nullptr);
    return false;
}

bool RunLoopUdpSocket::connectToAddress(const platform::Data& remoteAddr, platform::ErrorPtr* errPtr) {
    checkUsable(m_flags & kConnected ? "Cannot connect a socket more than once." : nullptr);
    if (remoteAddr.length() == sizeof(sockaddr_in))
        return connectFamily(AF_INET, remoteAddr, errPtr);
    if (remoteAddr.length() == sizeof(sockaddr_in6))
        return connectFamily(AF_INET6, remoteAddr, errPtr);
    platform::setError(errPtr,
                       udpError(RunLoopUdpSocketBadParameter, "remoteAddr parameter is not a valid address"));
    return false;
}

// A connected socket has one peer: the other family's socket goes.
bool RunLoopUdpSocket::connectFamily(int family, const platform::Data& address, platform::ErrorPtr* errPtr) {
    auto& socket = family == AF_INET ? m_socket4 : m_socket6;
    if (!socket) {
        platform::setError(errPtr, family == AF_INET ? getIPv4UnavailableError() : getIPv6UnavailableError());
        return false;
    }
    if (socket->connectToAddress(address, -1) != platform::kCFSocketSuccess) {
        platform::setError(errPtr, getSocketError());
        return false;
    }
    m_flags |= kConnected;
    if (family == AF_INET)
        closeSocket6();
    else
        closeSocket4();
    return true;
}

// MARK: - Multicast and broadcast

bool RunLoopUdpSocket::joinMulticastGroup(const Host& group, platform::ErrorPtr* errPtr) {
    return joinMulticastGroup(group, std::nullopt, errPtr);
}

bool RunLoopUdpSocket::joinMulticastGroup(const Host& group, const Host& address,
                                          platform::ErrorPtr* errPtr) {
    checkUsable(!(m_flags & kBound)    ? "Must bind a socket before joining a multicast group."
                : m_flags & kConnected ? "Cannot join a multicast group if connected."
                                       : nullptr);
    Addresses interface;
    Addresses groupAddresses;
    for (auto [host, into, name] :
         {std::tuple{&address, &interface, "address"}, std::tuple{&group, &groupAddresses, "group"}}) {
        if (int code = convertForBindHost(*host, 0, into)) {
            platform::setError(errPtr, sockets::makeError(sockets::kCFStreamErrorDomainNetDB, code,
                                                          fmt::format("Invalid parameter '{}': {}", name,
                                                                      platform::Resolver::errorText(code))));
            return false;
        }
    }
    if (groupAddresses.address4 && interface.address4 && m_socket4)
        return joinFamily(AF_INET, groupAddresses, interface, errPtr);
    if (groupAddresses.address6 && interface.address6 && m_socket6)
        return joinFamily(AF_INET6, groupAddresses, interface, errPtr);
    platform::setError(errPtr, udpError(RunLoopUdpSocketBadParameter,
                                        "Invalid group and/or address, not matching existing socket(s)"));
    return false;
}

bool RunLoopUdpSocket::joinFamily(int family, const Addresses& group, const Addresses& interface,
                                  platform::ErrorPtr* errPtr) {
    int result = 0;
    if (family == AF_INET) {
        ip_mreq request{sockets::recordOf<sockaddr_in>(*group.address4)->sin_addr,
                        sockets::recordOf<sockaddr_in>(*interface.address4)->sin_addr};
        result =
            ::setsockopt(m_socket4->nativeHandle(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request);
    } else {
        ipv6_mreq request{sockets::recordOf<sockaddr_in6>(*group.address6)->sin6_addr, 0};
        result =
            ::setsockopt(m_socket6->nativeHandle(), IPPROTO_IPV6, IPV6_JOIN_GROUP, &request, sizeof request);
    }
    if (result != 0) {
        platform::setError(errPtr,
                           sockets::makeError(kCFStreamErrorDomainPOSIX, result,
                                              family == AF_INET ? "Unable to join IPv4 multicast group"
                                                                : "Unable to join IPv6 multicast group"));
        return false;
    }
    if (family == AF_INET)
        closeSocket6();
    else
        closeSocket4();
    return true;
}

bool RunLoopUdpSocket::enableBroadcast(bool flag, platform::ErrorPtr* errPtr) {
    if (!m_socket4)
        return true;
    int value = flag ? 1 : 0;
    int result = ::setsockopt(m_socket4->nativeHandle(), SOL_SOCKET, SO_BROADCAST, &value, sizeof value);
    if (result != 0) {
        platform::setError(errPtr, sockets::makeError(kCFStreamErrorDomainPOSIX, result,
                                                      "Unable to enable broadcast message sending"));
        return false;
    }
    return true;
}
