// The datagram sockets and their sources, host resolution and family choice, binding, connecting,
// multicast membership, the two socket options, and the address and state queries.
#include "platform/net/NetworkInterfaces.h"
#include "platform/net/Resolver.h"
#include "sockets/common/SocketAddress.h"
#include "sockets/queue/QueueUdpSocket.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

using platform::Data;
using platform::DispatchSource;
using platform::ErrorPtr;

namespace {

template <typename Record> Record recordOf(const Data& address) {
    Record record{};
    std::memcpy(&record, address.bytes(), std::min(sizeof record, address.length()));
    return record;
}

Data addressFrom(const sockaddr_storage& storage, socklen_t length) {
    return Data(&storage, length);
}

} // namespace

// ---- Socket creation and sources ----

bool QueueUdpSocket::createSocket4(bool useIPv4, bool useIPv6, ErrorPtr* errPtr) {
    auto createSocket = [&](int domain) -> int {
        int socketFD = ::socket(domain, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (socketFD == -1) {
            if (errPtr)
                *errPtr = errnoErrorWithReason("Error in socket() function");
            return -1;
        }
        auto fail = [&](const char* reason) {
            ErrorPtr error = errnoErrorWithReason(reason);
            ::close(socketFD);
            if (errPtr)
                *errPtr = error;
            return -1;
        };
        int flags = ::fcntl(socketFD, F_GETFL, 0);
        if (flags == -1 || ::fcntl(socketFD, F_SETFL, flags | O_NONBLOCK) == -1)
            return fail("Error enabling non-blocking IO on socket (fcntl)");
        int on = 1;
        if (::setsockopt(socketFD, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == -1)
            return fail("Error enabling address reuse (setsockopt)");
        // Each family has its own socket: an IPv6 socket that also took IPv4 traffic would steal the IPv4
        // socket's datagrams and collide with its port. (No SIGPIPE option here: sends pass MSG_NOSIGNAL.)
        if (domain == AF_INET6 && ::setsockopt(socketFD, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) == -1)
            return fail("Error restricting the socket to IPv6 (setsockopt)");
        return socketFD;
    };

    if (useIPv4) {
        m_socket4FD = createSocket(AF_INET);
        if (m_socket4FD == -1)
            return false;
    }
    if (useIPv6) {
        m_socket6FD = createSocket(AF_INET6);
        if (m_socket6FD == -1) {
            if (m_socket4FD != -1) {
                ::close(m_socket4FD);
                m_socket4FD = -1;
            }
            return false;
        }
    }
    if (useIPv4)
        setupSendAndReceiveSources(true);
    if (useIPv6)
        setupSendAndReceiveSources(false);
    m_flags |= UdpFlagSocketsOpen;
    return true;
}

bool QueueUdpSocket::createSockets(ErrorPtr* errPtr) {
    bool useIPv4 = (m_config & UdpConfigIPv4Disabled) == 0;
    bool useIPv6 = (m_config & UdpConfigIPv6Disabled) == 0;
    return createSocket4(useIPv4, useIPv6, errPtr);
}

void QueueUdpSocket::setupSendAndReceiveSources(bool ipv4) {
    int socketFD = ipv4 ? m_socket4FD : m_socket6FD;
    auto sendSource = DispatchSource::createWrite(socketFD, m_socketQueue);
    auto receiveSource = DispatchSource::createRead(socketFD, m_socketQueue);

    std::weak_ptr<QueueUdpSocket> weak = self();
    uint32_t writableBit = ipv4 ? UdpFlagSocket4Writable : UdpFlagSocket6Writable;
    sendSource->setEventHandler([weak, ipv4, writableBit] {
        auto socket = weak.lock();
        if (!socket)
            return;
        socket->m_flags |= writableBit;
        // The source only watches while a datagram waits for room; a UDP socket is nearly always
        // writable, so leaving it resumed would fire without end.
        socket->suspendSendSource(ipv4);
        auto packet = socket->currentSendPacket();
        if (packet && !packet->resolveInProgress && !packet->filterInProgress)
            socket->doSend();
    });
    std::weak_ptr<DispatchSource> weakReceiveSource = receiveSource;
    receiveSource->setEventHandler([weak, weakReceiveSource, ipv4] {
        auto socket = weak.lock();
        auto source = weakReceiveSource.lock();
        if (socket && source)
            socket->readSourceFired(ipv4, source->data());
    });

    // Whichever source finishes cancelling last closes the descriptor, so it is closed once.
    auto socketFDRefCount = std::make_shared<std::atomic<int>>(2);
    auto cancelHandler = [socketFDRefCount, socketFD] {
        if (--*socketFDRefCount == 0)
            ::close(socketFD);
    };
    sendSource->setCancelHandler(cancelHandler);
    receiveSource->setCancelHandler(cancelHandler);

    if (ipv4) {
        m_send4Source = std::move(sendSource);
        m_receive4Source = std::move(receiveSource);
        m_socket4FDBytesAvailable = 0;
        m_flags |= UdpFlagSend4Suspended | UdpFlagReceive4Suspended | UdpFlagSocket4Writable;
    } else {
        m_send6Source = std::move(sendSource);
        m_receive6Source = std::move(receiveSource);
        m_socket6FDBytesAvailable = 0;
        m_flags |= UdpFlagSend6Suspended | UdpFlagReceive6Suspended | UdpFlagSocket6Writable;
    }
}

void QueueUdpSocket::suspendSendSource(bool ipv4) {
    auto& source = ipv4 ? m_send4Source : m_send6Source;
    uint32_t bit = ipv4 ? UdpFlagSend4Suspended : UdpFlagSend6Suspended;
    if (source && !(m_flags & bit)) {
        source->suspend();
        m_flags |= bit;
    }
}

void QueueUdpSocket::resumeSendSource(bool ipv4) {
    auto& source = ipv4 ? m_send4Source : m_send6Source;
    uint32_t bit = ipv4 ? UdpFlagSend4Suspended : UdpFlagSend6Suspended;
    if (source && (m_flags & bit)) {
        source->resume();
        m_flags &= ~bit;
    }
}

void QueueUdpSocket::suspendReceiveSource(bool ipv4) {
    auto& source = ipv4 ? m_receive4Source : m_receive6Source;
    uint32_t bit = ipv4 ? UdpFlagReceive4Suspended : UdpFlagReceive6Suspended;
    if (source && !(m_flags & bit)) {
        source->suspend();
        m_flags |= bit;
    }
}

void QueueUdpSocket::resumeReceiveSource(bool ipv4) {
    auto& source = ipv4 ? m_receive4Source : m_receive6Source;
    uint32_t bit = ipv4 ? UdpFlagReceive4Suspended : UdpFlagReceive6Suspended;
    if (source && (m_flags & bit)) {
        source->resume();
        m_flags &= ~bit;
    }
}

void QueueUdpSocket::closeSocket(bool ipv4) {
    int& socketFD = ipv4 ? m_socket4FD : m_socket6FD;
    if (socketFD == -1)
        return;
    auto& sendSource = ipv4 ? m_send4Source : m_send6Source;
    auto& receiveSource = ipv4 ? m_receive4Source : m_receive6Source;
    if (sendSource)
        sendSource->cancel();
    if (receiveSource)
        receiveSource->cancel();
    // A suspended source never runs its cancel handler, which is what closes the descriptor.
    resumeSendSource(ipv4);
    resumeReceiveSource(ipv4);
    sendSource.reset();
    receiveSource.reset();
    socketFD = -1;
    if (ipv4) {
        m_socket4FDBytesAvailable = 0;
        m_flags &= ~(UdpFlagSocket4Writable | UdpFlagSend4Suspended | UdpFlagReceive4Suspended);
        m_cachedLocal4 = {};
    } else {
        m_socket6FDBytesAvailable = 0;
        m_flags &= ~(UdpFlagSocket6Writable | UdpFlagSend6Suspended | UdpFlagReceive6Suspended);
        m_cachedLocal6 = {};
    }
}

void QueueUdpSocket::closeSockets() {
    closeSocket(true);
    closeSocket(false);
    m_flags &= ~UdpFlagSocketsOpen;
}

// ---- Resolution and family choice ----

void QueueUdpSocket::asyncResolveHost(const std::optional<std::string>& host, uint16_t port,
                                      std::function<void(QueueUdpSocket&, Addresses, ErrorPtr)> completion) {
    std::weak_ptr<QueueUdpSocket> weak = self();
    auto socketQueue = m_socketQueue;
    auto finish = [weak, socketQueue, completion](Addresses addresses, ErrorPtr error) {
        socketQueue->async([weak, completion, addresses = std::move(addresses), error] {
            if (auto socket = weak.lock())
                completion(*socket, addresses, error);
        });
    };
    if (!host) {
        finish({}, badParamError("The host param is nil. Should be domain name or IP address string."));
        return;
    }
    platform::DispatchQueue::global()->async([host = *host, port, finish] {
        Addresses addresses;
        if (host == "localhost" || host == "loopback") {
            in_addr loop4{};
            loop4.s_addr = htonl(INADDR_LOOPBACK);
            addresses.push_back(sockets::makeAddress4(loop4, port));
            addresses.push_back(sockets::makeAddress6(in6addr_loopback, port));
            finish(std::move(addresses), nullptr);
            return;
        }
        platform::ResolveHints hints;
        hints.family = AF_UNSPEC;
        hints.socketType = SOCK_DGRAM;
        std::vector<platform::ResolvedAddress> results;
        int status = platform::Resolver::current()->resolve(host, std::to_string(port), hints, results);
        if (status != 0) {
            finish({}, gaiError(status));
            return;
        }
        for (const auto& result : results) {
            if (result.family == AF_INET || result.family == AF_INET6)
                addresses.push_back(addressFrom(result.address, result.length));
        }
        ErrorPtr error = addresses.empty() ? gaiError(EAI_FAIL) : nullptr;
        finish(std::move(addresses), error);
    });
}

int QueueUdpSocket::getAddress(std::optional<Data>* addressPtr, ErrorPtr* errorPtr,
                               const Addresses& addresses) const {
    const Data* first4 = nullptr;
    const Data* first6 = nullptr;
    bool ipv4First = false;
    for (const auto& address : addresses) {
        if (!first4 && sockets::isCompleteIPv4Address(address)) {
            first4 = &address;
            ipv4First = !first6;
        } else if (!first6 && sockets::isCompleteIPv6Address(address)) {
            first6 = &address;
        }
    }
    auto fail = [&](const char* text) {
        if (errorPtr)
            *errorPtr = otherError(text);
        if (addressPtr)
            addressPtr->reset();
        return 0;
    };
    if ((m_config & UdpConfigIPv4Disabled) && !first6)
        return fail("IPv4 has been disabled and DNS lookup found no IPv6 address(es).");
    if ((m_config & UdpConfigIPv6Disabled) && !first4)
        return fail("IPv6 has been disabled and DNS lookup found no IPv4 address(es).");
    if ((m_flags & UdpFlagIPv4Deactivated) && !first6)
        return fail(
            "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).");
    if ((m_flags & UdpFlagIPv6Deactivated) && !first4)
        return fail(
            "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 address(es).");

    // A family that is disabled or deactivated is never chosen while the other one is at hand.
    bool ipv4Usable = first4 && !(m_config & UdpConfigIPv4Disabled) && !(m_flags & UdpFlagIPv4Deactivated);
    bool ipv6Usable = first6 && !(m_config & UdpConfigIPv6Disabled) && !(m_flags & UdpFlagIPv6Deactivated);
    bool useIPv4;
    if ((m_config & UdpConfigPreferIPv4) && ipv4Usable)
        useIPv4 = true;
    else if (!ipv6Usable)
        useIPv4 = true;
    else if ((m_config & UdpConfigPreferIPv6) || !ipv4Usable)
        useIPv4 = false;
    else
        useIPv4 = ipv4First;
    if (addressPtr)
        *addressPtr = useIPv4 ? *first4 : *first6;
    if (errorPtr)
        *errorPtr = nullptr;
    return useIPv4 ? AF_INET : AF_INET6;
}

void QueueUdpSocket::convertNumericHost(const std::string& numericHost, uint16_t port,
                                        std::optional<Data>* addr4Ptr, std::optional<Data>* addr6Ptr) {
    addr4Ptr->reset();
    addr6Ptr->reset();
    platform::ResolveHints hints;
    hints.family = AF_UNSPEC;
    hints.socketType = SOCK_DGRAM;
    hints.flags = AI_NUMERICHOST;
    std::vector<platform::ResolvedAddress> results;
    if (platform::Resolver::current()->resolve(numericHost, std::to_string(port), hints, results) != 0)
        return;
    for (const auto& result : results) {
        if (result.family == AF_INET && !*addr4Ptr)
            *addr4Ptr = addressFrom(result.address, result.length);
        else if (result.family == AF_INET6 && !*addr6Ptr)
            *addr6Ptr = addressFrom(result.address, result.length);
    }
}

bool QueueUdpSocket::isConnectedToAddress4(const Data& someAddr4) const {
    if (m_cachedConnectedFamily != AF_INET || !m_cachedConnected.address ||
        !sockets::isCompleteIPv4Address(someAddr4))
        return false;
    auto a = recordOf<sockaddr_in>(someAddr4);
    auto b = recordOf<sockaddr_in>(*m_cachedConnected.address);
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

bool QueueUdpSocket::isConnectedToAddress6(const Data& someAddr6) const {
    if (m_cachedConnectedFamily != AF_INET6 || !m_cachedConnected.address ||
        !sockets::isCompleteIPv6Address(someAddr6))
        return false;
    auto a = recordOf<sockaddr_in6>(someAddr6);
    auto b = recordOf<sockaddr_in6>(*m_cachedConnected.address);
    return std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0 && a.sin6_port == b.sin6_port;
}

unsigned QueueUdpSocket::indexOfInterfaceAddr6(const Data& interfaceAddr6) {
    if (!sockets::isCompleteIPv6Address(interfaceAddr6))
        return 0;
    auto record = recordOf<sockaddr_in6>(interfaceAddr6);
    auto listing = platform::NetworkInterfaces::list();
    if (!listing)
        return 0;
    for (const auto& entry : *listing) {
        if (entry.family == AF_INET6 && entry.holds(reinterpret_cast<const sockaddr*>(&record)))
            return ::if_nametoindex(entry.systemName.c_str());
    }
    return 0;
}

// ---- Binding ----

bool QueueUdpSocket::preBind(ErrorPtr* errPtr) const {
    if (!preOp(errPtr))
        return false;
    auto fail = [&](const char* text) {
        if (errPtr)
            *errPtr = badConfigError(text);
        return false;
    };
    // A finished connect also binds: naming the connect tells the caller more.
    if (m_flags & (UdpFlagConnectPending | UdpFlagConnected))
        return fail("Cannot bind after connecting. If needed, bind first, then connect.");
    if (m_flags & UdpFlagBound)
        return fail("Cannot bind a socket more than once.");
    if ((m_config & UdpConfigIPv4Disabled) && (m_config & UdpConfigIPv6Disabled))
        return fail("Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
    return true;
}

bool QueueUdpSocket::bindToPort(uint16_t port, ErrorPtr* errPtr) {
    return bindToPort(port, std::nullopt, errPtr);
}

bool QueueUdpSocket::bindToPort(uint16_t port, const std::optional<std::string>& interface,
                                ErrorPtr* errPtr) {
    bool result = false;
    ErrorPtr err;
    runOnSocketQueue([&] {
        if (!preBind(&err))
            return;
        auto addresses = sockets::interfaceAddresses(interface.value_or(""), port);
        if (interface && interface->empty())
            addresses = {};
        if (!addresses.address4 && !addresses.address6) {
            err = badParamError(
                "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
            return;
        }
        bool ipv4Disabled = m_config & UdpConfigIPv4Disabled;
        bool ipv6Disabled = m_config & UdpConfigIPv6Disabled;
        if (ipv4Disabled && !addresses.address6) {
            err = badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
            return;
        }
        if (ipv6Disabled && !addresses.address4) {
            err = badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
            return;
        }
        bool useIPv4 = !ipv4Disabled && addresses.address4;
        bool useIPv6 = !ipv6Disabled && addresses.address6;
        if (!(m_flags & UdpFlagSocketsOpen) && !createSocket4(useIPv4, useIPv6, &err))
            return;
        auto bindOne = [&](int socketFD, const Data& address) {
            if (::bind(socketFD, reinterpret_cast<const sockaddr*>(address.bytes()),
                       static_cast<socklen_t>(address.length())) == 0)
                return true;
            err = errnoErrorWithReason("Error in bind() function");
            closeSockets();
            return false;
        };
        if (useIPv4 && m_socket4FD != -1 && !bindOne(m_socket4FD, *addresses.address4))
            return;
        if (useIPv6 && m_socket6FD != -1 && !bindOne(m_socket6FD, *addresses.address6))
            return;
        m_flags |= UdpFlagBound;
        if (!useIPv4)
            m_flags |= UdpFlagIPv4Deactivated;
        if (!useIPv6)
            m_flags |= UdpFlagIPv6Deactivated;
        result = true;
    });
    if (errPtr)
        *errPtr = err;
    return result;
}

bool QueueUdpSocket::bindToAddress(const Data& localAddr, ErrorPtr* errPtr) {
    bool result = false;
    ErrorPtr err;
    runOnSocketQueue([&] {
        if (!preBind(&err))
            return;
        int family = familyFromAddress(localAddr);
        if (family == 0) {
            err = badParamError("A valid IPv4 or IPv6 address was not given");
            return;
        }
        bool useIPv4 = family == AF_INET;
        bool useIPv6 = family == AF_INET6;
        if (useIPv4 && (m_config & UdpConfigIPv4Disabled)) {
            err = badParamError("IPv4 has been disabled and an IPv4 address was passed.");
            return;
        }
        if (useIPv6 && (m_config & UdpConfigIPv6Disabled)) {
            err = badParamError("IPv6 has been disabled and an IPv6 address was passed.");
            return;
        }
        if (!(m_flags & UdpFlagSocketsOpen) && !createSocket4(useIPv4, useIPv6, &err))
            return;
        int socketFD = useIPv4 ? m_socket4FD : m_socket6FD;
        if (socketFD == -1 || ::bind(socketFD, reinterpret_cast<const sockaddr*>(localAddr.bytes()),
                                     static_cast<socklen_t>(localAddr.length())) != 0) {
            if (socketFD == -1)
                errno = EAFNOSUPPORT;
            err = errnoErrorWithReason("Error in bind() function");
            closeSockets();
            return;
        }
        m_flags |= UdpFlagBound;
        if (!useIPv4)
            m_flags |= UdpFlagIPv4Deactivated;
        if (!useIPv6)
            m_flags |= UdpFlagIPv6Deactivated;
        result = true;
    });
    if (errPtr)
        *errPtr = err;
    return result;
}

// ---- Connecting ----

bool QueueUdpSocket::preConnect(ErrorPtr* errPtr) const {
    if (!preOp(errPtr))
        return false;
    if (m_flags & (UdpFlagConnectPending | UdpFlagConnected)) {
        if (errPtr)
            *errPtr = badConfigError("Cannot connect a socket more than once.");
        return false;
    }
    if ((m_config & UdpConfigIPv4Disabled) && (m_config & UdpConfigIPv6Disabled)) {
        if (errPtr)
            *errPtr = badConfigError(
                "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
        return false;
    }
    return true;
}

bool QueueUdpSocket::connectToHost(const std::optional<std::string>& host, uint16_t port, ErrorPtr* errPtr) {
    bool result = false;
    ErrorPtr err;
    runOnSocketQueue([&] {
        if (!preConnect(&err))
            return;
        if (!host) {
            err = badParamError("The host param is nil. Should be domain name or IP address string.");
            return;
        }
        if (!(m_flags & UdpFlagSocketsOpen) && !createSockets(&err))
            return;
        auto packet = std::make_shared<QueueUdpSpecialPacket>();
        packet->resolveInProgress = true;
        asyncResolveHost(host, port, [packet](QueueUdpSocket& socket, Addresses addresses, ErrorPtr error) {
            packet->resolveInProgress = false;
            packet->addresses = std::move(addresses);
            packet->error = error;
            // A request dropped by a close keeps its answer to itself.
            if (socket.m_currentSend == packet)
                socket.maybeConnect();
        });
        m_flags |= UdpFlagConnectPending;
        m_sendQueue.push_back(packet);
        maybeDequeueSend();
        result = true;
    });
    if (errPtr)
        *errPtr = err;
    return result;
}

bool QueueUdpSocket::connectToAddress(const std::optional<Data>& remoteAddr, ErrorPtr* errPtr) {
    bool result = false;
    ErrorPtr err;
    runOnSocketQueue([&] {
        if (!preConnect(&err))
            return;
        if (!remoteAddr) {
            err = badParamError("The address param is nil. Should be a valid address.");
            return;
        }
        if (!(m_flags & UdpFlagSocketsOpen) && !createSockets(&err))
            return;
        auto packet = std::make_shared<QueueUdpSpecialPacket>();
        packet->addresses = {*remoteAddr};
        m_flags |= UdpFlagConnectPending;
        m_sendQueue.push_back(packet);
        maybeDequeueSend();
        result = true;
    });
    if (errPtr)
        *errPtr = err;
    return result;
}

void QueueUdpSocket::maybeConnect() {
    auto packet = std::dynamic_pointer_cast<QueueUdpSpecialPacket>(m_currentSend);
    if (!packet || packet->resolveInProgress)
        return;
    if (packet->error) {
        notifyDidNotConnect(packet->error);
    } else {
        std::optional<Data> address;
        ErrorPtr error;
        int family = getAddress(&address, &error, packet->addresses);
        if (family != 0 && connectWithAddress(*address, family == AF_INET, &error)) {
            m_flags |= UdpFlagBound | UdpFlagConnected;
            m_cachedConnected = AddressInfo::of(*address);
            m_cachedConnectedFamily = family;
            notifyDidConnectToAddress(*address);
        } else {
            notifyDidNotConnect(error);
        }
    }
    m_flags &= ~UdpFlagConnectPending;
    endCurrentSend();
    maybeDequeueSend();
}

bool QueueUdpSocket::connectWithAddress(const Data& address, bool ipv4, ErrorPtr* errPtr) {
    int socketFD = ipv4 ? m_socket4FD : m_socket6FD;
    if (socketFD == -1) {
        errno = EAFNOSUPPORT;
        if (errPtr)
            *errPtr = errnoErrorWithReason("Error in connect() function");
        return false;
    }
    if (::connect(socketFD, reinterpret_cast<const sockaddr*>(address.bytes()),
                  static_cast<socklen_t>(address.length())) != 0) {
        if (errPtr)
            *errPtr = errnoErrorWithReason("Error in connect() function");
        return false;
    }
    closeSocket(!ipv4);
    m_flags |= ipv4 ? UdpFlagIPv6Deactivated : UdpFlagIPv4Deactivated;
    return true;
}

// ---- Multicast and options ----

bool QueueUdpSocket::preJoin(ErrorPtr* errPtr) const {
    if (!preOp(errPtr))
        return false;
    if (!(m_flags & UdpFlagBound)) {
        if (errPtr)
            *errPtr = badConfigError("Must bind a socket before joining a multicast group.");
        return false;
    }
    if (m_flags & (UdpFlagConnectPending | UdpFlagConnected)) {
        if (errPtr)
            *errPtr = badConfigError("Cannot join a multicast group if connected.");
        return false;
    }
    return true;
}

bool QueueUdpSocket::joinMulticastGroup(const std::string& group, ErrorPtr* errPtr) {
    return joinMulticastGroup(group, std::nullopt, errPtr);
}

bool QueueUdpSocket::joinMulticastGroup(const std::string& group, const std::optional<std::string>& interface,
                                        ErrorPtr* errPtr) {
    return performMulticastRequest(true, group, interface, errPtr);
}

bool QueueUdpSocket::leaveMulticastGroup(const std::string& group, ErrorPtr* errPtr) {
    return leaveMulticastGroup(group, std::nullopt, errPtr);
}

bool QueueUdpSocket::leaveMulticastGroup(const std::string& group,
                                         const std::optional<std::string>& interface, ErrorPtr* errPtr) {
    return performMulticastRequest(false, group, interface, errPtr);
}

bool QueueUdpSocket::performMulticastRequest(bool join, const std::string& group,
                                             const std::optional<std::string>& interface, ErrorPtr* errPtr) {
    bool result = false;
    ErrorPtr err;
    runOnSocketQueue([&] {
        if (!preJoin(&err))
            return;
        std::optional<Data> group4, group6;
        convertNumericHost(group, 0, &group4, &group6);
        if (!group4 && !group6) {
            err = badParamError("Unknown group. Specify valid group IP address.");
            return;
        }
        auto interfaces = sockets::interfaceAddresses(interface.value_or(""), 0);
        if (interface && interface->empty())
            interfaces = {};
        if (!interfaces.address4 && !interfaces.address6) {
            err = badParamError(
                "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
            return;
        }
        if (group4 && interfaces.address4 && m_socket4FD != -1) {
            ip_mreq request{};
            request.imr_multiaddr = recordOf<sockaddr_in>(*group4).sin_addr;
            request.imr_interface = recordOf<sockaddr_in>(*interfaces.address4).sin_addr;
            int option = join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP;
            if (::setsockopt(m_socket4FD, IPPROTO_IP, option, &request, sizeof request) != 0) {
                err = errnoErrorWithReason("Error in setsockopt() function");
                return;
            }
            closeSocket(false);
            result = true;
        } else if (group6 && interfaces.address6 && m_socket6FD != -1) {
            ipv6_mreq request{};
            request.ipv6mr_multiaddr = recordOf<sockaddr_in6>(*group6).sin6_addr;
            request.ipv6mr_interface = indexOfInterfaceAddr6(*interfaces.address6);
            int option = join ? IPV6_JOIN_GROUP : IPV6_LEAVE_GROUP;
            if (::setsockopt(m_socket6FD, IPPROTO_IPV6, option, &request, sizeof request) != 0) {
                err = errnoErrorWithReason("Error in setsockopt() function");
                return;
            }
            closeSocket(true);
            result = true;
        } else {
            err = badParamError("Socket, group, and interface do not have matching IP versions");
        }
    });
    if (errPtr)
        *errPtr = err;
    return result;
}

bool QueueUdpSocket::enableReusePort(bool flag, ErrorPtr* errPtr) {
    bool result = false;
    ErrorPtr err;
    runOnSocketQueue([&] {
        if (!preOp(&err))
            return;
        if (!(m_flags & UdpFlagSocketsOpen) && !createSockets(&err))
            return;
        int value = flag ? 1 : 0;
        for (int socketFD : {m_socket4FD, m_socket6FD}) {
            if (socketFD == -1)
                continue;
            if (::setsockopt(socketFD, SOL_SOCKET, SO_REUSEPORT, &value, sizeof value) != 0) {
                err = errnoErrorWithReason("Error in setsockopt() function");
                result = false;
                return;
            }
            result = true;
        }
    });
    if (errPtr)
        *errPtr = err;
    return result;
}

bool QueueUdpSocket::enableBroadcast(bool flag, ErrorPtr* errPtr) {
    bool result = false;
    ErrorPtr err;
    runOnSocketQueue([&] {
        if (!preOp(&err))
            return;
        if (!(m_flags & UdpFlagSocketsOpen) && !createSockets(&err))
            return;
        if (m_socket4FD == -1)
            return;
        int value = flag ? 1 : 0;
        if (::setsockopt(m_socket4FD, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
            err = errnoErrorWithReason("Error in setsockopt() function");
            return;
        }
        result = true;
    });
    if (errPtr)
        *errPtr = err;
    return result;
}

// ---- Queries ----

void QueueUdpSocket::maybeUpdateCachedLocalAddressInfo(bool ipv4) const {
    AddressInfo& cache = ipv4 ? m_cachedLocal4 : m_cachedLocal6;
    int socketFD = ipv4 ? m_socket4FD : m_socket6FD;
    if (cache.address || !(m_flags & UdpFlagBound) || socketFD == -1)
        return;
    sockaddr_storage storage{};
    socklen_t length = ipv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (::getsockname(socketFD, reinterpret_cast<sockaddr*>(&storage), &length) != 0 ||
        storage.ss_family != (ipv4 ? AF_INET : AF_INET6))
        return;
    cache = AddressInfo::of(addressFrom(storage, length));
}

void QueueUdpSocket::maybeUpdateCachedConnectedAddressInfo() const {
    if (m_cachedConnected.address || !(m_flags & UdpFlagConnected))
        return;
    int socketFD = m_socket4FD != -1 ? m_socket4FD : m_socket6FD;
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (socketFD == -1 || ::getpeername(socketFD, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        m_cachedConnectedFamily = 0;
        return;
    }
    Data address = addressFrom(storage, length);
    m_cachedConnected = AddressInfo::of(address);
    m_cachedConnectedFamily = familyFromAddress(address);
}

QueueUdpSocket::AddressInfo QueueUdpSocket::AddressInfo::of(const Data& address) {
    return AddressInfo{address, hostFromAddress(address), portFromAddress(address)};
}

QueueUdpSocket::AddressInfo QueueUdpSocket::localInfo(std::optional<bool> ipv4) const {
    AddressInfo result;
    runOnSocketQueue([&] {
        bool family4 = ipv4.value_or(m_socket4FD != -1);
        maybeUpdateCachedLocalAddressInfo(family4);
        result = family4 ? m_cachedLocal4 : m_cachedLocal6;
    });
    return result;
}

QueueUdpSocket::AddressInfo QueueUdpSocket::connectedInfo() const {
    AddressInfo result;
    runOnSocketQueue([&] {
        maybeUpdateCachedConnectedAddressInfo();
        result = m_cachedConnected;
    });
    return result;
}

std::optional<Data> QueueUdpSocket::localAddress() const {
    return localInfo(std::nullopt).address;
}

std::optional<std::string> QueueUdpSocket::localHost() const {
    return localInfo(std::nullopt).host;
}

uint16_t QueueUdpSocket::localPort() const {
    return localInfo(std::nullopt).port;
}

std::optional<Data> QueueUdpSocket::localAddress_IPv4() const {
    return localInfo(true).address;
}

std::optional<std::string> QueueUdpSocket::localHost_IPv4() const {
    return localInfo(true).host;
}

uint16_t QueueUdpSocket::localPort_IPv4() const {
    return localInfo(true).port;
}

std::optional<Data> QueueUdpSocket::localAddress_IPv6() const {
    return localInfo(false).address;
}

std::optional<std::string> QueueUdpSocket::localHost_IPv6() const {
    return localInfo(false).host;
}

uint16_t QueueUdpSocket::localPort_IPv6() const {
    return localInfo(false).port;
}

std::optional<Data> QueueUdpSocket::connectedAddress() const {
    return connectedInfo().address;
}

std::optional<std::string> QueueUdpSocket::connectedHost() const {
    return connectedInfo().host;
}

uint16_t QueueUdpSocket::connectedPort() const {
    return connectedInfo().port;
}

bool QueueUdpSocket::isConnected() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_flags & UdpFlagConnected) != 0; });
    return result;
}

bool QueueUdpSocket::isClosed() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_flags & UdpFlagSocketsOpen) == 0; });
    return result;
}

bool QueueUdpSocket::isIPv4() const {
    bool result = false;
    runOnSocketQueue([&] {
        result = (m_flags & UdpFlagSocketsOpen) ? m_socket4FD != -1 : (m_config & UdpConfigIPv4Disabled) == 0;
    });
    return result;
}

bool QueueUdpSocket::isIPv6() const {
    bool result = false;
    runOnSocketQueue([&] {
        result = (m_flags & UdpFlagSocketsOpen) ? m_socket6FD != -1 : (m_config & UdpConfigIPv6Disabled) == 0;
    });
    return result;
}
