#include "sockets/common/Timeout.h"
#include "sockets/runloop/RunLoopSocket.h"

#include <limits>

const RunLoopSocket::Direction RunLoopSocket::kReading{
    &RunLoopSocket::m_reads,
    [](const RunLoopSocket& socket) -> platform::SocketStream* { return socket.m_readStream.get(); },
    kReadDequeueScheduled,
    kReadSideAtTls,
    kDisconnectAfterReads,
    kReadStreamOpened,
    kStreamHasBytes,
    Deferred::ReadDequeue,
    &RunLoopSocket::maybeDequeueRead,
    &RunLoopSocket::doBytesAvailable,
    &RunLoopSocket::doReadTimeout,
    "CFReadStream",
    "onSocket:shouldTimeoutReadWithTag:elapsed:bytesDone:",
    &RunLoopSocketDelegate::onSocketShouldTimeoutReadWithTag,
    RunLoopSocketReadTimeoutError,
    [](const sockets::RunLoopRequest& request) {
        return static_cast<const RunLoopReadPacket&>(request).readLength;
    },
};

const RunLoopSocket::Direction RunLoopSocket::kWriting{
    &RunLoopSocket::m_writes,
    [](const RunLoopSocket& socket) -> platform::SocketStream* { return socket.m_writeStream.get(); },
    kWriteDequeueScheduled,
    kWriteSideAtTls,
    kDisconnectAfterWrites,
    kWriteStreamOpened,
    kStreamCanAccept,
    Deferred::WriteDequeue,
    &RunLoopSocket::maybeDequeueWrite,
    &RunLoopSocket::doSendBytes,
    &RunLoopSocket::doWriteTimeout,
    "CFWriteStream",
    "onSocket:shouldTimeoutWriteWithTag:elapsed:bytesDone:",
    &RunLoopSocketDelegate::onSocketShouldTimeoutWriteWithTag,
    RunLoopSocketWriteTimeoutError,
    [](const sockets::RunLoopRequest& request) {
        return uint64_t(static_cast<const RunLoopWritePacket&>(request).buffer.length());
    },
};

// Null for none and for the TLS marker.
std::shared_ptr<sockets::RunLoopRequest> RunLoopSocket::currentRequest(const Direction& direction) const {
    return std::dynamic_pointer_cast<sockets::RunLoopRequest>((this->*direction.queue).current);
}

void RunLoopSocket::scheduleDequeue(const Direction& direction) {
    if (m_flags & direction.dequeueScheduled)
        return;
    m_flags |= direction.dequeueScheduled;
    defer(direction.deferred, direction.dequeue);
}

void RunLoopSocket::maybeDequeue(const Direction& direction) {
    m_flags &= ~direction.dequeueScheduled;
    auto& queue = this->*direction.queue;
    if (queue.current || !direction.stream(*this))
        return;
    if (queue.pending.empty()) {
        if ((m_flags & direction.disconnectAfter) && wantsDisconnectNow())
            disconnect();
        return;
    }
    queue.current = std::move(queue.pending.front());
    queue.pending.pop_front();
    auto request = currentRequest(direction);
    if (!request) {
        m_flags |= direction.atTls;
        maybeStartTLS();
        return;
    }
    if (sockets::hasTimeout(request->timeout))
        queue.timer = startTimer(request->timeout, direction.timedOut);
    (this->*direction.serve)();
}

void RunLoopSocket::doTimeout(const Direction& direction, platform::Timer& timer) {
    auto& queue = this->*direction.queue;
    auto request = currentRequest(direction);
    if (!request || queue.timer.get() != &timer)
        return;
    double extension = askDelegate(direction.timeoutSelector, 0.0,
                                   [&](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                                       return (delegate.*direction.timeoutQuestion)(
                                           sock, request->tag, request->timeout, request->bytesDone);
                                   });
    if (currentRequest(direction) != request)
        return; // the delegate closed the socket
    if (extension > 0) {
        request->timeout += extension;
        queue.timer = startTimer(extension, direction.timedOut);
    } else {
        closeWithError(socketError(direction.timeoutCode));
    }
}

void RunLoopSocket::endCurrent(const Direction& direction) {
    (this->*direction.queue).endCurrent();
}

float RunLoopSocket::progressOf(const Direction& direction, int64_t* tag, uint64_t* done,
                                uint64_t* total) const {
    auto request = currentRequest(direction);
    uint64_t whole = request ? direction.total(*request) : 0;
    if (tag)
        *tag = request ? request->tag : 0;
    if (done)
        *done = request ? request->bytesDone : 0;
    if (total)
        *total = whole;
    if (!request)
        return std::numeric_limits<float>::quiet_NaN();
    return whole == 0 ? 1.0f : float(request->bytesDone) / float(whole);
}
