#include "platform/foundation/Log.h"
#include "sockets/common/Timeout.h"
#include "sockets/runloop/RunLoopUdpSocket.h"

#include <poll.h>

const RunLoopUdpSocket::Direction RunLoopUdpSocket::kSending{
    &RunLoopUdpSocket::m_sends,
    kSendDequeueScheduled,
    kCloseAfterSends,
    Deferred::WriteDequeue,
    &RunLoopUdpSocket::maybeDequeueSend,
    &RunLoopUdpSocket::serveSend,
    &RunLoopUdpSocket::doSendTimeout,
    "onUdpSocket:didNotSendDataWithTag:dueToError:",
    &RunLoopUdpSocketDelegate::onUdpSocketDidNotSendDataWithTag,
    &RunLoopUdpSocket::getSendTimeoutError,
};

const RunLoopUdpSocket::Direction RunLoopUdpSocket::kReceiving{
    &RunLoopUdpSocket::m_receives,
    kReceiveDequeueScheduled,
    kCloseAfterReceives,
    Deferred::ReadDequeue,
    &RunLoopUdpSocket::maybeDequeueReceive,
    &RunLoopUdpSocket::serveReceive,
    &RunLoopUdpSocket::doReceiveTimeout,
    "onUdpSocket:didNotReceiveDataWithTag:dueToError:",
    &RunLoopUdpSocketDelegate::onUdpSocketDidNotReceiveDataWithTag,
    &RunLoopUdpSocket::getReceiveTimeoutError,
};

bool RunLoopUdpSocket::canQueue(const platform::Data& data) const {
    return !data.empty() && !(m_flags & (kNoNewRequests | kClosed));
}

void RunLoopUdpSocket::enqueue(const Direction& direction, std::shared_ptr<sockets::RunLoopRequest> request) {
    (this->*direction.queue).pending.push_back(std::move(request));
    scheduleDequeue(direction);
}

void RunLoopUdpSocket::scheduleDequeue(const Direction& direction) {
    if (m_flags & direction.dequeueScheduled)
        return;
    m_flags |= direction.dequeueScheduled;
    defer(direction.deferred, direction.dequeue);
}

void RunLoopUdpSocket::maybeDequeue(const Direction& direction) {
    m_flags &= ~direction.dequeueScheduled;
    auto& queue = this->*direction.queue;
    if (queue.current)
        return;
    if (queue.pending.empty()) {
        if ((m_flags & direction.closeAfter) && wantsCloseNow())
            close();
        return;
    }
    queue.current = std::move(queue.pending.front());
    queue.pending.pop_front();
    double timeout = std::static_pointer_cast<sockets::RunLoopRequest>(queue.current)->timeout;
    if (sockets::hasTimeout(timeout))
        queue.timer = startTimer(timeout, direction.timedOut);
    (this->*direction.serve)();
}

void RunLoopUdpSocket::doTimeout(const Direction& direction, platform::Timer& timer) {
    auto& queue = this->*direction.queue;
    if (queue.timer.get() != &timer || !queue.current)
        return;
    failCurrent(direction, (this->*direction.timeoutError)());
    scheduleDequeue(direction);
}

void RunLoopUdpSocket::failCurrent(const Direction& direction, const platform::ErrorPtr& error) {
    auto& queue = this->*direction.queue;
    auto request = std::static_pointer_cast<sockets::RunLoopRequest>(queue.current);
    tellDelegate(direction.failureSelector,
                 [&](RunLoopUdpSocketDelegate& delegate, const RunLoopUdpSocketPtr& sock) {
                     (delegate.*direction.failure)(sock, request->tag, error);
                 });
    if (queue.current == request)
        queue.endCurrent();
}

void RunLoopUdpSocket::endCurrent(const Direction& direction) {
    (this->*direction.queue).endCurrent();
}

// Every side named by a close-after request has nothing left to do.
bool RunLoopUdpSocket::wantsCloseNow() const {
    bool afterSends = m_flags & kCloseAfterSends;
    bool afterReceives = m_flags & kCloseAfterReceives;
    return (afterSends || afterReceives) && (!afterSends || m_sends.isIdle()) &&
           (!afterReceives || m_receives.isIdle());
}

// The readiness a callback reported is used without a system call; otherwise the socket is asked.
bool RunLoopUdpSocket::isReady(const platform::CFSocket& socket, uint16_t flag4, uint16_t flag6,
                               short pollEvent) const {
    if (m_flags & (&socket == m_socket4.get() ? flag4 : flag6))
        return true;
    pollfd entry{socket.nativeHandle(), pollEvent, 0};
    if (entry.fd < 0) {
        platform::logMessage("Error - Could not get CFSocketNativeHandle from CFSocketRef");
        return false;
    }
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & (pollEvent | POLLERR));
}

void RunLoopUdpSocket::clearReady(const platform::CFSocket& socket, uint16_t flag4, uint16_t flag6) {
    m_flags &= ~(&socket == m_socket4.get() ? flag4 : flag6);
}
