// The write half: queued write requests, the write engine that pushes the current request into the
// descriptor (plain, through the TLS engine, or through the stream pair), and the per-request time-out
// with the delegate's extension.
#include "sockets/queue/QueueSocketHalf.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/socket.h>
#include <sys/uio.h>

using platform::ErrorPtr;
using sockets::SpecialPacket;
using sockets::WritePacket;

namespace {

constexpr size_t kTlsWriteChunk = 32768;
// Writes queued behind the current one that go out in the same system call: each call on a loopback or
// fast link costs about as much again as the copy of a 64 KiB write, so a caller that keeps several
// writes in flight pays it once per batch. Bounded so one call does not hold the socket queue long.
constexpr size_t kGatheredWrites = 8;
constexpr uint64_t kGatheredBytes = 256 * 1024;

} // namespace

void QueueSocket::writeData(const platform::Data& data, double timeout, int64_t tag) {
    if (data.empty())
        return;
    enqueue(kWriteHalf, std::allocate_shared<WritePacket>(sockets::RecordAllocator<WritePacket>(m_records),
                                                          data, timeout, tag));
}

float QueueSocket::progressOfWriteReturningTag(int64_t* tagPtr, uint64_t* donePtr, uint64_t* totalPtr) const {
    return progressOf(kWriteHalf, tagPtr, donePtr, totalPtr);
}

void QueueSocket::maybeDequeueWrite() {
    maybeDequeue(kWriteHalf);
}

// What one step of the write engine moved and found.
struct QueueSocket::WriteStep {
    uint64_t bytesWritten{0};
    uint64_t sentAhead{0}; // bytes of the requests queued behind, taken by the same call
    bool waiting{false};
    ErrorPtr error;
};

void QueueSocket::doWriteData() {
    if (!m_currentWrite || (m_flags & FlagWritesPaused)) {
        quietSource(kWriteHalf);
        return;
    }
    if (!(m_flags & FlagCanAcceptBytes)) {
        if (!usingCFStreamForTLS())
            resumeWriteSource();
        return;
    }
    if (m_flags & FlagStartingWriteTLS) {
        holdForTLS(kWriteHalf);
        return;
    }
    auto currentWrite = std::static_pointer_cast<WritePacket>(m_currentWrite);
    WriteStep step = usingCFStreamForTLS()    ? writeToStreamPair(*currentWrite)
                     : (m_flags & FlagSecure) ? writeThroughTLS(*currentWrite)
                                              : writeToSocket(*currentWrite);
    finishWriteStep(*currentWrite, step);
}

QueueSocket::WriteStep QueueSocket::writeToStreamPair(const WritePacket& packet) {
    WriteStep step;
    int64_t result = m_writeStream->write(packet.buffer.bytes() + packet.bytesDone,
                                          static_cast<int64_t>(packet.buffer.length() - packet.bytesDone));
    if (result < 0) {
        step.error = m_writeStream->copyError();
        if (!step.error)
            step.error = connectionClosedError();
    } else {
        step.bytesWritten = static_cast<uint64_t>(result);
        // The stream announces room again only after a write: never write twice on one event.
        step.waiting = true;
    }
    return step;
}

QueueSocket::WriteStep QueueSocket::writeThroughTLS(const WritePacket& packet) {
    WriteStep step;
    if (m_sslWriteCachedLength > 0 && confirmCachedTLSWrite(step, packet))
        return step;
    if (step.waiting || step.error)
        return step;
    const uint64_t length = packet.buffer.length();
    uint64_t offset = packet.bytesDone + step.bytesWritten;
    while (offset < length) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(length - offset, kTlsWriteChunk));
        size_t processed = 0;
        platform::OSStatus result = m_sslContext->write(packet.buffer.bytes() + offset, chunk, &processed);
        if (result == platform::errSSLWouldBlock) {
            step.waiting = true;
            // What the engine took (the whole chunk, or nothing while older bytes still wait) is
            // confirmed by the next step's empty write. Counting an untaken chunk would lose it.
            m_sslWriteCachedLength = processed;
            break;
        }
        if (result != platform::noErr) {
            step.error = sslError(result);
            break;
        }
        step.bytesWritten += processed;
        offset += processed;
    }
    return step;
}

// The bytes the engine took at the last step are confirmed by an empty write; true when they finish
// the request.
bool QueueSocket::confirmCachedTLSWrite(WriteStep& step, const WritePacket& packet) {
    size_t processed = 0;
    platform::OSStatus result = m_sslContext->write(nullptr, 0, &processed);
    if (result == platform::errSSLWouldBlock) {
        step.waiting = true;
        return false;
    }
    if (result != platform::noErr) {
        step.error = sslError(result);
        return false;
    }
    step.bytesWritten = m_sslWriteCachedLength;
    m_sslWriteCachedLength = 0;
    return packet.bytesDone + step.bytesWritten == packet.buffer.length();
}

