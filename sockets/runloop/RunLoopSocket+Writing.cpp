#include "sockets/runloop/RunLoopSocket.h"

#include <algorithm>

namespace {

constexpr uint64_t kWriteChunk = 4096;

} // namespace

// MARK: - Write requests

void RunLoopSocket::writeData(const std::optional<platform::Data>& data, double timeout, int64_t tag) {
    if (!data || data->empty() || (m_flags & kNoNewRequests))
        return;
    m_writes.pending.push_back(std::make_shared<RunLoopWritePacket>(*data, timeout, tag));
    scheduleDequeueWrite();
}

float RunLoopSocket::progressOfWriteReturningTag(int64_t* tag, uint64_t* done, uint64_t* total) const {
    return progressOf(kWriting, tag, done, total);
}

std::shared_ptr<RunLoopWritePacket> RunLoopSocket::currentWritePacket() const {
    return std::dynamic_pointer_cast<RunLoopWritePacket>(m_writes.current);
}

void RunLoopSocket::scheduleDequeueWrite() {
    scheduleDequeue(kWriting);
}

void RunLoopSocket::maybeDequeueWrite() {
    maybeDequeue(kWriting);
}

void RunLoopSocket::endCurrentWrite() {
    endCurrent(kWriting);
}

void RunLoopSocket::doWriteTimeout(platform::Timer& timer) {
    doTimeout(kWriting, timer);
}

// MARK: - The send step

bool RunLoopSocket::canAcceptBytes() {
    return (m_flags & kStreamCanAccept) || m_writeStream->canAcceptBytes();
}

void RunLoopSocket::doSendBytes() {
    auto packet = currentWritePacket();
    if (!packet || !m_writeStream)
        return;
    auto stream = m_writeStream;
    const uint64_t length = packet->buffer.length();
    uint64_t total = 0;
    while (packet->bytesDone < length) {
        if (!canAcceptBytes()) {
            if (total > 0)
                tellDelegate("onSocket:didWritePartialDataOfLength:tag:",
                             [&](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                                 delegate.onSocketDidWritePartialDataOfLength(sock, total, packet->tag);
                             });
            return;
        }
        uint64_t chunk = std::min(length - packet->bytesDone, kWriteChunk);
        int64_t written = stream->write(packet->buffer.bytes() + packet->bytesDone, int64_t(chunk));
        m_flags &= ~kStreamCanAccept;
        if (written < 0) {
            closeWithError(errorFromCFStreamError(stream->error()));
            return;
        }
        packet->bytesDone += uint64_t(written);
        total += uint64_t(written);
    }
    completeCurrentWrite();
}

void RunLoopSocket::completeCurrentWrite() {
    auto packet = currentWritePacket();
    if (!packet)
        return;
    tellDelegate("onSocket:didWriteDataWithTag:",
                 [&](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                     delegate.onSocketDidWriteDataWithTag(sock, packet->tag);
                 });
    if (m_writes.current == packet)
        endCurrentWrite();
    scheduleDequeueWrite();
}

// MARK: - TLS

void RunLoopSocket::startTLS(const platform::Value& tlsSettings) {
    auto marker = std::make_shared<RunLoopSpecialPacket>(tlsSettings.isNil() ? platform::Value::dictionary({})
                                                                             : tlsSettings);
    m_reads.pending.push_back(marker);
    scheduleDequeueRead();
    m_writes.pending.push_back(marker);
    scheduleDequeueWrite();
}

// Once the marker heads both queues, both streams take its settings and the handshake runs inside them.
void RunLoopSocket::maybeStartTLS() {
    if ((m_flags & (kReadSideAtTls | kWriteSideAtTls)) != (kReadSideAtTls | kWriteSideAtTls))
        return;
    auto marker = std::dynamic_pointer_cast<RunLoopSpecialPacket>(m_reads.current);
    bool applied = marker &&
                   m_readStream->setProperty(platform::kCFStreamPropertySSLSettings, marker->tlsSettings) &&
                   m_writeStream->setProperty(platform::kCFStreamPropertySSLSettings, marker->tlsSettings);
    if (!applied)
        closeWithError(getSocketError());
}

void RunLoopSocket::onTLSHandshakeSuccessful() {
    if ((m_flags & (kReadSideAtTls | kWriteSideAtTls)) != (kReadSideAtTls | kWriteSideAtTls))
        return;
    m_flags &= ~(kReadSideAtTls | kWriteSideAtTls);
    auto marker = m_reads.current;
    tellDelegate("onSocketDidSecure:", [](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
        delegate.onSocketDidSecure(sock);
    });
    if (m_reads.current == marker)
        endCurrentRead();
    if (m_writes.current == marker)
        endCurrentWrite();
    scheduleDequeueRead();
    scheduleDequeueWrite();
}
