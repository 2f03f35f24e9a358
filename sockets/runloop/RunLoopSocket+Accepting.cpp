#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/net/Resolver.h"
#include "sockets/common/SocketAddress.h"
#include "sockets/common/SocketErrors.h"
#include "sockets/runloop/RunLoopSocket.h"

#include <arpa/inet.h>
#include <fmt/format.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

// The first address of each family the resolver gives for a listening interface.
void takeFirstOfEachFamily(const std::vector<platform::ResolvedAddress>& resolved, uint16_t port,
                           std::optional<platform::Data>* address4, std::optional<platform::Data>* address6) {
    for (auto& entry : resolved) {
        if (entry.family == AF_INET && !*address4)
            *address4 =
                sockets::makeAddress4(reinterpret_cast<const sockaddr_in*>(&entry.address)->sin_addr, port);
        else if (entry.family == AF_INET6 && !*address6)
            *address6 =
                sockets::makeAddress6(reinterpret_cast<const sockaddr_in6*>(&entry.address)->sin6_addr, port,
                                      reinterpret_cast<const sockaddr_in6*>(&entry.address)->sin6_scope_id);
    }
}

} // namespace

bool RunLoopSocket::acceptOnPort(uint16_t port, platform::ErrorPtr* errPtr) {
    return acceptOnInterface(std::nullopt, port, errPtr);
}

bool RunLoopSocket::acceptOnInterface(const std::optional<std::string>& interface, uint16_t port,
                                      platform::ErrorPtr* errPtr) {
    checkCanStart("accept");
    emptyQueues();
    ListenAddresses addresses;
    if (!listenAddresses(interface, port, &addresses, errPtr))
        return false;
    platform::ErrorPtr err;
    if (!createAcceptSockets(addresses, &err) || !attachSocketsToRunLoop(nullptr, &err) ||
        !bindAcceptSockets(addresses)) {
        closeSockets();
        m_binding.unbind();
        platform::setError(errPtr, getSocketError());
        return false;
    }
    m_flags |= kStarted;
    return true;
}

void RunLoopSocket::checkCanStart(const char* action) const {
    if (!m_delegate)
        throw platform::Exception(
            RunLoopSocketException,
            fmt::format("Attempting to {} without a delegate. Set a delegate first.", action));
    if (!isDisconnected())
        throw platform::Exception(
            RunLoopSocketException,
            fmt::format("Attempting to {} while connected or accepting connections. Disconnect first.",
                        action));
}

bool RunLoopSocket::listenAddresses(const std::optional<std::string>& interface, uint16_t port,
                                    ListenAddresses* addresses, platform::ErrorPtr* errPtr) {
    if (!interface || interface->empty()) {
        addresses->address4 = sockets::makeAddress4(in_addr{htonl(INADDR_ANY)}, port);
        addresses->address6 = sockets::makeAddress6(in6addr_any, port);
        return true;
    }
    if (*interface == "localhost" || *interface == "loopback") {
        addresses->address4 = sockets::makeAddress4(in_addr{htonl(INADDR_LOOPBACK)}, port);
        addresses->address6 = sockets::makeAddress6(in6addr_loopback, port);
        return true;
    }
    std::vector<platform::ResolvedAddress> resolved;
    platform::ResolveHints hints{AF_UNSPEC, SOCK_STREAM, AI_PASSIVE};
    int code = platform::Resolver::current()->resolve(*interface, fmt::format("{}", port), hints, resolved);
    if (code != 0) {
        platform::setError(errPtr, sockets::gaiError(code));
        return false;
    }
    takeFirstOfEachFamily(resolved, port, &addresses->address4, &addresses->address6);
    if (!addresses->address4 && !addresses->address6) {
        platform::setError(errPtr, nullptr);
        return false;
    }
    return true;
}

