// What the read and write halves share: queueing a request, taking the next one (or the TLS marker),
// its progress, holding still for TLS, and the per-request time-out with the delegate's extension.
#include "sockets/common/Timeout.h"
#include "sockets/queue/QueueSocketHalf.h"

#include <cmath>

using sockets::ReadPacket;
using sockets::SpecialPacket;
using sockets::TransferPacket;
using sockets::WritePacket;

const QueueSocket::Half QueueSocket::kReadHalf{
    &QueueSocket::m_readQueue,
    nullptr,
    &QueueSocket::m_currentRead,
    &QueueSocket::m_readTimer,
    FlagStartingReadTLS,
    FlagReadsPaused,
    FlagCloseAfterReads,
    &QueueSocket::doReadData,
    &QueueSocket::maybeDequeueRead,
    &QueueSocket::suspendReadSource,
    &QueueSocket::hasBytesToRead,
    FlagSecureBytesAvailable,
    &QueueSocket::readStreamHasBytes,
    [](const TransferPacket& packet) { return static_cast<const ReadPacket&>(packet).readLength; },
    "socket:shouldTimeoutReadWithTag:elapsed:bytesDone:",
    &QueueSocketDelegate::socketShouldTimeoutReadWithTag,
    &QueueSocket::readTimeoutError,
};

const QueueSocket::Half QueueSocket::kWriteHalf{
    &QueueSocket::m_writeQueue,
    &QueueSocket::m_writeIntake,
    &QueueSocket::m_currentWrite,
    &QueueSocket::m_writeTimer,
    FlagStartingWriteTLS,
    FlagWritesPaused,
    FlagCloseAfterWrites,
    &QueueSocket::doWriteData,
    &QueueSocket::maybeDequeueWrite,
    &QueueSocket::suspendWriteSource,
    &QueueSocket::hasRoomToWrite,
    FlagCanAcceptBytes,
    &QueueSocket::writeStreamHasRoom,
    [](const TransferPacket& packet) {
        return static_cast<uint64_t>(static_cast<const WritePacket&>(packet).buffer.length());
    },
    "socket:shouldTimeoutWriteWithTag:elapsed:bytesDone:",
    &QueueSocketDelegate::socketShouldTimeoutWriteWithTag,
    &QueueSocket::writeTimeoutError,
};

const QueueSocket::Half& QueueSocket::otherHalf(const Half& half) {
    return &half == &kReadHalf ? kWriteHalf : kReadHalf;
}

void QueueSocket::enqueue(const Half& half, PacketPtr packet) {
    if (half.intake && m_orderedBlocks.load(std::memory_order_acquire) == 0) {
        if ((this->*half.intake).post(std::move(packet)))
            m_socketQueue->async([strongSelf = self(), &half] { ((*strongSelf).*half.dequeue)(); });
        return;
    }
    auto block = [packet = std::move(packet), &half](QueueSocket& socket) {
        if ((socket.m_flags & FlagStarted) && !(socket.m_flags & FlagForbidRequests)) {
            (socket.*half.queue).push_back(packet);
            (socket.*half.dequeue)();
        }
    };
    // With a block that acts at its place among the requests on its way, a request that would go to the
    // intake follows it as a block too: a drain that ran before that block could take it ahead of it.
    if (half.intake)
        runInRequestOrder(std::move(block));
    else
        m_socketQueue->async([strongSelf = self(), block = std::move(block)] { block(*strongSelf); });
}

void QueueSocket::runInRequestOrder(std::function<void(QueueSocket&)> block) {
    m_orderedBlocks.fetch_add(1, std::memory_order_relaxed);
    m_socketQueue->async([strongSelf = self(), block = std::move(block)] {
        strongSelf->takeRequests(kReadHalf);
        strongSelf->takeRequests(kWriteHalf);
        block(*strongSelf);
        strongSelf->settleRequests(kReadHalf);
        strongSelf->settleRequests(kWriteHalf);
        strongSelf->m_orderedBlocks.fetch_sub(1, std::memory_order_release);
    });
}

void QueueSocket::takeRequests(const Half& half) {
    if (!half.intake)
        return;
    auto posted = (this->*half.intake).take();
    auto& queue = this->*half.queue;
    while (!posted.empty()) {
        PacketPtr packet = posted.pop();
        if ((m_flags & FlagStarted) && !(m_flags & FlagForbidRequests))
            queue.push_back(std::move(packet));
    }
}

void QueueSocket::settleRequests(const Half& half) {
    if (!half.intake)
        return;
    bool kept = (m_flags & FlagStarted) && ((this->*half.current) || !(m_flags & FlagConnected));
    if (kept || giveBackIntake(half))
        return;
    // Posted since the take, by posters that found the intake kept and woke nobody.
    maybeDequeue(half);
}

bool QueueSocket::giveBackIntake(const Half& half) {
    return !half.intake || (this->*half.intake).release();
}

void QueueSocket::dropRequests() {
    for (const Half* half : {&kReadHalf, &kWriteHalf}) {
        if (!half->intake)
            continue;
        auto& intake = this->*half->intake;
        do {
            auto dropped = intake.take();
        } while (!intake.release());
    }
}

