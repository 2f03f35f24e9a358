// The write half: queued write requests, the write engine that pushes the current request into the
// descriptor (plain, through the TLS engine, or through the stream pair), and the per-request time-out
// with the delegate's extension.
#include "sockets/common/Timeout.h"
#include "sockets/queue/QueueSocket.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
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
    auto packet = std::make_shared<WritePacket>(data, timeout, tag);
    m_socketQueue->async([strongSelf = self(), packet] {
        if ((strongSelf->m_flags & FlagStarted) && !(strongSelf->m_flags & FlagForbidRequests)) {
            strongSelf->m_writeQueue.push_back(packet);
            strongSelf->maybeDequeueWrite();
        }
    });
}

float QueueSocket::progressOfWriteReturningTag(int64_t* tagPtr, uint64_t* donePtr, uint64_t* totalPtr) const {
    float result = 0;
    runOnSocketQueue([&] {
        auto packet = std::dynamic_pointer_cast<WritePacket>(m_currentWrite);
        if (!packet) {
            if (tagPtr)
                *tagPtr = 0;
            if (donePtr)
                *donePtr = 0;
            if (totalPtr)
                *totalPtr = 0;
            result = NAN;
            return;
        }
        if (tagPtr)
            *tagPtr = packet->tag;
        if (donePtr)
            *donePtr = packet->bytesDone;
        if (totalPtr)
            *totalPtr = packet->buffer.length();
        result = static_cast<float>(static_cast<double>(packet->bytesDone) / packet->buffer.length());
    });
    return result;
}

void QueueSocket::maybeDequeueWrite() {
    if (m_currentWrite || !(m_flags & FlagConnected))
        return;

    if (!m_writeQueue.empty()) {
        m_currentWrite = m_writeQueue.front();
        m_writeQueue.pop_front();
        if (std::dynamic_pointer_cast<SpecialPacket>(m_currentWrite)) {
            m_flags |= FlagStartingWriteTLS;
            maybeStartTLS();
        } else {
            setupWriteTimerWithTimeout(std::static_pointer_cast<WritePacket>(m_currentWrite)->timeout);
            doWriteData();
        }
    } else if (m_flags & FlagCloseAfterWrites) {
        if (m_flags & FlagCloseAfterReads) {
            if (m_readQueue.empty() && !m_currentRead)
                closeWithError(nullptr);
        } else {
            closeWithError(nullptr);
        }
    }
}

void QueueSocket::doWriteData() {
    if (!m_currentWrite || (m_flags & FlagWritesPaused)) {
        // Level-triggered: with room and nothing to write it would fire again at once.
        if (!usingCFStreamForTLS() && (m_flags & FlagCanAcceptBytes))
            suspendWriteSource();
        return;
    }

    if (!(m_flags & FlagCanAcceptBytes)) {
        if (!usingCFStreamForTLS())
            resumeWriteSource();
        return;
    }

    if (m_flags & FlagStartingWriteTLS) {
        if (m_flags & FlagStartingReadTLS) {
            if (usingSecureTransportForTLS() && m_lastSSLHandshakeError == platform::errSSLWouldBlock)
                ssl_continueSSLHandshake();
            // Room is of no use to a handshake that now waits for the peer's bytes or the delegate's
            // trust verdict; the TLS engine turns the source back on when it has to wait for room.
            if ((m_flags & FlagStartingWriteTLS) && !usingCFStreamForTLS() && (m_flags & FlagCanAcceptBytes))
                suspendWriteSource();
        } else if (!usingCFStreamForTLS()) {
            // Waiting for the read queue to reach the TLS marker.
            suspendWriteSource();
        }
        return;
    }

    auto currentWrite = std::static_pointer_cast<WritePacket>(m_currentWrite);
    bool waiting = false;
    ErrorPtr error;
    uint64_t bytesWritten = 0;
    const uint8_t* bytes = currentWrite->buffer.bytes();
    const uint64_t length = currentWrite->buffer.length();

    if (usingCFStreamForTLS()) {
        int64_t result = m_writeStream->write(bytes + currentWrite->bytesDone,
                                              static_cast<int64_t>(length - currentWrite->bytesDone));
        if (result < 0) {
            error = m_writeStream->copyError();
            if (!error)
                error = connectionClosedError();
        } else {
            bytesWritten = static_cast<uint64_t>(result);
            // The stream announces room again only after a write: never write twice on one event.
            waiting = true;
        }
    } else if (m_flags & FlagSecure) {
        bool finishedByCache = false;
        if (m_sslWriteCachedLength > 0) {
            size_t processed = 0;
            platform::OSStatus result = m_sslContext->write(nullptr, 0, &processed);
            if (result == platform::noErr) {
                bytesWritten = m_sslWriteCachedLength;
                m_sslWriteCachedLength = 0;
                finishedByCache = currentWrite->bytesDone + bytesWritten == length;
            } else if (result == platform::errSSLWouldBlock) {
                waiting = true;
            } else {
                error = sslError(result);
            }
        }
        if (!finishedByCache && !waiting && !error) {
            uint64_t offset = currentWrite->bytesDone + bytesWritten;
            while (offset < length) {
                size_t chunk = static_cast<size_t>(std::min<uint64_t>(length - offset, kTlsWriteChunk));
                size_t processed = 0;
                platform::OSStatus result = m_sslContext->write(bytes + offset, chunk, &processed);
                if (result == platform::noErr) {
                    bytesWritten += processed;
                    offset += processed;
                } else if (result == platform::errSSLWouldBlock) {
                    waiting = true;
                    // What the engine took (the whole chunk, or nothing while older bytes still wait) is
                    // confirmed by the next step's empty write. Counting an untaken chunk would lose it.
                    m_sslWriteCachedLength = processed;
                    break;
                } else {
                    error = sslError(result);
                    break;
                }
            }
        }
    } else {
        int socketFD = m_socket4FD != -1 ? m_socket4FD : m_socket6FD != -1 ? m_socket6FD : m_socketUN;
        // MSG_NOSIGNAL: a peer that reset the connection must cost an error, not the process.
        ssize_t result = ::send(socketFD, bytes + currentWrite->bytesDone,
                                static_cast<size_t>(length - currentWrite->bytesDone), MSG_NOSIGNAL);
        if (result < 0) {
            if (errno == EWOULDBLOCK || errno == EAGAIN)
                waiting = true;
            else
                error = errnoErrorWithReason("Error in write() function");
        } else {
            bytesWritten = static_cast<uint64_t>(result);
        }
    }

    if (waiting) {
        m_flags &= ~FlagCanAcceptBytes;
        if (!usingCFStreamForTLS())
            resumeWriteSource();
    }

    bool done = false;
    if (bytesWritten > 0) {
        currentWrite->bytesDone += bytesWritten;
        done = currentWrite->bytesDone == length;
    }

    if (done) {
        completeCurrentWrite();
        if (!error) {
            // The next write starts in a later block, so reads and other work can run between the two.
            m_socketQueue->async([weak = weakSelf()] {
                if (auto strongSelf = weak.lock())
                    strongSelf->maybeDequeueWrite();
            });
        }
    } else {
        if (!waiting && !error) {
            // The descriptor took only part of the data: the rest goes when it reports room.
            m_flags &= ~FlagCanAcceptBytes;
            if (!usingCFStreamForTLS())
                resumeWriteSource();
        }
        if (bytesWritten > 0) {
            int64_t tag = currentWrite->tag;
            notifyDelegate("socket:didWritePartialDataOfLength:tag:",
                           [strongSelf = self(), bytesWritten, tag](const QueueSocketDelegatePtr& delegate) {
                               delegate->socketDidWritePartialDataOfLength(strongSelf, bytesWritten, tag);
                           });
        }
    }

    if (error)
        closeWithError(error);
}

