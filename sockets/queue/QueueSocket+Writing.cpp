// The write half: queued write requests, the write engine that pushes the current request into the
// descriptor (plain, through the TLS engine, or through the stream pair), and the per-request time-out
// with the delegate's extension.
#include "sockets/queue/QueueSocketHalf.h"

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>

using platform::ErrorPtr;
using sockets::SpecialPacket;
using sockets::WritePacket;

namespace {

constexpr size_t kTlsWriteChunk = 32768;

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

QueueSocket::WriteStep QueueSocket::writeToSocket(const WritePacket& packet) {
    WriteStep step;
    // MSG_NOSIGNAL: a peer that reset the connection must cost an error, not the process.
    ssize_t result = ::send(activeSocketFD(), packet.buffer.bytes() + packet.bytesDone,
                            static_cast<size_t>(packet.buffer.length() - packet.bytesDone), MSG_NOSIGNAL);
    if (result >= 0)
        step.bytesWritten = static_cast<uint64_t>(result);
    else if (errno == EWOULDBLOCK || errno == EAGAIN)
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
        if (step.bytesWritten > 0) {
            uint64_t bytesWritten = step.bytesWritten;
            int64_t tag = packet.tag;
            notifyDelegate("socket:didWritePartialDataOfLength:tag:",
                           [strongSelf = self(), bytesWritten, tag](const QueueSocketDelegatePtr& delegate) {
                               delegate->socketDidWritePartialDataOfLength(strongSelf, bytesWritten, tag);
                           });
        }
    }
    if (step.error)
        closeWithError(step.error);
}

void QueueSocket::completeCurrentWrite() {
    int64_t tag = std::static_pointer_cast<WritePacket>(m_currentWrite)->tag;
    notifyDelegate("socket:didWriteDataWithTag:",
                   [strongSelf = self(), tag](const QueueSocketDelegatePtr& delegate) {
                       delegate->socketDidWriteDataWithTag(strongSelf, tag);
                   });
    endCurrent(kWriteHalf);
}