// An IPv6 socket that cannot be made leaves the IPv4 one listening alone.
bool RunLoopSocket::createAcceptSockets(ListenAddresses& addresses, platform::ErrorPtr* errPtr) {
    if (addresses.address4 && !(m_socket4 = newAcceptSocketForAddress(*addresses.address4, errPtr)))
        return false;
    if (addresses.address6 && !(m_socket6 = newAcceptSocketForAddress(*addresses.address6, errPtr)))
        addresses.address6.reset();
    return m_socket4 || m_socket6;
}

platform::CFSocketPtr RunLoopSocket::newAcceptSocketForAddress(const platform::Data& addr,
                                                               platform::ErrorPtr* errPtr) {
    int family = sockets::isIPv4Address(addr) ? AF_INET : AF_INET6;
    auto socket = platform::CFSocket::create(family, SOCK_STREAM, 0, platform::kCFSocketAcceptCallBack,
                                             &RunLoopSocket::cfSocketCallback, this);
    if (!socket) {
        platform::setError(errPtr, getSocketError());
        return nullptr;
    }
    int on = 1;
    ::setsockopt(socket->nativeHandle(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // IPv6 only, so the IPv4 socket can listen on the same port.
    if (family == AF_INET6)
        ::setsockopt(socket->nativeHandle(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    return socket;
}

bool RunLoopSocket::attachSocketsToRunLoop(const RunLoopPtr& runLoop, platform::ErrorPtr*) {
    m_binding.bind(runLoop ? runLoop : platform::RunLoop::current());
    for (auto [socket, source] : {std::pair{&m_socket4, &m_source4}, std::pair{&m_socket6, &m_source6}}) {
        if (!*socket)
            continue;
        *source = (*socket)->createRunLoopSource();
        runLoopAddSource(*source);
    }
    return true;
}

// Port 0 on both families: the IPv6 socket takes the port the system gave the IPv4 one.
bool RunLoopSocket::bindAcceptSockets(ListenAddresses& addresses) {
    if (m_socket4 && m_socket4->setAddress(*addresses.address4) != platform::kCFSocketSuccess)
        return false;
    if (m_socket4 && m_socket6 && portOf(addresses.address6) == 0)
        addresses.address6 = sockets::withPort(*addresses.address6, localPortFromCFSocket4(m_socket4));
    return !m_socket6 || m_socket6->setAddress(*addresses.address6) == platform::kCFSocketSuccess;
}

// MARK: - Accepting

void RunLoopSocket::doAcceptFromSocket(platform::CFSocket& parentSocket,
                                       platform::CFSocketNativeHandle newNativeSocket) {
    if (newNativeSocket < 0)
        return;
    auto newSocket = RunLoopSocket::create(m_delegate);
    newSocket->setRunLoopModes(m_binding.modes());
    platform::ErrorPtr err;
    if (!newSocket->createStreamsFromNative(newNativeSocket, &err)) {
        platform::logMessage(fmt::format("RunLoopSocket {} couldn't create streams from accepted socket: {}",
                                         fmt::ptr(this), err ? err->description() : "(null)"));
        ::close(newNativeSocket); // no stream took it
        return;
    }
    auto& native = &parentSocket == m_socket4.get() ? newSocket->m_nativeSocket4 : newSocket->m_nativeSocket6;
    native = newNativeSocket;
    tellDelegate("onSocket:didAcceptNewSocket:",
                 [&](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                     delegate.onSocketDidAcceptNewSocket(sock, newSocket);
                 });
    newSocket->m_flags |= kStarted;
    auto runLoop =
        askDelegate<RunLoopPtr>("onSocket:wantsRunLoopForNewSocket:", nullptr,
                                [&](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                                    return delegate.onSocketWantsRunLoopForNewSocket(sock, newSocket);
                                });
    if (!newSocket->startAcceptedSocket(runLoop))
        newSocket->close();
}

bool RunLoopSocket::startAcceptedSocket(const RunLoopPtr& runLoop) {
    platform::ErrorPtr err;
    return attachStreamsToRunLoop(runLoop, &err) && configureStreamsAndReturnError(&err) &&
           openStreamsAndReturnError(&err);
}
