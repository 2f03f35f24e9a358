#include "sockets/runloop/AddressText.h"
#include "sockets/runloop/RunLoopUdpSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

namespace {

// No datagram is longer, so a larger size asks for memory that could never be filled.
constexpr uint32_t kLargestDatagram = 65536;

} // namespace

void RunLoopUdpSocket::receiveWithTimeout(double timeout, int64_t tag) {
    if (m_flags & (kNoNewRequests | kClosed))
        return;
    enqueue(kReceiving, std::make_shared<RunLoopReceivePacket>(timeout, tag));
}

std::shared_ptr<RunLoopReceivePacket> RunLoopUdpSocket::currentReceive() const {
    return std::static_pointer_cast<RunLoopReceivePacket>(m_receives.current);
}

void RunLoopUdpSocket::scheduleDequeueReceive() {
    scheduleDequeue(kReceiving);
}

void RunLoopUdpSocket::maybeDequeueReceive() {
    maybeDequeue(kReceiving);
}

// The socket tried first alternates between dequeues, IPv6 on the first, so neither family starves.
void RunLoopUdpSocket::serveReceive() {
    if (m_flags & kReceiveIPv4First) {
        doReceive4();
        doReceive6();
    } else {
        doReceive6();
        doReceive4();
    }
    m_flags ^= kReceiveIPv4First;
}

void RunLoopUdpSocket::doReceive4() {
    if (auto socket = m_socket4)
        doReceive(*socket);
}

void RunLoopUdpSocket::doReceive6() {
    if (auto socket = m_socket6)
        doReceive(*socket);
}

void RunLoopUdpSocket::endCurrentReceive() {
    endCurrent(kReceiving);
}

void RunLoopUdpSocket::doReceiveTimeout(platform::Timer& timer) {
    doTimeout(kReceiving, timer);
}

void RunLoopUdpSocket::failCurrentReceive(const platform::ErrorPtr& error) {
    failCurrent(kReceiving, error);
}

// MARK: - The receive step

bool RunLoopUdpSocket::hasBytesAvailable(const platform::CFSocket& socket) const {
    return isReady(socket, kSocket4Readable, kSocket6Readable, POLLIN);
}

void RunLoopUdpSocket::doReceive(platform::CFSocket& socket) {
    while (auto packet = currentReceive()) {
        if (!hasBytesAvailable(socket)) {
            socket.enableCallBacks(platform::kCFSocketReadCallBack | platform::kCFSocketWriteCallBack);
            return;
        }
        if (!receiveOne(socket, packet))
            return;
    }
}

bool RunLoopUdpSocket::receiveOne(platform::CFSocket& socket,
                                  const std::shared_ptr<RunLoopReceivePacket>& packet) {
    std::vector<uint8_t> bytes(std::min(m_maxReceiveBufferSize, kLargestDatagram));
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    ssize_t got = ::recvfrom(socket.nativeHandle(), bytes.data(), bytes.size(), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
    int receiveErrno = errno;
    clearReady(socket, kSocket4Readable, kSocket6Readable);
    if (got < 0 && (receiveErrno == EAGAIN || receiveErrno == EWOULDBLOCK || receiveErrno == EINTR)) {
        // Someone else took the datagram: the request waits for the next one.
        socket.enableCallBacks(platform::kCFSocketReadCallBack | platform::kCFSocketWriteCallBack);
        return false;
    }
    if (got < 0) {
        errno = receiveErrno;
        failCurrentReceive(getErrnoError());
        scheduleDequeueReceive();
        return false;
    }
    platform::Data sender(&from, fromLength);
    Host host = addressHost(sender);
    uint16_t port = sockets::portOf(sender);
    if (isConnected() && !isFromConnectedPeer(host, port))
        return true;
    bytes.resize(size_t(got));
    packet->buffer = platform::Data(std::move(bytes));
    packet->host = host;
    packet->port = port;
    if (maybeCompleteCurrentReceive()) {
        scheduleDequeueReceive();
        return false;
    }
    packet->buffer.reset();
    packet->host.reset();
    packet->port = 0;
    return true;
}

bool RunLoopUdpSocket::isFromConnectedPeer(const Host& host, uint16_t port) {
    return host == connectedHost() && port == connectedPort();
}

bool RunLoopUdpSocket::maybeCompleteCurrentReceive() {
    auto packet = currentReceive();
    bool accepted = askDelegate("onUdpSocket:didReceiveData:withTag:fromHost:port:", true,
                                [&](RunLoopUdpSocketDelegate& delegate, const RunLoopUdpSocketPtr& sock) {
                                    return delegate.onUdpSocketDidReceiveData(
                                        sock, *packet->buffer, packet->tag, packet->host, packet->port);
                                });
    if (!accepted)
        return false;
    if (m_receives.current == packet)
        endCurrentReceive();
    return true;
}
