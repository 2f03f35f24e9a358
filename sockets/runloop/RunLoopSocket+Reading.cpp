#include "sockets/runloop/RunLoopSocket.h"

#include <algorithm>
#include <cstring>

// MARK: - Read requests

void RunLoopSocket::readDataWithTimeout(double timeout, int64_t tag) {
    queueRead(nullptr, 0, 0, timeout, 0, std::nullopt, tag);
}

void RunLoopSocket::readDataWithTimeout(double timeout, BufferPtr buffer, uint64_t offset, int64_t tag) {
    queueRead(std::move(buffer), offset, 0, timeout, 0, std::nullopt, tag);
}

void RunLoopSocket::readDataWithTimeout(double timeout, BufferPtr buffer, uint64_t offset, uint64_t length,
                                        int64_t tag) {
    queueRead(std::move(buffer), offset, length, timeout, 0, std::nullopt, tag);
}

void RunLoopSocket::readDataToLength(uint64_t length, double timeout, int64_t tag) {
    if (length > 0)
        queueRead(nullptr, 0, 0, timeout, length, std::nullopt, tag);
}

void RunLoopSocket::readDataToLength(uint64_t length, double timeout, BufferPtr buffer, uint64_t offset,
                                     int64_t tag) {
    if (length > 0)
        queueRead(std::move(buffer), offset, 0, timeout, length, std::nullopt, tag);
}

void RunLoopSocket::readDataToData(const std::optional<platform::Data>& data, double timeout, int64_t tag) {
    queueTermRead(data, timeout, nullptr, 0, 0, tag);
}

void RunLoopSocket::readDataToData(const std::optional<platform::Data>& data, double timeout,
                                   BufferPtr buffer, uint64_t offset, int64_t tag) {
    queueTermRead(data, timeout, std::move(buffer), offset, 0, tag);
}

void RunLoopSocket::readDataToData(const std::optional<platform::Data>& data, double timeout, uint64_t length,
                                   int64_t tag) {
    queueTermRead(data, timeout, nullptr, 0, length, tag);
}

void RunLoopSocket::readDataToData(const std::optional<platform::Data>& data, double timeout,
                                   BufferPtr buffer, uint64_t offset, uint64_t length, int64_t tag) {
    queueTermRead(data, timeout, std::move(buffer), offset, length, tag);
}

void RunLoopSocket::queueTermRead(const std::optional<platform::Data>& term, double timeout, BufferPtr buffer,
                                  uint64_t offset, uint64_t maxLength, int64_t tag) {
    if (!term || term->empty() || (maxLength > 0 && maxLength < term->length()))
        return;
    queueRead(std::move(buffer), offset, maxLength, timeout, 0, term, tag);
}

void RunLoopSocket::queueRead(BufferPtr buffer, uint64_t offset, uint64_t maxLength, double timeout,
                              uint64_t readLength, const std::optional<platform::Data>& term, int64_t tag) {
    uint64_t bufferLength = buffer ? buffer->length() : 0;
    if ((m_flags & kNoNewRequests) || offset > bufferLength)
        return;
    m_reads.pending.push_back(std::make_shared<RunLoopReadPacket>(std::move(buffer), offset, maxLength,
                                                                  timeout, readLength, term, tag));
    scheduleDequeueRead();
}

float RunLoopSocket::progressOfReadReturningTag(int64_t* tag, uint64_t* done, uint64_t* total) const {
    return progressOf(kReading, tag, done, total);
}

// MARK: - Dequeuing

std::shared_ptr<RunLoopReadPacket> RunLoopSocket::currentReadPacket() const {
    return std::dynamic_pointer_cast<RunLoopReadPacket>(m_reads.current);
}

void RunLoopSocket::scheduleDequeueRead() {
    scheduleDequeue(kReading);
}

void RunLoopSocket::maybeDequeueRead() {
    maybeDequeue(kReading);
}

void RunLoopSocket::endCurrentRead() {
    endCurrent(kReading);
}

void RunLoopSocket::doReadTimeout(platform::Timer& timer) {
    doTimeout(kReading, timer);
}

// MARK: - The read step

bool RunLoopSocket::hasBytesAvailable() {
    return (m_flags & kStreamHasBytes) || !m_partialReadBuffer.empty() || m_readStream->hasBytesAvailable();
}

// Read-ahead bytes come first; the stream is read only once they are used up.
int64_t RunLoopSocket::readIntoBuffer(uint8_t* buffer, uint64_t maxLength) {
    if (m_partialReadBuffer.empty()) {
        m_flags &= ~kStreamHasBytes;
        return m_readStream->read(buffer, int64_t(maxLength));
    }
    size_t count = std::min<size_t>(m_partialReadBuffer.length(), size_t(maxLength));
    std::memcpy(buffer, m_partialReadBuffer.bytes(), count);
    m_partialReadBuffer.removeFirst(count);
    return int64_t(count);
}

