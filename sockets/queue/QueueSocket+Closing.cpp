// The single teardown path, the disconnect operations built on it, and the socket's error objects.
#include "sockets/common/SocketErrors.h"
#include "sockets/queue/QueueSocketHalf.h"

#include <cerrno>
#include <unistd.h>

namespace {

constexpr const char* kStringTable = "QueueSocket";

platform::ErrorPtr socketError(QueueSocketError code, const char* key, const char* defaultText) {
    return sockets::makeError(QueueSocketErrorDomain, code,
                              sockets::localizedText(key, defaultText, kStringTable));
}

} // namespace

// ---- Disconnecting ----

void QueueSocket::disconnect() {
    runOnSocketQueue([this] {
        if (m_flags & FlagStarted)
            closeWithError(nullptr);
    });
}

void QueueSocket::disconnectAfterReading() {
    disconnectAfter(FlagCloseAfterReads);
}

void QueueSocket::disconnectAfterWriting() {
    disconnectAfter(FlagCloseAfterWrites);
}

void QueueSocket::disconnectAfterReadingAndWriting() {
    disconnectAfter(FlagCloseAfterReads | FlagCloseAfterWrites);
}

void QueueSocket::disconnectAfter(uint32_t closeAfter) {
    runInRequestOrder([closeAfter](QueueSocket& socket) {
        if (socket.m_flags & FlagStarted) {
            socket.m_flags |= FlagForbidRequests | closeAfter;
            if (socket.drainedForClose())
                socket.closeWithError(nullptr);
        }
    });
}

bool QueueSocket::drainedForClose() const {
    if (!(m_flags & (FlagCloseAfterReads | FlagCloseAfterWrites)))
        return false;
    auto drained = [this](const Half& half) {
        return !(m_flags & half.closeAfter) || ((this->*half.queue).empty() && !(this->*half.current));
    };
    return drained(kReadHalf) && drained(kWriteHalf);
}

void QueueSocket::closeWithError(const platform::ErrorPtr& error) {
    // Advances stateIndex, so every late lookup, connect or trust answer is dropped.
    endConnectTimeout();
    endRequests();
    closeStreams();
    closeTLS();
    releaseDescriptors();

    m_socketFDBytesAvailable = 0;
    uint32_t oldFlags = m_flags;
    m_flags = 0;
    m_sslWriteCachedLength = 0;

    if (oldFlags & FlagStarted) {
        // While the socket is being destroyed there is no socket to hand out.
        QueueSocketPtr sock = (oldFlags & FlagDeallocating) ? nullptr : self();
        notifyDelegate(
            "socketDidDisconnect:withError:",
            [sock, error](const QueueSocketDelegatePtr& delegate) {
                delegate->socketDidDisconnect(sock, error);
            },
            // The close ends what the socket queue's block does, but for a socket let go of inside
            // someone else's block, which may go on with anything.
            !(oldFlags & FlagDeallocating));
    }
}

void QueueSocket::endRequests() {
    if (m_currentRead)
        endCurrent(kReadHalf);
    if (m_currentWrite)
        endCurrent(kWriteHalf);
    m_readQueue.clear();
    m_writeQueue.clear();
    dropRequests();
    m_preBuffer->reset();
}

void QueueSocket::closeStreams() {
    if (!m_readStream && !m_writeStream)
        return;
    removeStreamsFromRunLoop();
    if (m_readStream) {
        m_readStream->setClient(platform::kCFStreamEventNone, {});
        m_readStream->close();
        m_readStream.reset();
    }
    if (m_writeStream) {
        m_writeStream->setClient(platform::kCFStreamEventNone, {});
        m_writeStream->close();
        m_writeStream.reset();
    }
}

void QueueSocket::closeTLS() {
    if (m_sslPreBuffer)
        m_sslPreBuffer->reset();
    m_lastSSLHandshakeError = 0;
    m_sslErrCode = 0;
    if (m_sslContext) {
        m_sslContext->close();
        m_sslContext.reset();
    }
}