void QueueSocket::completeCurrentWrite() {
    int64_t tag = std::static_pointer_cast<WritePacket>(m_currentWrite)->tag;
    notifyDelegate("socket:didWriteDataWithTag:",
                   [strongSelf = self(), tag](const QueueSocketDelegatePtr& delegate) {
                       delegate->socketDidWriteDataWithTag(strongSelf, tag);
                   });
    endCurrentWrite();
}

void QueueSocket::endCurrentWrite() {
    if (m_writeTimer) {
        m_writeTimer->cancel();
        m_writeTimer.reset();
    }
    m_currentWrite.reset();
}

void QueueSocket::setupWriteTimerWithTimeout(double timeout) {
    if (!sockets::hasTimeout(timeout))
        return;
    m_writeTimer = platform::DispatchSource::createTimer(m_socketQueue);
    m_writeTimer->setEventHandler([weak = weakSelf()] {
        if (auto strongSelf = weak.lock())
            strongSelf->doWriteTimeout();
    });
    m_writeTimer->setTimer(sockets::deadlineAfter(timeout), platform::Duration::zero());
    m_writeTimer->resume();
}

void QueueSocket::doWriteTimeout() {
    m_flags |= FlagWritesPaused;

    auto currentWrite = std::dynamic_pointer_cast<WritePacket>(m_currentWrite);
    auto delegate = m_delegate.lock();
    const char* selector = "socket:shouldTimeoutWriteWithTag:elapsed:bytesDone:";
    if (!currentWrite || !m_delegateQueue || !delegate || !delegate->respondsTo(selector)) {
        doWriteTimeoutWithExtension(0.0);
        return;
    }
    int64_t tag = currentWrite->tag;
    double elapsed = currentWrite->timeout;
    uint64_t bytesDone = currentWrite->bytesDone;
    auto socketQueue = m_socketQueue;
    notifyDelegate(selector, [strongSelf = self(), currentWrite, tag, elapsed, bytesDone,
                              socketQueue](const QueueSocketDelegatePtr& delegate) {
        double timeoutExtension =
            delegate->socketShouldTimeoutWriteWithTag(strongSelf, tag, elapsed, bytesDone);
        socketQueue->async([strongSelf, currentWrite, timeoutExtension] {
            // Only an answer about the request still current counts (see the read side).
            if (strongSelf->m_currentWrite == currentWrite)
                strongSelf->doWriteTimeoutWithExtension(timeoutExtension);
        });
    });
}

void QueueSocket::doWriteTimeoutWithExtension(double timeoutExtension) {
    auto currentWrite = std::dynamic_pointer_cast<WritePacket>(m_currentWrite);
    if (!currentWrite)
        return;
    if (timeoutExtension > 0.0) {
        currentWrite->timeout += timeoutExtension;
        if (m_writeTimer)
            m_writeTimer->setTimer(sockets::deadlineAfter(timeoutExtension), platform::Duration::zero());
        m_flags &= ~FlagWritesPaused;
        doWriteData();
    } else {
        closeWithError(writeTimeoutError());
    }
}
