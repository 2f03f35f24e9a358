#include "sockets/runloop/RunLoopSocket.h"

namespace {

constexpr size_t kUnreadChunk = 256;

} // namespace

void RunLoopSocket::disconnect() {
    auto keep = self(); // the delegate may let the socket go while it hears of the close
    close();
}

void RunLoopSocket::disconnectAfterReading() {
    m_flags |= kNoNewRequests | kDisconnectAfterReads;
    maybeScheduleDisconnect();
}

void RunLoopSocket::disconnectAfterWriting() {
    m_flags |= kNoNewRequests | kDisconnectAfterWrites;
    maybeScheduleDisconnect();
}

void RunLoopSocket::disconnectAfterReadingAndWriting() {
    m_flags |= kNoNewRequests | kDisconnectAfterReads | kDisconnectAfterWrites;
    maybeScheduleDisconnect();
}

// Every side named by a disconnect-after request has nothing left to do.
bool RunLoopSocket::wantsDisconnectNow() const {
    bool afterReads = m_flags & kDisconnectAfterReads;
    bool afterWrites = m_flags & kDisconnectAfterWrites;
    return (afterReads || afterWrites) && (!afterReads || m_reads.isIdle()) &&
           (!afterWrites || m_writes.isIdle());
}

void RunLoopSocket::maybeScheduleDisconnect() {
    if (wantsDisconnectNow())
        defer(Deferred::Close, &RunLoopSocket::disconnect);
}

void RunLoopSocket::closeWithError(const platform::ErrorPtr& err) {
    auto keep = self();
    m_flags |= kClosingWithError;
    uint64_t closes = m_closes;
    if (m_flags & kStarted) {
        recoverUnreadData();
        tellDelegate("onSocket:willDisconnectWithError:",
                     [&](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                         delegate.onSocketWillDisconnectWithError(sock, err);
                     });
    }
    // A delegate that closed the socket itself may have connected it again: that connection stays.
    if (m_closes == closes)
        close();
}

void RunLoopSocket::recoverUnreadData() {
    if (auto packet = currentReadPacket(); packet && packet->bytesDone > 0)
        m_partialReadBuffer.replaceBytes(0, 0, packet->readBytes(), size_t(packet->bytesDone));
    emptyQueues();
}

void RunLoopSocket::emptyQueues() {
    endCurrentRead();
    endCurrentWrite();
    m_reads.pending.clear();
    m_writes.pending.clear();
    m_binding.cancel(Deferred::ReadDequeue);
    m_binding.cancel(Deferred::WriteDequeue);
    m_flags &= ~kDequeuesScheduled;
}

void RunLoopSocket::close() {
    ++m_closes;
    emptyQueues();
    m_partialReadBuffer.setLength(0);
    m_binding.cancel(Deferred::Close);
    endConnectTimeout();
    closeStreams();
    closeSockets();
    m_binding.unbind();
    bool wasStarted = m_flags & kStarted;
    m_flags &= kPreBuffering;
    if (wasStarted)
        tellDelegate("onSocketDidDisconnect:",
                     [](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                         delegate.onSocketDidDisconnect(sock);
                     });
}

void RunLoopSocket::closeStreams() {
    if (m_readStream)
        runLoopUnscheduleReadStream();
    if (m_writeStream)
        runLoopUnscheduleWriteStream();
    // The streams close the descriptor they were made over (once both are closed).
    for (auto* stream : {static_cast<platform::SocketStream*>(m_readStream.get()),
                         static_cast<platform::SocketStream*>(m_writeStream.get())}) {
        if (stream)
            stream->close();
    }
    m_readStream.reset();
    m_writeStream.reset();
}

void RunLoopSocket::closeSockets() {
    for (auto* socket : {&m_socket4, &m_socket6}) {
        if (*socket)
            (*socket)->invalidate();
        socket->reset();
    }
    m_nativeSocket4 = -1;
    m_nativeSocket6 = -1;
    for (auto* source : {&m_source4, &m_source6}) {
        runLoopRemoveSource(*source);
        source->reset();
    }
}

std::optional<platform::Data> RunLoopSocket::unreadData() {
    if (!(m_flags & kClosingWithError) || !m_readStream)
        return std::nullopt;
    while (m_readStream->hasBytesAvailable()) {
        size_t held = m_partialReadBuffer.length();
        m_partialReadBuffer.setLength(held + kUnreadChunk);
        int64_t count = m_readStream->read(m_partialReadBuffer.mutableBytes() + held, int64_t(kUnreadChunk));
        m_partialReadBuffer.setLength(held + size_t(std::max<int64_t>(count, 0)));
        if (count <= 0)
            break;
    }
    return m_partialReadBuffer.data();
}
