// Sending: the send queue shared with connect requests, the destination of each datagram, the send
// filter, the system call, waiting for room in the send buffer, and the time-out.
#include "sockets/common/Timeout.h"
#include "sockets/queue/QueueUdpSocket.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

using platform::Data;
using platform::ErrorPtr;

// ---- Public operations ----

namespace {

// Up to 2 KiB (a whole frame's payload and more), a datagram's bytes and its address are copied into
// the packet instead of shared with the caller's Data. Sharing makes the caller's thread count a
// reference up and the socket queue count it down again for every datagram, so the count's cache line
// crosses between their cores twice a datagram, and between every core involved when callers send one
// Data (an address, say) from several threads; such a copy costs less than one of those crossings.
constexpr size_t kCopiedBytes = 2048;

Data ownCopy(const Data& data) {
    return data.length() <= kCopiedBytes ? Data(data.bytes(), data.length()) : data;
}

} // namespace

void QueueUdpSocket::sendData(const Data& data, int64_t tag) {
    sendData(data, -1.0, tag);
}

void QueueUdpSocket::sendData(const Data& data, double timeout, int64_t tag) {
    if (data.empty())
        return;
    postSend(std::make_shared<QueueUdpSendPacket>(ownCopy(data), timeout, tag));
}

void QueueUdpSocket::sendData(const Data& data, const std::optional<std::string>& host, uint16_t port,
                              double timeout, int64_t tag) {
    if (data.empty())
        return;
    auto packet = std::make_shared<QueueUdpSendPacket>(ownCopy(data), timeout, tag);
    packet->resolveInProgress = true;
    packet->sentToHost = true;
    asyncResolveHost(host, port, [packet](QueueUdpSocket& socket, Addresses addresses, ErrorPtr error) {
        packet->resolveInProgress = false;
        packet->resolvedAddresses = std::move(addresses);
        packet->resolveError = error;
        if (socket.m_currentSend == packet)
            socket.doPreSend();
    });
    postSend(std::move(packet));
}

void QueueUdpSocket::sendData(const Data& data, const Data& remoteAddr, double timeout, int64_t tag) {
    if (data.empty())
        return;
    auto packet = std::make_shared<QueueUdpSendPacket>(ownCopy(data), timeout, tag);
    packet->address = ownCopy(remoteAddr);
    packet->addressFamily = familyFromAddress(remoteAddr);
    postSend(std::move(packet));
}

void QueueUdpSocket::setSendFilter(QueueUdpSocketSendFilterBlock filterBlock, DispatchQueuePtr filterQueue) {
    setSendFilter(std::move(filterBlock), std::move(filterQueue), true);
}

void QueueUdpSocket::setSendFilter(QueueUdpSocketSendFilterBlock filterBlock, DispatchQueuePtr filterQueue,
                                   bool isAsynchronous) {
    if (!filterBlock)
        filterQueue = nullptr;
    runOnSocketQueueAsync([block = std::move(filterBlock), queue = std::move(filterQueue),
                           isAsynchronous](QueueUdpSocket& socket) {
        socket.m_sendFilterBlock = block;
        socket.m_sendFilterQueue = queue;
        socket.m_sendFilterAsync = isAsynchronous;
    });
}

// ---- The queue ----

std::shared_ptr<QueueUdpSendPacket> QueueUdpSocket::currentSendPacket() const {
    return std::dynamic_pointer_cast<QueueUdpSendPacket>(m_currentSend);
}

struct QueueUdpSocket::SendBatch {
    std::vector<std::shared_ptr<QueueUdpSendPacket>> packets;
};

