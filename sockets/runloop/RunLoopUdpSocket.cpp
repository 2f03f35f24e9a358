#include "sockets/runloop/RunLoopUdpSocket.h"

#include "platform/foundation/Log.h"
#include "sockets/common/SocketErrors.h"
#include "sockets/common/Timeout.h"
#include "sockets/runloop/AddressText.h"

#include <cerrno>
#include <cstring>
#include <fmt/format.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr const char* kCannotConvert = "Cannot convert address to string.";

} // namespace

// MARK: - Creation

RunLoopUdpSocketPtr RunLoopUdpSocket::create(RunLoopUdpSocketDelegatePtr delegate, int64_t userData,
                                             bool enableIPv4, bool enableIPv6) {
    auto socket = std::make_shared<RunLoopUdpSocket>(PrivateTag{}, std::move(delegate), userData);
    if (enableIPv4)
        socket->createSocket(AF_INET);
    if (enableIPv6)
        socket->createSocket(AF_INET6);
    socket->m_binding.bind(platform::RunLoop::current());
    socket->runLoopAddSource(socket->m_source4);
    socket->runLoopAddSource(socket->m_source6);
    return socket;
}

RunLoopUdpSocketPtr RunLoopUdpSocket::initIPv4() {
    return create(nullptr, 0, true, false);
}

RunLoopUdpSocketPtr RunLoopUdpSocket::initIPv6() {
    return create(nullptr, 0, false, true);
}

RunLoopUdpSocket::RunLoopUdpSocket(PrivateTag, RunLoopUdpSocketDelegatePtr delegate, int64_t userData)
    : m_delegate(std::move(delegate))
    , m_userData(userData) {}

// No close callback reaches the delegate for a socket that is gone.
RunLoopUdpSocket::~RunLoopUdpSocket() {
    close();
    m_binding.cancelAll();
}

