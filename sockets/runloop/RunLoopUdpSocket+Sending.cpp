#include "sockets/runloop/RunLoopUdpSocket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

// MARK: - Send requests

bool RunLoopUdpSocket::sendData(const platform::Data& data, double timeout, int64_t tag) {
    if (!canQueue(data) || !isConnected())
        return false;
    enqueue(kSending, std::make_shared<RunLoopSendPacket>(data, std::nullopt, timeout, tag));
    return true;
}

bool RunLoopUdpSocket::sendData(const platform::Data& data, const Host& host, uint16_t port, double timeout,
                                int64_t tag) {
    if (!canQueue(data) || isConnected())
        return false;
    Addresses addresses;
    if (convertForSendHost(host, port, &addresses) != 0)
        return false;
    std::optional<platform::Data> address;
    if (addresses.address4 && m_socket4)
        address = addresses.address4;
    else if (addresses.address6 && m_socket6)
        address = addresses.address6;
    if (!address)
        return false;
    enqueue(kSending, std::make_shared<RunLoopSendPacket>(data, address, timeout, tag));
    return true;
}

// An address of another length goes as it is: the system's send decides.
bool RunLoopUdpSocket::sendData(const platform::Data& data, const platform::Data& remoteAddr, double timeout,
                                int64_t tag) {
    if (!canQueue(data) || isConnected())
        return false;
    if ((remoteAddr.length() == sizeof(sockaddr_in) && !m_socket4) ||
        (remoteAddr.length() == sizeof(sockaddr_in6) && !m_socket6))
        return false;
    enqueue(kSending, std::make_shared<RunLoopSendPacket>(data, remoteAddr, timeout, tag));
    return true;
}

// MARK: - Dequeuing

std::shared_ptr<RunLoopSendPacket> RunLoopUdpSocket::currentSend() const {
    return std::static_pointer_cast<RunLoopSendPacket>(m_sends.current);
}

void RunLoopUdpSocket::scheduleDequeueSend() {
    scheduleDequeue(kSending);
}

void RunLoopUdpSocket::maybeDequeueSend() {
    maybeDequeue(kSending);
}

void RunLoopUdpSocket::serveSend() {
    if (auto socket = socketForPacket(*currentSend()))
        doSend(*socket);
}

void RunLoopUdpSocket::endCurrentSend() {
    endCurrent(kSending);
}

void RunLoopUdpSocket::doSendTimeout(platform::Timer& timer) {
    doTimeout(kSending, timer);
}

platform::CFSocketPtr RunLoopUdpSocket::socketForPacket(const RunLoopSendPacket& packet) const {
    if (!m_socket4 || !m_socket6)
        return m_socket4 ? m_socket4 : m_socket6;
    return packet.address && packet.address->length() == sizeof(sockaddr_in) ? m_socket4 : m_socket6;
}

// MARK: - The send step

bool RunLoopUdpSocket::canAcceptBytes(const platform::CFSocket& socket) const {
    return isReady(socket, kSocket4Writable, kSocket6Writable, POLLOUT);
}

void RunLoopUdpSocket::doSend(platform::CFSocket& socket) {
    auto packet = currentSend();
    if (!packet || socketForPacket(*packet).get() != &socket)
        return;
    if (!canAcceptBytes(socket)) {
        socket.enableCallBacks(platform::kCFSocketReadCallBack | platform::kCFSocketWriteCallBack);
        return;
    }
    auto& buffer = packet->buffer;
    ssize_t result = packet->address
                         ? ::sendto(socket.nativeHandle(), buffer.bytes(), buffer.length(), MSG_NOSIGNAL,
                                    reinterpret_cast<const sockaddr*>(packet->address->bytes()),
                                    socklen_t(packet->address->length()))
                         : ::send(socket.nativeHandle(), buffer.bytes(), buffer.length(), MSG_NOSIGNAL);
    auto error = result < 0 ? getErrnoError() : nullptr;
    clearReady(socket, kSocket4Writable, kSocket6Writable);
    if (error) {
        failCurrentSend(error);
    } else {
        m_flags |= kBound; // the first send binds an unbound socket
        completeCurrentSend();
    }
    scheduleDequeueSend();
}

void RunLoopUdpSocket::completeCurrentSend() {
    auto packet = currentSend();
    tellDelegate("onUdpSocket:didSendDataWithTag:",
                 [&](RunLoopUdpSocketDelegate& delegate, const RunLoopUdpSocketPtr& sock) {
                     delegate.onUdpSocketDidSendDataWithTag(sock, packet->tag);
                 });
    if (m_sends.current == packet)
        endCurrentSend();
}

void RunLoopUdpSocket::failCurrentSend(const platform::ErrorPtr& error) {
    failCurrent(kSending, error);
}