// A burst of datagrams costs the socket queue one block, and its drain one wake-up at most, instead of a
// block each. The block is posted under the lock, when the batch opens, so a caller's later operation
// (which seals the batch first) is always queued after the datagrams it sent before.
void QueueUdpSocket::postSend(std::shared_ptr<QueueUdpSendPacket> packet) {
    std::lock_guard lock(m_sendIntakeMutex);
    if (!m_openSendBatch) {
        m_openSendBatch = std::make_shared<SendBatch>();
        m_socketQueue->async([socket = self(), batch = m_openSendBatch] { socket->takeSendBatch(batch); });
    }
    m_openSendBatch->packets.push_back(std::move(packet));
}

void QueueUdpSocket::sealSendBatch() {
    std::lock_guard lock(m_sendIntakeMutex);
    m_openSendBatch.reset();
}

void QueueUdpSocket::takeSendBatch(const std::shared_ptr<SendBatch>& batch) {
    std::vector<std::shared_ptr<QueueUdpSendPacket>> packets;
    {
        std::lock_guard lock(m_sendIntakeMutex);
        packets.swap(batch->packets);
        if (m_openSendBatch == batch)
            m_openSendBatch.reset();
    }
    // As if each had come in a block of its own, though a run that can leave at once goes out in one
    // system call; the delegate hears of them in passes of up to kSendsPerDelegatePass, so a fast delegate
    // does not go idle, and cost a wake-up, between every two runs, nor wait long for the first reports.
    constexpr size_t kSendsPerDelegatePass = 1024;
    holdDelegateCalls();
    size_t next = 0;
    size_t released = 0;
    while (next < packets.size()) {
        size_t sent = sendRunAtOnce(packets, next);
        if (sent > 0)
            notifyDidSendRun(packets, next, sent);
        next += sent;
        if (sent == 0)
            enqueueSend(std::move(packets[next++]));
        if (next - released >= kSendsPerDelegatePass) {
            releaseDelegateCalls();
            holdDelegateCalls();
            released = next;
        }
    }
    releaseDelegateCalls();
}

namespace {

// A system that predates segmented sends ignores the segment size it is given and would send the
// message as one datagram: segments are used only where the system answers for the option.
bool systemSegmentsDatagrams(int socketFD) {
    static const bool segments = [socketFD] {
        int segment = 0;
        socklen_t length = sizeof(segment);
        return ::getsockopt(socketFD, SOL_UDP, UDP_SEGMENT, &segment, &length) == 0;
    }();
    return segments;
}

} // namespace