bool QueueSocket::maybeDequeue(const Half& half) {
    PacketPtr& current = this->*half.current;
    auto& queue = this->*half.queue;
    bool started = false;
    for (;;) {
        takeRequests(half);
        if (!(m_flags & FlagStarted)) {
            if (giveBackIntake(half))
                return false;
            continue;
        }
        // The intake stays with the socket queue: the request's end, or the connection, dequeues again.
        if (current || !(m_flags & FlagConnected))
            return false;
        if (queue.empty()) {
            if (giveBackIntake(half))
                break;
            continue; // posted since the take: its poster found the intake kept and woke nobody
        }
        current = queue.front();
        queue.pop_front();
        started = true;
        if (std::dynamic_pointer_cast<SpecialPacket>(current)) {
            m_flags |= half.startingTLS;
            maybeStartTLS();
        } else {
            setupTimerWithTimeout(half, std::static_pointer_cast<TransferPacket>(current)->timeout);
            (this->*half.step)();
        }
        // The step may have ended the request, and dequeued (or closed) from within: look again.
    }
    if (started)
        return false;
    if (!(m_flags & half.closeAfter))
        return true;
    if (drainedForClose())
        closeWithError(nullptr);
    return false;
}

float QueueSocket::progressOf(const Half& half, int64_t* tagPtr, uint64_t* donePtr,
                              uint64_t* totalPtr) const {
    float result = 0;
    runOnSocketQueue([&] {
        auto packet = std::dynamic_pointer_cast<TransferPacket>(this->*half.current);
        int64_t tag = packet ? packet->tag : 0;
        uint64_t done = packet ? packet->bytesDone : 0;
        uint64_t total = packet ? half.total(*packet) : 0;
        if (tagPtr)
            *tagPtr = tag;
        if (donePtr)
            *donePtr = done;
        if (totalPtr)
            *totalPtr = total;
        if (!packet)
            result = NAN;
        else
            result = total > 0 ? static_cast<float>(static_cast<double>(done) / total) : 1.0f;
    });
    return result;
}

void QueueSocket::quietSource(const Half& half) {
    if (!usingCFStreamForTLS() && (this->*half.sourceReady)())
        (this->*half.suspendSource)();
}

void QueueSocket::holdForTLS(const Half& half) {
    if (m_flags & otherHalf(half).startingTLS) {
        if (usingSecureTransportForTLS() && m_lastSSLHandshakeError == platform::errSSLWouldBlock)
            ssl_continueSSLHandshake();
        // Readiness the handshake did not take (it waits for the peer or the delegate's trust verdict)
        // is taken by its next step; until then it is of no use.
        if (m_flags & half.startingTLS)
            quietSource(half);
    } else if (!usingCFStreamForTLS()) {
        (this->*half.suspendSource)();
    }
}

void QueueSocket::endCurrent(const Half& half) {
    SourcePtr& timer = this->*half.timer;
    if (timer) {
        timer->cancel();
        timer.reset();
    }
    (this->*half.current).reset();
}

void QueueSocket::setupTimerWithTimeout(const Half& half, double timeout) {
    if (!sockets::hasTimeout(timeout))
        return;
    SourcePtr& timer = this->*half.timer;
    timer = platform::DispatchSource::createTimer(m_socketQueue);
    timer->setEventHandler([weak = weakSelf(), &half] {
        if (auto strongSelf = weak.lock())
            strongSelf->doTimeout(half);
    });
    timer->setTimer(sockets::deadlineAfter(timeout), platform::Duration::zero());
    timer->resume();
}

void QueueSocket::doTimeout(const Half& half) {
    // The engine stands still while the delegate decides.
    m_flags |= half.paused;

    auto current = std::dynamic_pointer_cast<TransferPacket>(this->*half.current);
    auto delegate = m_delegate.lock();
    if (!current || !m_delegateQueue || !delegate || !delegate->respondsTo(half.timeoutSelector)) {
        doTimeoutWithExtension(half, 0.0);
        return;
    }
    int64_t tag = current->tag;
    double elapsed = current->timeout;
    uint64_t bytesDone = current->bytesDone;
    auto socketQueue = m_socketQueue;
    notifyDelegate(half.timeoutSelector, [strongSelf = self(), current, tag, elapsed, bytesDone, socketQueue,
                                          &half](const QueueSocketDelegatePtr& delegate) {
        double timeoutExtension = ((*delegate).*half.shouldTimeout)(strongSelf, tag, elapsed, bytesDone);
        socketQueue->async([strongSelf, current, timeoutExtension, &half] {
            // The answer is about that request: if it has ended meanwhile (closed, and perhaps a new
            // connection transferring since), it must neither extend nor end whatever is current now.
            if ((*strongSelf).*half.current == current)
                strongSelf->doTimeoutWithExtension(half, timeoutExtension);
        });
    });
}

void QueueSocket::doTimeoutWithExtension(const Half& half, double timeoutExtension) {
    auto current = std::dynamic_pointer_cast<TransferPacket>(this->*half.current);
    if (!current)
        return;
    if (timeoutExtension <= 0.0) {
        closeWithError(half.timeoutError());
        return;
    }
    current->timeout += timeoutExtension;
    if (SourcePtr& timer = this->*half.timer)
        timer->setTimer(sockets::deadlineAfter(timeoutExtension), platform::Duration::zero());
    m_flags &= ~half.paused;
    (this->*half.step)();
}