// Callbacks come once per request for readiness (none re-enables itself); IPv6 sockets stay IPv6 only,
// so an IPv4 socket can share their port.
void RunLoopUdpSocket::createSocket(int family) {
    auto socket = platform::CFSocket::create(
        family, SOCK_DGRAM, IPPROTO_UDP, platform::kCFSocketReadCallBack | platform::kCFSocketWriteCallBack,
        &RunLoopUdpSocket::cfSocketCallback, this);
    if (!socket)
        return;
    socket->setSocketFlags(platform::kCFSocketCloseOnInvalidate);
    int on = 1;
    if (family == AF_INET6)
        ::setsockopt(socket->nativeHandle(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    (family == AF_INET ? m_socket4 : m_socket6) = socket;
    (family == AF_INET ? m_source4 : m_source6) = socket->createRunLoopSource();
}

void RunLoopUdpSocket::cfSocketCallback(platform::CFSocket& socket, platform::CFSocketCallBackType type,
                                        const platform::Data*, const void*, void* info) {
    // Held for the whole event: a delegate may let the socket go from inside it.
    if (auto target = static_cast<RunLoopUdpSocket*>(info)->self())
        target->doCFSocketCallback(type, socket);
}

void RunLoopUdpSocket::doCFSocketCallback(platform::CFSocketCallBackType type, platform::CFSocket& socket) {
    bool isIPv4 = &socket == m_socket4.get();
    if (type == platform::kCFSocketWriteCallBack) {
        m_flags |= isIPv4 ? kSocket4Writable : kSocket6Writable;
        doSend(socket);
    } else if (type == platform::kCFSocketReadCallBack) {
        m_flags |= isIPv4 ? kSocket4Readable : kSocket6Readable;
        doReceive(socket);
    } else {
        platform::logMessage(fmt::format("RunLoopUdpSocket {} received unexpected CFSocketCallBackType {}.",
                                         fmt::ptr(this), type));
    }
}

// MARK: - Delegate and errors

// Null while the socket is being destroyed.
RunLoopUdpSocketPtr RunLoopUdpSocket::self() {
    return std::static_pointer_cast<RunLoopUdpSocket>(weak_from_this().lock());
}

void RunLoopUdpSocket::tellDelegate(
    const char* selector,
    const std::function<void(RunLoopUdpSocketDelegate&, const RunLoopUdpSocketPtr&)>& call) {
    askDelegate(selector, 0, [&](RunLoopUdpSocketDelegate& delegate, const RunLoopUdpSocketPtr& sock) {
        call(delegate, sock);
        return 0;
    });
}

platform::ErrorPtr RunLoopUdpSocket::udpError(RunLoopUdpSocketError code, const char* description) {
    return sockets::makeError(RunLoopUdpSocketErrorDomain, code, description);
}

platform::ErrorPtr RunLoopUdpSocket::getErrnoError() const {
    return sockets::errnoError(errno);
}

platform::ErrorPtr RunLoopUdpSocket::getSocketError() const {
    return udpError(RunLoopUdpSocketCFSocketError, "General CFSocket error");
}

platform::ErrorPtr RunLoopUdpSocket::getIPv4UnavailableError() const {
    return udpError(RunLoopUdpSocketIPv4Unavailable,
                    "IPv4 is unavailable due to binding/connecting using IPv6 only");
}

platform::ErrorPtr RunLoopUdpSocket::getIPv6UnavailableError() const {
    return udpError(RunLoopUdpSocketIPv6Unavailable,
                    "IPv6 is unavailable due to binding/connecting using IPv4 "
                    "only or is not supported on this platform");
}

platform::ErrorPtr RunLoopUdpSocket::getSendTimeoutError() const {
    return udpError(RunLoopUdpSocketSendTimeoutError, "Send operation timed out");
}

platform::ErrorPtr RunLoopUdpSocket::getReceiveTimeoutError() const {
    return udpError(RunLoopUdpSocketReceiveTimeoutError, "Receive operation timed out");
}

// MARK: - Run loop

sockets::RunLoopBinding::Scheduled RunLoopUdpSocket::scheduled() const {
    return {{m_source4, m_source6}, {m_sends.timer, m_receives.timer}};
}

void RunLoopUdpSocket::runLoopAddSource(const std::shared_ptr<platform::RunLoopFdSource>& source) {
    m_binding.add({{source}, {}});
}

void RunLoopUdpSocket::runLoopRemoveSource(const std::shared_ptr<platform::RunLoopFdSource>& source) {
    m_binding.remove({{source}, {}});
}

void RunLoopUdpSocket::runLoopAddTimer(const std::shared_ptr<platform::Timer>& timer) {
    m_binding.add({{}, {timer}});
}

void RunLoopUdpSocket::runLoopRemoveTimer(const std::shared_ptr<platform::Timer>& timer) {
    m_binding.remove({{}, {timer}});
}

bool RunLoopUdpSocket::moveToRunLoop(const RunLoopPtr& runLoop) {
    if (!runLoop)
        return false;
    if (runLoop == m_binding.runLoop())
        return true;
    return rebind([&] { m_binding.bind(runLoop); });
}

bool RunLoopUdpSocket::setRunLoopModes(const Modes& runLoopModes) {
    if (runLoopModes.empty())
        return false;
    if (runLoopModes == m_binding.modes())
        return true;
    return rebind([&] { m_binding.setModes(runLoopModes); });
}

// The steps are queued on the new loop before its sources can call out there.
bool RunLoopUdpSocket::rebind(const std::function<void()>& change) {
    m_binding.cancelAll();
    m_flags &= ~(kSendDequeueScheduled | kReceiveDequeueScheduled);
    m_binding.remove(scheduled());
    change();
    defer(Deferred::WriteDequeue, &RunLoopUdpSocket::maybeDequeueSend);
    defer(Deferred::ReadDequeue, &RunLoopUdpSocket::maybeDequeueReceive);
    defer(Deferred::Close, &RunLoopUdpSocket::maybeScheduleClose);
    m_binding.add(scheduled());
    return true;
}

void RunLoopUdpSocket::defer(Deferred kind, Step step) {
    std::weak_ptr<RunLoopUdpSocket> weak = self();
    m_binding.perform(kind, [weak, step] {
        if (auto socket = weak.lock())
            ((*socket).*step)();
    });
}

std::shared_ptr<platform::Timer>
RunLoopUdpSocket::startTimer(double seconds, void (RunLoopUdpSocket::*fired)(platform::Timer&)) {
    std::weak_ptr<RunLoopUdpSocket> weak = self();
    auto timer = platform::Timer::timerWithTimeInterval(sockets::durationFromSeconds(seconds), false,
                                                        [weak, fired](platform::Timer& timer) {
                                                            if (auto socket = weak.lock())
                                                                ((*socket).*fired)(timer);
                                                        });
    runLoopAddTimer(timer);
    return timer;
}

// MARK: - Queries

bool RunLoopUdpSocket::isConnected() const {
    return (m_flags & kConnected) && !(m_flags & kClosed);
}

bool RunLoopUdpSocket::isClosed() const {
    return m_flags & kClosed;
}

bool RunLoopUdpSocket::isConnectedToHost(const std::string& host, uint16_t port) {
    return connectedHost() == host && connectedPort() == port;
}

RunLoopUdpSocket::Host RunLoopUdpSocket::localHost() {
    return m_cachedLocalHost ? m_cachedLocalHost : localHost(m_socket4 ? m_socket4 : m_socket6);
}

uint16_t RunLoopUdpSocket::localPort() {
    return m_cachedLocalPort ? m_cachedLocalPort : localPort(m_socket4 ? m_socket4 : m_socket6);
}

RunLoopUdpSocket::Host RunLoopUdpSocket::connectedHost() {
    return m_cachedConnectedHost ? m_cachedConnectedHost : connectedHost(m_socket4 ? m_socket4 : m_socket6);
}

uint16_t RunLoopUdpSocket::connectedPort() {
    return m_cachedConnectedPort ? m_cachedConnectedPort : connectedPort(m_socket4 ? m_socket4 : m_socket6);
}

RunLoopUdpSocket::Host RunLoopUdpSocket::localHost(const platform::CFSocketPtr& socket) {
    return cachedHost(socket, false);
}

uint16_t RunLoopUdpSocket::localPort(const platform::CFSocketPtr& socket) {
    return cachedPort(socket, false);
}

RunLoopUdpSocket::Host RunLoopUdpSocket::connectedHost(const platform::CFSocketPtr& socket) {
    return cachedHost(socket, true);
}

uint16_t RunLoopUdpSocket::connectedPort(const platform::CFSocketPtr& socket) {
    return cachedPort(socket, true);
}

// A local end is kept once bound, a peer once connected: neither changes afterwards.
RunLoopUdpSocket::Host RunLoopUdpSocket::cachedHost(const platform::CFSocketPtr& socket, bool peer) {
    auto address = !socket ? std::nullopt : peer ? socket->copyPeerAddress() : socket->copyAddress();
    Host host = address ? addressHost(*address) : std::nullopt;
    if (host && (m_flags & (peer ? kConnected : kBound)))
        (peer ? m_cachedConnectedHost : m_cachedLocalHost) = host;
    return host;
}

uint16_t RunLoopUdpSocket::cachedPort(const platform::CFSocketPtr& socket, bool peer) {
    auto address = !socket ? std::nullopt : peer ? socket->copyPeerAddress() : socket->copyAddress();
    uint16_t port = sockets::portOf(address);
    if (port && (m_flags & (peer ? kConnected : kBound)))
        (peer ? m_cachedConnectedPort : m_cachedLocalPort) = port;
    return port;
}

uint32_t RunLoopUdpSocket::maximumTransmissionUnit() const {
    if (!isConnected())
        return 0;
    auto& socket = m_socket4 ? m_socket4 : m_socket6;
    int mtu = 0;
    socklen_t length = sizeof mtu;
    bool isIPv4 = socket == m_socket4;
    if (!socket || ::getsockopt(socket->nativeHandle(), isIPv4 ? IPPROTO_IP : IPPROTO_IPV6,
                                isIPv4 ? IP_MTU : IPV6_MTU, &mtu, &length) != 0)
        return 0;
    return mtu > 0 ? uint32_t(mtu) : 0;
}

std::string RunLoopUdpSocket::addressHost4(const sockaddr_in& address) {
    return sockets::hostText(address, kCannotConvert);
}

std::string RunLoopUdpSocket::addressHost6(const sockaddr_in6& address) {
    return sockets::hostText(address, kCannotConvert);
}

RunLoopUdpSocket::Host RunLoopUdpSocket::addressHost(const platform::Data& address) {
    return sockets::hostTextOf(address, kCannotConvert, kCannotConvert);
}