// The usual path, one datagram at a time, does all that sending can require (a destination to look up, a
// filter, a connect ahead, a full buffer to wait on). None of that applies to datagrams with their own
// address from an unconnected socket with nothing ahead of them; these leave together, as many at once as
// the system takes. A connected socket keeps the usual path: an error the peer's network reported would be
// lost inside a multiple send. Answers how many of packets[from...] left; 0 leaves the next to the usual
// path (which also meets and reports whatever stopped a multiple send at its first datagram).
//
// Neighbours of one length to one address go down the network stack as one segmented message, which the
// system cuts back into those datagrams (the last of them may be shorter) before the wire or a local
// receiver (unless that receiver asked to take them together, with their length): each keeps its own
// boundaries, at the cost of one route lookup and one pass through the stack for the lot instead of one
// each. A message the system refuses to segment (a length past what the route carries whole, a device
// that cannot segment) is left to the usual path, which sends it whole like any other datagram, and
// lengths from the refused one up are not segmented again.
size_t QueueUdpSocket::sendRunAtOnce(const std::vector<std::shared_ptr<QueueUdpSendPacket>>& packets,
                                     size_t from) {
    if (m_currentSend || !m_sendQueue.empty() || m_sendFilterBlock || !(m_flags & UdpFlagSocketsOpen) ||
        (m_flags & (UdpFlagConnected | UdpFlagConnectPending | UdpFlagCloseWhenSent)))
        return 0;
    // What the system takes in one segmented message, with room for the headers under 64 KiB.
    constexpr size_t kMaxSegments = 64;
    constexpr size_t kMaxSegmentedBytes = 60000;
    struct Message {
        size_t datagrams{0};
        size_t segmentLength{0}; // of its first datagram; a shorter one ends the message
        size_t bytes{0};
        bool closed{false};
        alignas(cmsghdr) std::array<uint8_t, CMSG_SPACE(sizeof(uint16_t))> control{};
    };
    std::array<mmsghdr, kSendRun> headers{};
    std::array<Message, kSendRun> messages{};
    std::array<iovec, kSendRun> parts{};
    int socketFD = -1;
    size_t count = 0;
    size_t messageCount = 0;
    for (; count < kSendRun && from + count < packets.size(); ++count) {
        const auto& packet = *packets[from + count];
        if (packet.sentToHost || packet.resolveError || !packet.address)
            break;
        int packetFD = packet.addressFamily == AF_INET    ? m_socket4FD
                       : packet.addressFamily == AF_INET6 ? m_socket6FD
                                                          : -1;
        if (packetFD == -1 || (socketFD != -1 && packetFD != socketFD))
            break;
        socketFD = packetFD;
        size_t length = packet.buffer.length();
        parts[count] = {const_cast<uint8_t*>(packet.buffer.bytes()), length};
        if (messageCount > 0) {
            Message& last = messages[messageCount - 1];
            auto& header = headers[messageCount - 1].msg_hdr;
            const auto* lastFirst = packets[from + count - last.datagrams].get();
            if (!last.closed && length <= last.segmentLength && last.segmentLength < m_segmentLimit &&
                last.datagrams < kMaxSegments && last.bytes + length <= kMaxSegmentedBytes &&
                *lastFirst->address == *packet.address) {
                ++header.msg_iovlen;
                ++last.datagrams;
                last.bytes += length;
                last.closed = length < last.segmentLength;
                continue;
            }
        }
        Message& message = messages[messageCount];
        message.datagrams = 1;
        message.segmentLength = length;
        message.bytes = length;
        auto& header = headers[messageCount].msg_hdr;
        header.msg_name = const_cast<uint8_t*>(packet.address->bytes());
        header.msg_namelen = static_cast<socklen_t>(packet.address->length());
        header.msg_iov = &parts[count];
        header.msg_iovlen = 1;
        ++messageCount;
    }
    if (count < 2)
        return 0;
    if (messageCount < count && !systemSegmentsDatagrams(socketFD)) {
        m_segmentLimit = 0;
        return 0;
    }
    for (size_t m = 0; m < messageCount; ++m) {
        Message& message = messages[m];
        if (message.datagrams < 2)
            continue;
        auto& header = headers[m].msg_hdr;
        header.msg_control = message.control.data();
        header.msg_controllen = message.control.size();
        cmsghdr* control = CMSG_FIRSTHDR(&header);
        control->cmsg_level = SOL_UDP;
        control->cmsg_type = UDP_SEGMENT;
        control->cmsg_len = CMSG_LEN(sizeof(uint16_t));
        auto segment = static_cast<uint16_t>(message.segmentLength);
        std::memcpy(CMSG_DATA(control), &segment, sizeof(segment));
    }
    int sent = ::sendmmsg(socketFD, headers.data(), static_cast<unsigned>(messageCount), MSG_NOSIGNAL);
    if (sent <= 0) {
        if (sent < 0 && messages[0].datagrams > 1 && errno != EAGAIN && errno != EWOULDBLOCK &&
            errno != ENOBUFS && errno != EINTR)
            m_segmentLimit = (errno == EINVAL || errno == EMSGSIZE) ? messages[0].segmentLength : 0;
        return 0;
    }
    m_flags |= UdpFlagBound;
    size_t datagrams = 0;
    for (int m = 0; m < sent; ++m)
        datagrams += messages[static_cast<size_t>(m)].datagrams;
    return datagrams;
}

void QueueUdpSocket::enqueueSend(std::shared_ptr<QueueUdpSendPacket> packet) {
    m_sendQueue.push_back(std::move(packet));
    maybeDequeueSend();
}