void QueueSocket::releaseDescriptors() {
    if (m_accept4Source || m_accept6Source || m_acceptUNSource || m_readSource || m_writeSource) {
        cancelSources();
        return;
    }
    closeDescriptor(m_socket4FD);
    closeDescriptor(m_socket6FD);
    if (closeDescriptor(m_socketUN) && m_socketUrl) {
        ::unlink(m_socketUrl->path().c_str());
        m_socketUrl.reset();
    }
}

bool QueueSocket::closeDescriptor(int& fd) {
    if (fd == -1)
        return false;
    ::close(fd);
    fd = -1;
    return true;
}

void QueueSocket::cancelSources() {
    // The listening sources' cancel handlers close their descriptors, once each, after their last event.
    for (SourcePtr* source : {&m_accept4Source, &m_accept6Source, &m_acceptUNSource}) {
        if (*source) {
            (*source)->cancel();
            source->reset();
        }
    }
    // A connected descriptor is closed here, at once: once both its sources are cancelled neither
    // watches it, and no handler of theirs can still reach it (they run on this queue, or on none once
    // the socket is going away, and none starts after the cancel). So the end leaves for the peer with
    // the close, and the queue gets no cancel blocks to run after it.
    int connectedFD = m_readSource ? m_readSource->handle() : m_writeSource ? m_writeSource->handle() : -1;
    if (m_readSource) {
        m_readSource->cancel();
        // A suspended source never lets go of itself.
        resumeReadSource();
        m_readSource.reset();
    }
    if (m_writeSource) {
        m_writeSource->cancel();
        resumeWriteSource();
        m_writeSource.reset();
    }
    if (connectedFD != -1)
        ::close(connectedFD);
    m_socket4FD = -1;
    m_socket6FD = -1;
    m_socketUN = -1;
}

// ---- Errors ----

platform::ErrorPtr QueueSocket::badConfigError(const std::string& errMsg) {
    return sockets::makeError(QueueSocketErrorDomain, QueueSocketBadConfigError, errMsg);
}

platform::ErrorPtr QueueSocket::badParamError(const std::string& errMsg) {
    return sockets::makeError(QueueSocketErrorDomain, QueueSocketBadParamError, errMsg);
}

platform::ErrorPtr QueueSocket::gaiError(int gai_error) {
    return sockets::gaiError(gai_error);
}

platform::ErrorPtr QueueSocket::errnoErrorWithReason(const std::string& reason) {
    return sockets::errnoError(errno, reason);
}

platform::ErrorPtr QueueSocket::errnoError() {
    return sockets::errnoError(errno);
}

platform::ErrorPtr QueueSocket::sslError(platform::OSStatus ssl_error) {
    return sockets::sslError(ssl_error);
}

platform::ErrorPtr QueueSocket::connectTimeoutError() {
    return socketError(QueueSocketConnectTimeoutError, "QueueSocketConnectTimeoutError",
                       "Attempt to connect to host timed out");
}

platform::ErrorPtr QueueSocket::readMaxedOutError() {
    return socketError(QueueSocketReadMaxedOutError, "QueueSocketReadMaxedOutError",
                       "Read operation reached set maximum length");
}

platform::ErrorPtr QueueSocket::readTimeoutError() {
    return socketError(QueueSocketReadTimeoutError, "QueueSocketReadTimeoutError",
                       "Read operation timed out");
}

platform::ErrorPtr QueueSocket::writeTimeoutError() {
    return socketError(QueueSocketWriteTimeoutError, "QueueSocketWriteTimeoutError",
                       "Write operation timed out");
}

platform::ErrorPtr QueueSocket::connectionClosedError() {
    return socketError(QueueSocketClosedError, "QueueSocketClosedError", "Socket closed by remote peer");
}

platform::ErrorPtr QueueSocket::otherError(const std::string& errMsg) {
    return sockets::makeError(QueueSocketErrorDomain, QueueSocketOtherError, errMsg);
}
