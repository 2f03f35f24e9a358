// Receiving: one datagram or all of them, from both families in turn, through the optional receive
// filter; pausing, and waiting on the read sources.
#include "sockets/queue/QueueUdpSocket.h"

#include <algorithm>
#include <cerrno>
#include <vector>

using platform::Data;
using platform::ErrorPtr;

namespace {

// Datagrams taken in one go before the socket queue's other work gets a turn; the drain then goes on
// in a block of its own, still without waiting for the source.
constexpr int kDatagramsPerTurn = 1024;

} // namespace

bool QueueUdpSocket::receiveOnce(ErrorPtr* errPtr) {
    return startReceiving(UdpFlagReceivingOne, errPtr);
}

bool QueueUdpSocket::beginReceiving(ErrorPtr* errPtr) {
    return startReceiving(UdpFlagReceivingAll, errPtr);
}

bool QueueUdpSocket::startReceiving(uint32_t mode, ErrorPtr* errPtr) {
    bool result = false;
    ErrorPtr err;
    runOnSocketQueue([&] {
        if (m_flags & mode) {
            result = true;
            return;
        }
        if (!(m_flags & UdpFlagSocketsOpen)) {
            err =
                badConfigError("Must bind socket before you can receive data. You can do this explicitly via "
                               "bind, or implicitly via connect or by sending data.");
            return;
        }
        m_flags &= ~(UdpFlagReceivingOne | UdpFlagReceivingAll);
        m_flags |= mode;
        m_socketQueue->async([socket = self()] { socket->doReceive(); });
        result = true;
    });
    if (errPtr)
        *errPtr = err;
    return result;
}

void QueueUdpSocket::pauseReceiving() {
    runOnSocketQueueAsync([](QueueUdpSocket& socket) {
        socket.m_flags &= ~(UdpFlagReceivingOne | UdpFlagReceivingAll);
        socket.suspendReceiveSourcesWithData();
    });
}

void QueueUdpSocket::setReceiveFilter(QueueUdpSocketReceiveFilterBlock filterBlock,
                                      DispatchQueuePtr filterQueue) {
    setReceiveFilter(std::move(filterBlock), std::move(filterQueue), true);
}

void QueueUdpSocket::setReceiveFilter(QueueUdpSocketReceiveFilterBlock filterBlock,
                                      DispatchQueuePtr filterQueue, bool isAsynchronous) {
    if (!filterBlock)
        filterQueue = nullptr;
    runOnSocketQueueAsync([block = std::move(filterBlock), queue = std::move(filterQueue),
                           isAsynchronous](QueueUdpSocket& socket) {
        socket.m_receiveFilterBlock = block;
        socket.m_receiveFilterQueue = queue;
        socket.m_receiveFilterAsync = isAsynchronous;
    });
}

void QueueUdpSocket::readSourceFired(bool ipv4, uint64_t bytesAvailable) {
    // UDP has no end of stream. A readable socket whose pending size is 0 holds an empty datagram (or an
    // error the next receive reports); reading it as the end would let any sender close the socket.
    ++m_receiveWakeups;
    (ipv4 ? m_socket4FDBytesAvailable : m_socket6FDBytesAvailable) = std::max<uint64_t>(bytesAvailable, 1);
    doReceive();
}

void QueueUdpSocket::suspendReceiveSourcesWithData() {
    if (m_socket4FDBytesAvailable > 0)
        suspendReceiveSource(true);
    if (m_socket6FDBytesAvailable > 0)
        suspendReceiveSource(false);
}

void QueueUdpSocket::doReceive() {
    for (int taken = 0;; ++taken) {
        if (!(m_flags & (UdpFlagReceivingOne | UdpFlagReceivingAll)) ||
            ((m_flags & UdpFlagReceivingOne) && m_pendingFilterOperations > 0)) {
            // The datagram stays in the system's buffer until receiving starts again.
            suspendReceiveSourcesWithData();
            return;
        }
        if (m_socket4FDBytesAvailable == 0 && m_socket6FDBytesAvailable == 0) {
            resumeReceiveSource(true);
            resumeReceiveSource(false);
            return;
        }
        if (taken == kDatagramsPerTurn) {
            m_socketQueue->async([socket = self()] { socket->doReceive(); });
            return;
        }
        bool ipv4 = nextReceiveIsIPv4();
        auto datagram = receiveDatagram(ipv4);
        if (!datagram)
            return;
        Verdict verdict = judgeDatagram(datagram->first, datagram->second, ipv4);
        if (m_flags & UdpFlagReceivingAll)
            continue;
        if ((m_flags & UdpFlagReceivingOne) && verdict == Verdict::Delivered) {
            m_flags &= ~UdpFlagReceivingOne;
            // The next event of a source with data left finds receiving off and suspends it.
            return;
        }
        if (!(m_flags & UdpFlagReceivingOne) || verdict == Verdict::Pending)
            return; // an asynchronous filter decides
    }
}