void QueueUdpSocket::maybeDequeueSend() {
    if (m_dequeuingSend) {
        m_dequeueSendAgain = true;
        return;
    }
    m_dequeuingSend = true;
    do {
        m_dequeueSendAgain = false;
        dequeueSendOnce();
    } while (m_dequeueSendAgain);
    m_dequeuingSend = false;
}

void QueueUdpSocket::dequeueSendOnce() {
    if (m_currentSend)
        return;
    // With nothing to send no sockets are made: a close just before (after sending, or a failed send)
    // must leave the socket closed.
    if (!m_sendQueue.empty() && !(m_flags & UdpFlagSocketsOpen)) {
        ErrorPtr error;
        if (!createSockets(&error)) {
            closeWithError(error);
            return;
        }
    }
    while (!m_sendQueue.empty()) {
        m_currentSend = m_sendQueue.front();
        m_sendQueue.pop_front();
        if (std::dynamic_pointer_cast<QueueUdpSpecialPacket>(m_currentSend)) {
            maybeConnect();
            return;
        }
        auto packet = currentSendPacket();
        if (packet->resolveError) {
            notifyDidNotSendDataWithTag(packet->tag, packet->resolveError);
            m_currentSend.reset();
            continue;
        }
        doPreSend();
        break;
    }
    // A datagram sent at once inside the loop leaves no current send while others still wait; only an
    // empty queue means everything is out.
    if (!m_currentSend && m_sendQueue.empty() && (m_flags & UdpFlagCloseWhenSent))
        closeWithError(nullptr);
}

void QueueUdpSocket::failCurrentSend(const ErrorPtr& error) {
    auto packet = currentSendPacket();
    notifyDidNotSendDataWithTag(packet->tag, error);
    endCurrentSend();
    maybeDequeueSend();
}

void QueueUdpSocket::doPreSend() {
    auto packet = currentSendPacket();
    if (!packet)
        return;
    if (!(m_flags & UdpFlagConnected) && packet->resolveInProgress) {
        // The resolution's completion comes back here.
        suspendSendSource(true);
        suspendSendSource(false);
        return;
    }
    if (ErrorPtr error = chooseDestination(*packet)) {
        failCurrentSend(error);
        return;
    }
    if (!m_sendFilterBlock || !m_sendFilterQueue)
        doSend();
    else if (m_sendFilterAsync)
        filterSendAsynchronously(packet);
    else
        finishFilteredSend(filterSend(*packet));
}

ErrorPtr QueueUdpSocket::chooseDestination(QueueUdpSendPacket& packet) {
    ErrorPtr error;
    if (m_flags & UdpFlagConnected) {
        if (packet.sentToHost)
            return badConfigError("Cannot specify destination of packet for connected socket");
        // A connected socket sends only to its peer, whatever address the datagram named.
        packet.address = m_cachedConnected.address;
        packet.addressFamily = m_cachedConnectedFamily;
    } else if (packet.resolveError) {
        return packet.resolveError;
    } else if (!packet.address) {
        if (packet.resolvedAddresses.empty())
            return badConfigError("You must specify destination of packet for a non-connected socket");
        std::optional<Data> address;
        int family = getAddress(&address, &error, packet.resolvedAddresses);
        if (family != 0) {
            packet.address = address;
            packet.addressFamily = family;
        }
    }
    // An explicit address of a family without a socket would fail in the system call, which closes the
    // whole socket; it is the caller's datagram that is wrong, so only that datagram fails.
    if (!error && packet.address) {
        int socketFD = packet.addressFamily == AF_INET    ? m_socket4FD
                       : packet.addressFamily == AF_INET6 ? m_socket6FD
                                                          : -1;
        if (socketFD == -1)
            error = badParamError("The destination address has no socket of its IP version "
                                  "(not an IP address, disabled, or deactivated due to bind/connect).");
    }
    return error;
}

