// The read half: queued read requests, the read engine that moves bytes from the descriptor (plain, or
// decrypted by the TLS engine or the stream pair) into the current request, end of stream, and the
// per-request time-out with the delegate's extension.
#include "sockets/common/Timeout.h"
#include "sockets/queue/QueueSocket.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <poll.h>
#include <unistd.h>

using platform::ErrorPtr;
using platform::MutableData;
using sockets::ReadPacket;
using sockets::SpecialPacket;

namespace {

constexpr uint64_t kDefaultTlsReadLength = 32768;
constexpr uint64_t kTlsReadSlack = 16384;
constexpr uint64_t kFlushChunk = 4096;

} // namespace

// MARK: - Requests

void QueueSocket::readDataWithTimeout(double timeout, int64_t tag) {
    readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void QueueSocket::readDataWithTimeout(double timeout, std::shared_ptr<MutableData> buffer, uint64_t offset,
                                      int64_t tag) {
    readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
}

void QueueSocket::readDataWithTimeout(double timeout, std::shared_ptr<MutableData> buffer, uint64_t offset,
                                      uint64_t length, int64_t tag) {
    if (offset > (buffer ? buffer->length() : 0))
        return;
    auto packet =
        std::make_shared<ReadPacket>(std::move(buffer), offset, length, timeout, 0, std::nullopt, tag);
    m_socketQueue->async([strongSelf = self(), packet] {
        if ((strongSelf->m_flags & FlagStarted) && !(strongSelf->m_flags & FlagForbidRequests)) {
            strongSelf->m_readQueue.push_back(packet);
            strongSelf->maybeDequeueRead();
        }
    });
}

void QueueSocket::readDataToLength(uint64_t length, double timeout, int64_t tag) {
    readDataToLength(length, timeout, nullptr, 0, tag);
}

void QueueSocket::readDataToLength(uint64_t length, double timeout, std::shared_ptr<MutableData> buffer,
                                   uint64_t offset, int64_t tag) {
    if (length == 0)
        return;
    if (offset > (buffer ? buffer->length() : 0))
        return;
    auto packet =
        std::make_shared<ReadPacket>(std::move(buffer), offset, 0, timeout, length, std::nullopt, tag);
    m_socketQueue->async([strongSelf = self(), packet] {
        if ((strongSelf->m_flags & FlagStarted) && !(strongSelf->m_flags & FlagForbidRequests)) {
            strongSelf->m_readQueue.push_back(packet);
            strongSelf->maybeDequeueRead();
        }
    });
}

void QueueSocket::readDataToData(const platform::Data& data, double timeout, int64_t tag) {
    readDataToData(data, timeout, nullptr, 0, 0, tag);
}

void QueueSocket::readDataToData(const platform::Data& data, double timeout,
                                 std::shared_ptr<MutableData> buffer, uint64_t offset, int64_t tag) {
    readDataToData(data, timeout, std::move(buffer), offset, 0, tag);
}

void QueueSocket::readDataToData(const platform::Data& data, double timeout, uint64_t length, int64_t tag) {
    readDataToData(data, timeout, nullptr, 0, length, tag);
}

void QueueSocket::readDataToData(const platform::Data& data, double timeout,
                                 std::shared_ptr<MutableData> buffer, uint64_t offset, uint64_t length,
                                 int64_t tag) {
    if (data.empty())
        return;
    if (offset > (buffer ? buffer->length() : 0))
        return;
    if (length > 0 && length < data.length())
        return;
    // The terminator is copied here, on the caller's thread: the caller may reuse its bytes at once.
    platform::Data terminator(data.bytes(), data.length());
    auto packet = std::make_shared<ReadPacket>(std::move(buffer), offset, length, timeout, 0,
                                               std::move(terminator), tag);
    m_socketQueue->async([strongSelf = self(), packet] {
        if ((strongSelf->m_flags & FlagStarted) && !(strongSelf->m_flags & FlagForbidRequests)) {
            strongSelf->m_readQueue.push_back(packet);
            strongSelf->maybeDequeueRead();
        }
    });
}

float QueueSocket::progressOfReadReturningTag(int64_t* tagPtr, uint64_t* donePtr, uint64_t* totalPtr) const {
    float result = 0;
    runOnSocketQueue([&] {
        auto packet = std::dynamic_pointer_cast<ReadPacket>(m_currentRead);
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
            *totalPtr = packet->readLength;
        result = packet->readLength > 0
                     ? static_cast<float>(static_cast<double>(packet->bytesDone) / packet->readLength)
                     : 1.0f;
    });
    return result;
}

// MARK: - Engine

void QueueSocket::maybeDequeueRead() {
    if (m_currentRead || !(m_flags & FlagConnected))
        return;

    if (!m_readQueue.empty()) {
        m_currentRead = m_readQueue.front();
        m_readQueue.pop_front();
        if (std::dynamic_pointer_cast<SpecialPacket>(m_currentRead)) {
            m_flags |= FlagStartingReadTLS;
            maybeStartTLS();
        } else {
            setupReadTimerWithTimeout(std::static_pointer_cast<ReadPacket>(m_currentRead)->timeout);
            doReadData();
        }
    } else if (m_flags & FlagCloseAfterReads) {
        if (m_flags & FlagCloseAfterWrites) {
            if (m_writeQueue.empty() && !m_currentWrite)
                closeWithError(nullptr);
        } else {
            closeWithError(nullptr);
        }
    } else if (m_flags & FlagSecure) {
        flushSSLBuffers();
        // With nothing decrypted waiting, the source must stay on so an end of stream still arrives.
        if (m_preBuffer->availableBytes() == 0 && !usingCFStreamForTLS())
            resumeReadSource();
    }
}

void QueueSocket::flushSSLBuffers() {
    if (!(m_flags & FlagSecure) || m_preBuffer->availableBytes() > 0)
        return;

    if (usingCFStreamForTLS()) {
        if ((m_flags & FlagSecureBytesAvailable) && m_readStream && m_readStream->hasBytesAvailable()) {
            m_preBuffer->ensureCapacityForWrite(kFlushChunk);
            int64_t result =
                m_readStream->read(m_preBuffer->writeBuffer(), static_cast<int64_t>(kFlushChunk));
            if (result > 0)
                m_preBuffer->didWrite(static_cast<uint64_t>(result));
        }
        m_flags &= ~FlagSecureBytesAvailable;
        return;
    }

    if (!m_sslContext)
        return;
    auto estimate = [this] {
        uint64_t pending = m_sslPreBuffer ? m_sslPreBuffer->availableBytes() : 0;
        return pending + m_socketFDBytesAvailable + m_sslContext->bufferedReadSize();
    };
    uint64_t estimatedBytesAvailable = estimate();
    while (estimatedBytesAvailable > 0) {
        m_preBuffer->ensureCapacityForWrite(estimatedBytesAvailable);
        size_t processed = 0;
        platform::OSStatus status = m_sslContext->read(
            m_preBuffer->writeBuffer(), static_cast<size_t>(estimatedBytesAvailable), &processed);
        if (processed > 0)
            m_preBuffer->didWrite(processed);
        if (status != platform::noErr)
            break;
        estimatedBytesAvailable = estimate();
    }
}

void QueueSocket::doReadData() {
    // Gate: nothing may be read now.
    if (!m_currentRead || (m_flags & FlagReadsPaused)) {
        if (m_flags & FlagSecure)
            flushSSLBuffers();
        if (!usingCFStreamForTLS() && m_socketFDBytesAvailable > 0)
            suspendReadSource(); // level-triggered: it would fire again at once for bytes nobody takes
        return;
    }

    // Estimate what can be read.
    bool hasBytesAvailable = false;
    uint64_t estimatedBytesAvailable = 0;
    if (usingCFStreamForTLS()) {
        hasBytesAvailable =
            (m_flags & FlagSecureBytesAvailable) && m_readStream && m_readStream->hasBytesAvailable();
    } else {
        estimatedBytesAvailable = m_socketFDBytesAvailable;
        if ((m_flags & FlagSecure) && m_sslContext) {
            estimatedBytesAvailable += m_sslPreBuffer ? m_sslPreBuffer->availableBytes() : 0;
            estimatedBytesAvailable += m_sslContext->bufferedReadSize();
        }
        hasBytesAvailable = estimatedBytesAvailable > 0;
    }

    if (!hasBytesAvailable && m_preBuffer->availableBytes() == 0) {
        if (!usingCFStreamForTLS())
            resumeReadSource();
        return;
    }

    if (m_flags & FlagStartingReadTLS) {
        if (m_flags & FlagStartingWriteTLS) {
            if (usingSecureTransportForTLS() && m_lastSSLHandshakeError == platform::errSSLWouldBlock)
                ssl_continueSSLHandshake();
            // Bytes the handshake did not take (it waits for the peer's room or the delegate's trust
            // verdict) are taken by its next step; until then their readiness is of no use.
            if ((m_flags & FlagStartingReadTLS) && !usingCFStreamForTLS() && m_socketFDBytesAvailable > 0)
                suspendReadSource();
        } else if (!usingCFStreamForTLS()) {
            // Waiting for the write queue to reach the TLS marker; nothing may move until then.
            suspendReadSource();
        }
        return;
    }

    auto currentRead = std::static_pointer_cast<ReadPacket>(m_currentRead);
    bool done = false;
    ErrorPtr error;
    uint64_t totalBytesReadForCurrentRead = 0;

    auto copyFromPreBuffer = [&](uint64_t bytesToCopy) {
        currentRead->ensureCapacityForAdditionalDataOfLength(bytesToCopy);
        uint8_t* target =
            currentRead->buffer->mutableBytes() + currentRead->startOffset + currentRead->bytesDone;
        std::memcpy(target, m_preBuffer->readBuffer(), bytesToCopy);
        m_preBuffer->didRead(bytesToCopy);
        currentRead->bytesDone += bytesToCopy;
        totalBytesReadForCurrentRead += bytesToCopy;
    };

    // From the pre-buffer.
    if (m_preBuffer->availableBytes() > 0) {
        uint64_t bytesToCopy = currentRead->hasTerm()
                                   ? currentRead->readLengthForTermWithPreBuffer(*m_preBuffer, &done)
                                   : currentRead->readLengthForNonTermWithHint(m_preBuffer->availableBytes());
        copyFromPreBuffer(bytesToCopy);
        if (currentRead->readLength > 0) {
            done = currentRead->bytesDone == currentRead->readLength;
        } else if (currentRead->hasTerm()) {
            if (!done && currentRead->maxLength > 0 && currentRead->bytesDone >= currentRead->maxLength)
                error = readMaxedOutError();
        } else if (currentRead->maxLength > 0 && currentRead->bytesDone == currentRead->maxLength) {
            done = true;
        }
    }

    bool socketEOF = (m_flags & FlagReadEOF) != 0;
    bool waiting = !done && !error && !socketEOF && !hasBytesAvailable;

    // From the descriptor (the pre-buffer is empty by now).
    if (!done && !error && !socketEOF && hasBytesAvailable) {
        bool readIntoPreBuffer = false;
        uint8_t* buffer = nullptr;
        uint64_t bytesRead = 0;

        auto chooseTarget = [&](uint64_t length) {
            if (readIntoPreBuffer) {
                m_preBuffer->ensureCapacityForWrite(length);
                buffer = m_preBuffer->writeBuffer();
            } else {
                currentRead->ensureCapacityForAdditionalDataOfLength(length);
                buffer =
                    currentRead->buffer->mutableBytes() + currentRead->startOffset + currentRead->bytesDone;
            }
        };

        if (usingCFStreamForTLS()) {
            uint64_t length =
                currentRead->optimalReadLengthWithDefault(kDefaultTlsReadLength, &readIntoPreBuffer);
            chooseTarget(length);
            int64_t result = length > 0 ? m_readStream->read(buffer, static_cast<int64_t>(length)) : 1;
            if (length == 0) {
                waiting = true; // nothing may be taken now: wait for the next event instead of spinning
            } else if (result < 0) {
                error = m_readStream->copyError();
                if (!error)
                    error = connectionClosedError();
            } else if (result == 0) {
                socketEOF = true;
            } else {
                waiting = true;
                bytesRead = static_cast<uint64_t>(result);
            }
            m_flags &= ~FlagSecureBytesAvailable;
        } else if (m_flags & FlagSecure) {
            uint64_t defaultReadLength = kDefaultTlsReadLength;
            if (estimatedBytesAvailable > kDefaultTlsReadLength)
                defaultReadLength = estimatedBytesAvailable + kTlsReadSlack;
            uint64_t length =
                currentRead->optimalReadLengthWithDefault(defaultReadLength, &readIntoPreBuffer);
            chooseTarget(length);
            platform::OSStatus result = length > 0 ? platform::noErr : platform::errSSLWouldBlock;
            while (bytesRead < length) {
                size_t processed = 0;
                result = m_sslContext->read(buffer + bytesRead, static_cast<size_t>(length - bytesRead),
                                            &processed);
                bytesRead += processed;
                if (result != platform::noErr)
                    break;
            }
            if (result == platform::errSSLWouldBlock) {
                waiting = true;
            } else if (result == platform::errSSLClosedGraceful || result == platform::errSSLClosedAbort) {
                socketEOF = true;
                m_sslErrCode = result;
            } else if (result != platform::noErr) {
                error = sslError(result);
            }
        } else {
            int socketFD = m_socket4FD != -1 ? m_socket4FD : m_socket6FD != -1 ? m_socket6FD : m_socketUN;
            uint64_t length =
                currentRead->hasTerm()
                    ? currentRead->readLengthForTermWithHint(estimatedBytesAvailable, &readIntoPreBuffer)
                    : currentRead->readLengthForNonTermWithHint(estimatedBytesAvailable);
            chooseTarget(length);
            ssize_t result = length > 0 ? ::read(socketFD, buffer, length) : -1;
            if (length == 0) {
                waiting = true; // nothing may be taken; wait for the descriptor instead of spinning
            } else if (result < 0) {
                if (errno == EWOULDBLOCK || errno == EAGAIN)
                    waiting = true;
                else
                    error = errnoErrorWithReason("Error in read() function");
                m_socketFDBytesAvailable = 0;
            } else if (result == 0) {
                socketEOF = true;
                m_socketFDBytesAvailable = 0;
            } else {
                bytesRead = static_cast<uint64_t>(result);
                if (bytesRead < length || m_socketFDBytesAvailable <= bytesRead)
                    m_socketFDBytesAvailable = 0;
                else
                    m_socketFDBytesAvailable -= bytesRead;
                if (m_socketFDBytesAvailable == 0)
                    waiting = true;
            }
        }

        if (bytesRead > 0) {
            if (currentRead->readLength > 0) {
                currentRead->bytesDone += bytesRead;
                totalBytesReadForCurrentRead += bytesRead;
                done = currentRead->bytesDone == currentRead->readLength;
            } else if (currentRead->hasTerm()) {
                if (readIntoPreBuffer) {
                    m_preBuffer->didWrite(bytesRead);
                    bool found = false;
                    uint64_t bytesToCopy = currentRead->readLengthForTermWithPreBuffer(*m_preBuffer, &found);
                    copyFromPreBuffer(bytesToCopy);
                    done = found;
                } else {
                    int64_t overflow =
                        currentRead->searchForTermAfterPreBuffering(static_cast<int64_t>(bytesRead));
                    if (overflow == 0) {
                        currentRead->bytesDone += bytesRead;
                        totalBytesReadForCurrentRead += bytesRead;
                        done = true;
                    } else if (overflow > 0) {
                        // The terminator ended inside these bytes: what follows it belongs to later reads.
                        uint64_t underflow = bytesRead - static_cast<uint64_t>(overflow);
                        m_preBuffer->ensureCapacityForWrite(static_cast<uint64_t>(overflow));
                        const uint8_t* overflowStart = currentRead->buffer->bytes() +
                                                       currentRead->startOffset + currentRead->bytesDone +
                                                       underflow;
                        std::memcpy(m_preBuffer->writeBuffer(), overflowStart, static_cast<size_t>(overflow));
                        m_preBuffer->didWrite(static_cast<uint64_t>(overflow));
                        currentRead->bytesDone += underflow;
                        totalBytesReadForCurrentRead += underflow;
                        done = true;
                    } else {
                        currentRead->bytesDone += bytesRead;
                        totalBytesReadForCurrentRead += bytesRead;
                    }
                }
                if (!done && currentRead->maxLength > 0 && currentRead->bytesDone >= currentRead->maxLength)
                    error = readMaxedOutError();
            } else {
                if (readIntoPreBuffer) {
                    m_preBuffer->didWrite(bytesRead);
                    copyFromPreBuffer(bytesRead);
                } else {
                    currentRead->bytesDone += bytesRead;
                    totalBytesReadForCurrentRead += bytesRead;
                }
                done = true;
            }
        }
    }

    if (!done && currentRead->readLength == 0 && !currentRead->hasTerm() && totalBytesReadForCurrentRead > 0)
        done = true;

    if (done) {
        completeCurrentRead();
        if (!error && (!socketEOF || m_preBuffer->availableBytes() > 0))
            maybeDequeueRead();
    } else if (totalBytesReadForCurrentRead > 0) {
        uint64_t partialLength = totalBytesReadForCurrentRead;
        int64_t tag = currentRead->tag;
        notifyDelegate("socket:didReadPartialDataOfLength:tag:",
                       [strongSelf = self(), partialLength, tag](const QueueSocketDelegatePtr& delegate) {
                           delegate->socketDidReadPartialDataOfLength(strongSelf, partialLength, tag);
                       });
    }

    if (error) {
        closeWithError(error);
    } else if (socketEOF) {
        doReadEOF();
    } else if (waiting) {
        if (!usingCFStreamForTLS())
            resumeReadSource();
    } else if (!done && (m_flags & FlagSecure) && usingSecureTransportForTLS()) {
        // The step took all it asked for and the request wants more, but the rest may already sit
        // decrypted (or buffered) inside the TLS engine, where no descriptor event will announce it:
        // take it in another step instead of stalling until the peer happens to send again.
        m_socketQueue->async([weak = weakSelf()] {
            if (auto strongSelf = weak.lock())
                strongSelf->doReadData();
        });
    }
}

void QueueSocket::doReadEOF() {
    m_flags |= FlagReadEOF;
    if (m_flags & FlagSecure)
        flushSSLBuffers();

    bool shouldDisconnect = false;
    ErrorPtr error;
    if ((m_flags & FlagStartingReadTLS) || (m_flags & FlagStartingWriteTLS)) {
        // The handshake can no longer happen.
        shouldDisconnect = true;
        if (usingSecureTransportForTLS())
            error = sslError(platform::errSSLClosedAbort);
    } else if (m_flags & FlagReadStreamClosed) {
        shouldDisconnect = false;
    } else if (m_preBuffer->availableBytes() > 0) {
        shouldDisconnect = false; // later reads drain it first
    } else if (m_config & ConfigAllowHalfDuplex) {
        int socketFD = m_socket4FD != -1 ? m_socket4FD : m_socket6FD != -1 ? m_socket6FD : m_socketUN;
        pollfd pfd{socketFD, POLLOUT, 0};
        ::poll(&pfd, 1, 0);
        if (pfd.revents & POLLOUT) {
            m_flags |= FlagReadStreamClosed;
            notifyDelegate("socketDidCloseReadStream:",
                           [strongSelf = self()](const QueueSocketDelegatePtr& delegate) {
                               delegate->socketDidCloseReadStream(strongSelf);
                           });
        } else {
            shouldDisconnect = true;
        }
    } else {
        shouldDisconnect = true;
    }

    if (shouldDisconnect) {
        if (!error) {
            if (usingSecureTransportForTLS() && m_sslErrCode != platform::noErr &&
                m_sslErrCode != platform::errSSLClosedGraceful)
                error = sslError(m_sslErrCode);
            else
                error = connectionClosedError();
        }
        closeWithError(error);
    } else if (!usingCFStreamForTLS()) {
        suspendReadSource();
    }
}

void QueueSocket::completeCurrentRead() {
    auto currentRead = std::static_pointer_cast<ReadPacket>(m_currentRead);
    sockets::SharedBytes result;
    if (currentRead->bufferOwner) {
        currentRead->buffer->setLength(currentRead->bytesDone);
        result = sockets::SharedBytes(currentRead->buffer, 0, currentRead->bytesDone);
    } else {
        uint64_t readSize = currentRead->startOffset + currentRead->bytesDone;
        if (currentRead->buffer->length() > currentRead->originalBufferLength)
            currentRead->buffer->setLength(std::max(readSize, currentRead->originalBufferLength));
        // The delivered bytes hold the caller's buffer: they stay valid however long the delegate keeps
        // them, even once the caller has dropped its own reference.
        result = sockets::SharedBytes(currentRead->buffer, currentRead->startOffset, currentRead->bytesDone);
    }
    int64_t tag = currentRead->tag;
    notifyDelegate("socket:didReadData:withTag:",
                   [strongSelf = self(), result, tag](const QueueSocketDelegatePtr& delegate) {
                       delegate->socketDidReadData(strongSelf, result, tag);
                   });
    endCurrentRead();
}

void QueueSocket::endCurrentRead() {
    if (m_readTimer) {
        m_readTimer->cancel();
        m_readTimer.reset();
    }
    m_currentRead.reset();
}

// MARK: - Time-out

void QueueSocket::setupReadTimerWithTimeout(double timeout) {
    if (!sockets::hasTimeout(timeout))
        return;
    m_readTimer = platform::DispatchSource::createTimer(m_socketQueue);
    m_readTimer->setEventHandler([weak = weakSelf()] {
        if (auto strongSelf = weak.lock())
            strongSelf->doReadTimeout();
    });
    m_readTimer->setTimer(sockets::deadlineAfter(timeout), platform::Duration::zero());
    m_readTimer->resume();
}

void QueueSocket::doReadTimeout() {
    // The engine stands still while the delegate decides.
    m_flags |= FlagReadsPaused;

    auto currentRead = std::dynamic_pointer_cast<ReadPacket>(m_currentRead);
    auto delegate = m_delegate.lock();
    const char* selector = "socket:shouldTimeoutReadWithTag:elapsed:bytesDone:";
    if (!currentRead || !m_delegateQueue || !delegate || !delegate->respondsTo(selector)) {
        doReadTimeoutWithExtension(0.0);
        return;
    }
    int64_t tag = currentRead->tag;
    double elapsed = currentRead->timeout;
    uint64_t bytesDone = currentRead->bytesDone;
    auto socketQueue = m_socketQueue;
    notifyDelegate(selector, [strongSelf = self(), currentRead, tag, elapsed, bytesDone,
                              socketQueue](const QueueSocketDelegatePtr& delegate) {
        double timeoutExtension =
            delegate->socketShouldTimeoutReadWithTag(strongSelf, tag, elapsed, bytesDone);
        socketQueue->async([strongSelf, currentRead, timeoutExtension] {
            // The answer is about that request: if it has ended meanwhile (closed, and perhaps a new
            // connection reading since), it must neither extend nor end whatever is current now.
            if (strongSelf->m_currentRead == currentRead)
                strongSelf->doReadTimeoutWithExtension(timeoutExtension);
        });
    });
}

void QueueSocket::doReadTimeoutWithExtension(double timeoutExtension) {
    auto currentRead = std::dynamic_pointer_cast<ReadPacket>(m_currentRead);
    if (!currentRead)
        return;
    if (timeoutExtension > 0.0) {
        currentRead->timeout += timeoutExtension;
        if (m_readTimer)
            m_readTimer->setTimer(sockets::deadlineAfter(timeoutExtension), platform::Duration::zero());
        m_flags &= ~FlagReadsPaused;
        doReadData();
    } else {
        closeWithError(readTimeoutError());
    }
}