bool QueueUdpSocket::nextReceiveIsIPv4() {
    if (m_flags & UdpFlagConnected)
        return m_socket4FD != -1;
    if (m_socket4FDBytesAvailable > 0 && m_socket6FDBytesAvailable > 0) {
        bool ipv4 = (m_flags & UdpFlagReadSocket4Next) != 0;
        m_flags ^= UdpFlagReadSocket4Next;
        return ipv4;
    }
    return m_socket4FDBytesAvailable > 0;
}

std::optional<std::pair<Data, Data>> QueueUdpSocket::receiveDatagram(bool ipv4) {
    uint64_t& available = ipv4 ? m_socket4FDBytesAvailable : m_socket6FDBytesAvailable;
    // Received into scratch space of the largest size allowed, then copied at the size that came.
    m_receiveScratch.resize(ipv4 ? m_max4ReceiveSize : m_max6ReceiveSize);
    sockaddr_storage from{};
    socklen_t fromLength = ipv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    ssize_t result = ::recvfrom(ipv4 ? m_socket4FD : m_socket6FD, m_receiveScratch.data(),
                                m_receiveScratch.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (result < 0) {
        available = 0;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            resumeReceiveSource(true);
            resumeReceiveSource(false);
        } else {
            closeWithError(errnoErrorWithReason("Error in recvfrom() function"));
        }
        return std::nullopt;
    }
    // A result of 0 is an empty datagram, delivered like any other. The pending size only ever told of
    // the next datagram: others may wait behind it, so the socket is read until it has none (EAGAIN)
    // before the source is asked again.
    available = 1;
    return std::make_pair(Data(m_receiveScratch.data(), static_cast<size_t>(result)),
                          Data(&from, fromLength));
}

QueueUdpSocket::Verdict QueueUdpSocket::judgeDatagram(const Data& data, const Data& address, bool ipv4) {
    bool fromStranger = (m_flags & UdpFlagConnected) &&
                        !(ipv4 ? isConnectedToAddress4(address) : isConnectedToAddress6(address));
    if (fromStranger)
        return Verdict::Ignored;
    if (!m_receiveFilterBlock || !m_receiveFilterQueue) {
        notifyDidReceiveData(data, address, platform::Value());
        return Verdict::Delivered;
    }
    if (m_receiveFilterAsync) {
        filterAsynchronously(data, address);
        return Verdict::Pending;
    }
    platform::Value context;
    bool allowed = false;
    auto filter = m_receiveFilterBlock;
    // A synchronous hop onto the queue we are running on would wait for ever.
    if (isSocketQueueOrMarked(m_receiveFilterQueue))
        allowed = filter(data, address, &context);
    else
        m_receiveFilterQueue->sync([&] { allowed = filter(data, address, &context); });
    if (!allowed)
        return Verdict::Ignored;
    notifyDidReceiveData(data, address, context);
    return Verdict::Delivered;
}

void QueueUdpSocket::filterAsynchronously(const Data& data, const Data& address) {
    ++m_pendingFilterOperations;
    m_receiveFilterQueue->async([socket = self(), filter = m_receiveFilterBlock, data, address] {
        platform::Value context;
        bool allowed = filter(data, address, &context);
        socket->m_socketQueue->async([socket, allowed, data, address, context] {
            --socket->m_pendingFilterOperations;
            if (allowed)
                socket->notifyDidReceiveData(data, address, context);
            if (socket->m_flags & UdpFlagReceivingOne) {
                if (allowed)
                    socket->m_flags &= ~UdpFlagReceivingOne;
                else if (socket->m_pendingFilterOperations == 0)
                    socket->doReceive();
            }
        });
    });
}