// The current request goes out together with the plain writes queued right behind it (never past a TLS
// marker). The descriptor takes bytes in order, so what it took past the current request finishes the
// next ones in order (finishWriteStep).
QueueSocket::WriteStep QueueSocket::writeToSocket(const WritePacket& packet) {
    WriteStep step;
    std::array<iovec, kGatheredWrites> pieces;
    size_t count = 0;
    uint64_t total = 0;
    auto gather = [&](const WritePacket& write) {
        uint64_t left = write.buffer.length() - write.bytesDone;
        pieces[count++] = iovec{const_cast<uint8_t*>(write.buffer.bytes() + write.bytesDone), size_t(left)};
        total += left;
    };
    gather(packet);
    const uint64_t currentLeft = total;
    if (total < kGatheredBytes) {
        takeRequests(kWriteHalf);
        for (const PacketPtr& queued : m_writeQueue) {
            const auto* next = dynamic_cast<const WritePacket*>(queued.get());
            if (!next || count == pieces.size() || total >= kGatheredBytes)
                break;
            gather(*next);
        }
    }
    msghdr message{};
    message.msg_iov = pieces.data();
    message.msg_iovlen = count;
    // MSG_NOSIGNAL: a peer that reset the connection must cost an error, not the process.
    ssize_t result = ::sendmsg(activeSocketFD(), &message, MSG_NOSIGNAL);
    if (result >= 0) {
        step.bytesWritten = std::min(static_cast<uint64_t>(result), currentLeft);
        step.sentAhead = static_cast<uint64_t>(result) - step.bytesWritten;
        // Taking less than offered means the send buffer is full, wherever the call ended: the next
        // write would only be told so again.
        step.waiting = static_cast<uint64_t>(result) < total;
    } else if (errno == EWOULDBLOCK || errno == EAGAIN)
        step.waiting = true;
    else
        step.error = errnoErrorWithReason("Error in write() function");
    return step;
}

void QueueSocket::finishWriteStep(WritePacket& packet, const WriteStep& step) {
    if (step.waiting) {
        m_flags &= ~FlagCanAcceptBytes;
        if (!usingCFStreamForTLS())
            resumeWriteSource();
    }
    packet.bytesDone += step.bytesWritten;
    if (step.bytesWritten > 0 && packet.bytesDone == packet.buffer.length()) {
        completeCurrentWrite();
        if (step.sentAhead > 0)
            completeSentAhead(step.sentAhead);
        if (!step.error) {
            // The next write starts in a later block, so reads and other work can run between the two.
            m_socketQueue->async([weak = weakSelf()] {
                if (auto strongSelf = weak.lock())
                    strongSelf->maybeDequeueWrite();
            });
        }
    } else {
        if (!step.waiting && !step.error) {
            // The descriptor took only part of the data: the rest goes when it reports room.
            m_flags &= ~FlagCanAcceptBytes;
            if (!usingCFStreamForTLS())
                resumeWriteSource();
        }
        if (step.bytesWritten > 0)
            notifyDidWrite(packet.tag, step.bytesWritten);
    }
    if (step.error)
        closeWithError(step.error);
}

void QueueSocket::completeCurrentWrite() {
    notifyDidWrite(std::static_pointer_cast<WritePacket>(m_currentWrite)->tag);
    endCurrent(kWriteHalf);
}

// A whole write (no part length) or a part of one.
void QueueSocket::notifyDidWrite(int64_t tag, std::optional<uint64_t> partLength) {
    if (partLength) {
        notifyDelegate(
            "socket:didWritePartialDataOfLength:tag:",
            [strongSelf = self(), length = *partLength, tag](const QueueSocketDelegatePtr& delegate) {
                delegate->socketDidWritePartialDataOfLength(strongSelf, length, tag);
            });
        return;
    }
    notifyDelegate("socket:didWriteDataWithTag:",
                   [strongSelf = self(), tag](const QueueSocketDelegatePtr& delegate) {
                       delegate->socketDidWriteDataWithTag(strongSelf, tag);
                   });
}

// Bytes the descriptor took past the current request belong to the writes queued behind it, in order:
// each one they cover is reported written and leaves the queue; one they cover in part is reported
// partly written and stays at the front, to go on from there once it is the current request.
void QueueSocket::completeSentAhead(uint64_t bytes) {
    while (bytes > 0 && !m_writeQueue.empty()) {
        auto next = std::static_pointer_cast<WritePacket>(m_writeQueue.front());
        uint64_t taken = std::min(bytes, next->buffer.length() - next->bytesDone);
        next->bytesDone += taken;
        bytes -= taken;
        if (next->bytesDone < next->buffer.length()) {
            notifyDidWrite(next->tag, taken);
            return;
        }
        notifyDidWrite(next->tag);
        m_writeQueue.pop_front();
    }
}