bool QueueUdpSocket::filterSend(const QueueUdpSendPacket& packet) {
    bool allowed = false;
    auto filter = m_sendFilterBlock;
    // A synchronous hop onto the queue we are running on would wait for ever.
    if (isSocketQueueOrMarked(m_sendFilterQueue))
        allowed = filter(packet.buffer, *packet.address, packet.tag);
    else
        m_sendFilterQueue->sync([&] { allowed = filter(packet.buffer, *packet.address, packet.tag); });
    return allowed;
}

void QueueUdpSocket::filterSendAsynchronously(const std::shared_ptr<QueueUdpSendPacket>& packet) {
    packet->filterInProgress = true;
    m_sendFilterQueue->async([socket = self(), packet, filter = m_sendFilterBlock, data = packet->buffer,
                              address = *packet->address, tag = packet->tag] {
        bool allowed = filter(data, address, tag);
        socket->m_socketQueue->async([socket, packet, allowed] {
            packet->filterInProgress = false;
            // A close or a time-out in between has the last word.
            if (socket->m_currentSend == packet)
                socket->finishFilteredSend(allowed);
        });
    });
}

void QueueUdpSocket::finishFilteredSend(bool allowed) {
    if (allowed) {
        doSend();
        return;
    }
    // A datagram the filter drops counts as sent.
    notifyDidSendDataWithTag(currentSendPacket()->tag);
    endCurrentSend();
    maybeDequeueSend();
}

void QueueUdpSocket::doSend() {
    auto packet = currentSendPacket();
    if (!packet || !packet->address)
        return;
    bool ipv4 = packet->addressFamily == AF_INET;
    int socketFD = ipv4 ? m_socket4FD : m_socket6FD;
    ssize_t result;
    if (m_flags & UdpFlagConnected) {
        result = ::send(socketFD, packet->buffer.bytes(), packet->buffer.length(), MSG_NOSIGNAL);
    } else {
        result = ::sendto(socketFD, packet->buffer.bytes(), packet->buffer.length(), MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(packet->address->bytes()),
                          static_cast<socklen_t>(packet->address->length()));
    }
    m_flags |= UdpFlagBound;

    if (result == 0 || (result == -1 && (errno == EAGAIN || errno == EWOULDBLOCK))) {
        // No room in the send buffer: wait for the socket to become writable and try again, bounded only
        // by the datagram's own time-out.
        if (!m_sendTimer && sockets::hasTimeout(packet->timeout))
            setupSendTimerWithTimeout(packet->timeout);
        m_flags &= ~(ipv4 ? UdpFlagSocket4Writable : UdpFlagSocket6Writable);
        resumeSendSource(ipv4);
        return;
    }
    if (result < 0) {
        closeWithError(errnoErrorWithReason("Error in send() function."));
        return;
    }
    notifyDidSendDataWithTag(packet->tag);
    endCurrentSend();
    maybeDequeueSend();
}

// ---- Time-out ----

void QueueUdpSocket::setupSendTimerWithTimeout(double timeout) {
    m_sendTimer = platform::DispatchSource::createTimer(m_socketQueue);
    std::weak_ptr<QueueUdpSocket> weak = self();
    m_sendTimer->setEventHandler([weak] {
        if (auto socket = weak.lock())
            socket->doSendTimeout();
    });
    m_sendTimer->setTimer(sockets::deadlineAfter(timeout), platform::Duration::zero());
    m_sendTimer->resume();
}

void QueueUdpSocket::doSendTimeout() {
    auto packet = currentSendPacket();
    if (!packet)
        return;
    notifyDidNotSendDataWithTag(packet->tag, sendTimeoutError());
    endCurrentSend();
    maybeDequeueSend();
}

void QueueUdpSocket::endCurrentSend() {
    if (m_sendTimer) {
        m_sendTimer->cancel();
        m_sendTimer.reset();
    }
    m_currentSend.reset();
}