void RunLoopSocket::doBytesAvailable() {
    auto packet = currentReadPacket();
    if (!packet || !m_readStream)
        return;
    ReadOutcome outcome = readPasses(*packet);
    if (!packet->isLengthRead() && !packet->isTermRead() && packet->bytesDone > 0)
        outcome.done = true;
    finishReadStep(packet, outcome);
}

RunLoopSocket::ReadOutcome RunLoopSocket::readPasses(RunLoopReadPacket& packet) {
    ReadOutcome outcome;
    while (!outcome.done && !outcome.maxedOut && hasBytesAvailable()) {
        PassKind kind = PassKind::NonTerm;
        bool found = false;
        uint64_t chunk = chooseChunk(packet, &kind, &found);
        int64_t count = readIntoBuffer(packet.spaceFor(chunk), chunk);
        if (count < 0)
            outcome.streamError = true;
        if (count <= 0)
            break; // an error, or the end of the stream, which its own event reports
        packet.bytesDone += uint64_t(count);
        outcome.total += uint64_t(count);
        outcome.done = isReadDone(packet, uint64_t(count), kind, found);
        outcome.maxedOut = !outcome.done && packet.isTermRead() && packet.maxLength > 0 &&
                           packet.bytesDone >= packet.maxLength;
    }
    return outcome;
}

uint64_t RunLoopSocket::chooseChunk(const RunLoopReadPacket& packet, PassKind* kind, bool* found) const {
    if (!packet.isTermRead()) {
        *kind = PassKind::NonTerm;
        return packet.readLengthForNonTerm();
    }
    if (!m_partialReadBuffer.empty()) {
        *kind = PassKind::FromPreBuffer;
        return packet.readLengthForTermWithPreBuffer(m_partialReadBuffer, found);
    }
    if (m_flags & kPreBuffering) {
        *kind = PassKind::ReadAhead;
        return packet.prebufferReadLengthForTerm();
    }
    *kind = PassKind::Plain;
    return packet.readLengthForTerm();
}

bool RunLoopSocket::isReadDone(RunLoopReadPacket& packet, uint64_t count, PassKind kind, bool found) {
    switch (kind) {
    case PassKind::NonTerm:
        if (packet.isLengthRead())
            return packet.bytesDone == packet.readLength;
        return packet.maxLength > 0 && packet.bytesDone >= packet.maxLength;
    case PassKind::FromPreBuffer:
        return found;
    case PassKind::ReadAhead: {
        int64_t overflow = packet.searchForTermAfterPreBuffering(count);
        if (overflow > 0)
            keepOverflow(packet, uint64_t(overflow));
        return overflow >= 0;
    }
    case PassKind::Plain:
        break;
    }
    uint64_t termLength = packet.term->length();
    return packet.bytesDone >= termLength && std::memcmp(packet.readBytes() + packet.bytesDone - termLength,
                                                         packet.term->bytes(), termLength) == 0;
}

// The bytes read past the terminator wait in the read-ahead buffer for the next request.
void RunLoopSocket::keepOverflow(RunLoopReadPacket& packet, uint64_t overflow) {
    packet.bytesDone -= overflow;
    m_partialReadBuffer.appendBytes(packet.readBytes() + packet.bytesDone, size_t(overflow));
}

void RunLoopSocket::finishReadStep(const std::shared_ptr<RunLoopReadPacket>& packet,
                                   const ReadOutcome& outcome) {
    auto stream = m_readStream;
    if (outcome.done) {
        completeCurrentRead();
        if (!outcome.streamError)
            scheduleDequeueRead();
    } else if (outcome.total > 0) {
        tellDelegate("onSocket:didReadPartialDataOfLength:tag:",
                     [&](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                         delegate.onSocketDidReadPartialDataOfLength(sock, outcome.total, packet->tag);
                     });
    }
    // A delegate that closed the socket, or made a new connection, has seen the end of this one.
    if (m_readStream != stream)
        return;
    if (outcome.streamError)
        closeWithError(errorFromCFStreamError(stream->error()));
    else if (outcome.maxedOut)
        closeWithError(getReadMaxedOutError());
}

void RunLoopSocket::completeCurrentRead() {
    auto packet = currentReadPacket();
    if (!packet)
        return;
    auto& buffer = *packet->buffer;
    if (packet->bufferOwner)
        buffer.setLength(size_t(packet->bytesDone));
    else if (buffer.length() > packet->originalBufferLength)
        buffer.setLength(
            size_t(std::max(packet->startOffset + packet->bytesDone, packet->originalBufferLength)));
    sockets::SharedBytes data(packet->buffer, size_t(packet->startOffset), size_t(packet->bytesDone));
    tellDelegate("onSocket:didReadData:withTag:",
                 [&](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                     delegate.onSocketDidReadData(sock, data, packet->tag);
                 });
    if (m_reads.current == packet)
        endCurrentRead();
}
