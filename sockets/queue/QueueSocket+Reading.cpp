// The read half: queued read requests, the read engine that moves bytes from the descriptor (plain, or
// decrypted by the TLS engine or the stream pair) into the current request, end of stream, and the
// per-request time-out with the delegate's extension.
#include "sockets/queue/QueueSocketHalf.h"

#include <array>
#include <atomic>
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

// A read's own buffer goes to whoever its bytes are delivered to, so each read needs one; the next
// reads take the ones let go instead of allocating (and faulting in) fresh pages per read. Spares are
// handed over whole through atomic slots, from whichever thread let go to whichever makes a request.
struct QueueSocket::ReadBuffers : std::enable_shared_from_this<ReadBuffers> {
    static constexpr size_t kLargestKept = 256 * 1024;

    explicit ReadBuffers(std::shared_ptr<sockets::RecordRecycler> records)
        : records(std::move(records)) {}

    std::shared_ptr<MutableData> obtain() {
        MutableData* buffer = spares.take();
        if (!buffer)
            buffer = new MutableData();
        return std::shared_ptr<MutableData>(
            buffer, [owner = shared_from_this()](MutableData* letGo) { owner->keep(letGo); },
            sockets::RecordAllocator<MutableData>(records));
    }

    void keep(MutableData* buffer) {
        if (buffer->capacity() > kLargestKept || !spares.keep(buffer))
            delete buffer;
    }

    static void dispose(MutableData* buffer) { delete buffer; }

    const std::shared_ptr<sockets::RecordRecycler> records;
    sockets::SpareSlots<MutableData, 4, &ReadBuffers::dispose> spares;
};

std::shared_ptr<QueueSocket::ReadBuffers>
QueueSocket::makeReadBuffers(std::shared_ptr<sockets::RecordRecycler> records) {
    return std::make_shared<ReadBuffers>(std::move(records));
}

std::shared_ptr<MutableData> QueueSocket::readBufferFor(const std::shared_ptr<MutableData>& callerBuffer) {
    return callerBuffer ? nullptr : m_readBuffers->obtain();
}

template <class... Arguments>
std::shared_ptr<ReadPacket> QueueSocket::makeReadPacket(Arguments&&... arguments) {
    return std::allocate_shared<ReadPacket>(sockets::RecordAllocator<ReadPacket>(m_records),
                                            std::forward<Arguments>(arguments)...);
}

// ---- Requests ----
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
    auto own = readBufferFor(buffer);
    enqueue(kReadHalf,
            makeReadPacket(std::move(buffer), offset, length, timeout, 0, std::nullopt, tag, std::move(own)));
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
    auto own = readBufferFor(buffer);
    enqueue(kReadHalf,
            makeReadPacket(std::move(buffer), offset, 0, timeout, length, std::nullopt, tag, std::move(own)));
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
    auto own = readBufferFor(buffer);
    enqueue(kReadHalf, makeReadPacket(std::move(buffer), offset, length, timeout, 0, std::move(terminator),
                                      tag, std::move(own)));
}

float QueueSocket::progressOfReadReturningTag(int64_t* tagPtr, uint64_t* donePtr, uint64_t* totalPtr) const {
    return progressOf(kReadHalf, tagPtr, donePtr, totalPtr);
}

// ---- Engine ----
void QueueSocket::maybeDequeueRead() {
    if (!maybeDequeue(kReadHalf) || !(m_flags & FlagSecure))
        return;
    flushSSLBuffers();
    // With nothing decrypted waiting, the source must stay on so an end of stream still arrives.
    if (m_preBuffer->availableBytes() == 0 && !usingCFStreamForTLS())
        resumeReadSource();
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
    uint64_t estimatedBytesAvailable = m_socketFDBytesAvailable + sslBytesPending();
    while (estimatedBytesAvailable > 0) {
        m_preBuffer->ensureCapacityForWrite(estimatedBytesAvailable);
        size_t processed = 0;
        platform::OSStatus status = m_sslContext->read(
            m_preBuffer->writeBuffer(), static_cast<size_t>(estimatedBytesAvailable), &processed);
        if (processed > 0)
            m_preBuffer->didWrite(processed);
        if (status != platform::noErr)
            break;
        estimatedBytesAvailable = m_socketFDBytesAvailable + sslBytesPending();
    }
}

uint64_t QueueSocket::sslBytesPending() const {
    uint64_t pending = m_sslPreBuffer ? m_sslPreBuffer->availableBytes() : 0;
    return pending + m_sslContext->bufferedReadSize();
}

// What one step of the read engine took and found.
struct QueueSocket::ReadStep {
    std::shared_ptr<ReadPacket> packet;
    uint64_t bytesTaken{0};
    bool done{false};
    bool waiting{false};
    bool socketEOF{false};
    ErrorPtr error;
};

// Bytes one read from the transport brought, and whether they sit in the pre-buffer or the request's.
struct QueueSocket::ReadArrival {
    uint64_t length{0};
    bool inPreBuffer{false};
};

void QueueSocket::doReadData() {
    if (!m_currentRead || (m_flags & FlagReadsPaused)) {
        if (m_flags & FlagSecure)
            flushSSLBuffers();
        quietSource(kReadHalf);
        return;
    }
    uint64_t estimate = 0;
    bool hasBytesAvailable = estimateReadableBytes(&estimate);
    const bool mayReadAhead = readAheadRoom(*m_currentRead) > estimate;
    if (!hasBytesAvailable && !mayReadAhead && m_preBuffer->availableBytes() == 0) {
        if (!usingCFStreamForTLS())
            resumeReadSource();
        return;
    }
    if (m_flags & FlagStartingReadTLS) {
        holdForTLS(kReadHalf);
        return;
    }

    ReadStep step;
    step.packet = std::static_pointer_cast<ReadPacket>(m_currentRead);
    if (m_preBuffer->availableBytes() > 0)
        readFromPreBuffer(step);
    step.socketEOF = (m_flags & FlagReadEOF) != 0;
    bool mayRead = !step.done && !step.error && !step.socketEOF;
    step.waiting = mayRead && !hasBytesAvailable && !mayReadAhead;
    // The pre-buffer is empty by now.
    if (mayRead && (hasBytesAvailable || mayReadAhead))
        readFromTransport(step, estimate);
    finishReadStep(step);
}

bool QueueSocket::estimateReadableBytes(uint64_t* estimate) {
    if (usingCFStreamForTLS()) {
        *estimate = 0;
        return (m_flags & FlagSecureBytesAvailable) && m_readStream && m_readStream->hasBytesAvailable();
    }
    *estimate = m_socketFDBytesAvailable;
    if ((m_flags & FlagSecure) && m_sslContext)
        *estimate += sslBytesPending();
    return *estimate > 0;
}

void QueueSocket::readFromPreBuffer(ReadStep& step) {
    ReadPacket& packet = *step.packet;
    uint64_t bytesToCopy = packet.hasTerm()
                               ? packet.readLengthForTermWithPreBuffer(*m_preBuffer, &step.done)
                               : packet.readLengthForNonTermWithHint(m_preBuffer->availableBytes());
    copyFromPreBuffer(step, bytesToCopy);
    if (packet.readLength > 0) {
        step.done = packet.bytesDone == packet.readLength;
    } else if (packet.hasTerm()) {
        if (!step.done && packet.maxLength > 0 && packet.bytesDone >= packet.maxLength)
            step.error = readMaxedOutError();
    } else if (packet.maxLength > 0 && packet.bytesDone == packet.maxLength) {
        step.done = true;
    }
}

void QueueSocket::copyFromPreBuffer(ReadStep& step, uint64_t length) {
    ReadPacket& packet = *step.packet;
    packet.ensureCapacityForAdditionalDataOfLength(length);
    std::memcpy(packet.buffer->mutableBytes() + packet.startOffset + packet.bytesDone,
                m_preBuffer->readBuffer(), length);
    m_preBuffer->didRead(length);
    packet.bytesDone += length;
    step.bytesTaken += length;
}

void QueueSocket::readFromTransport(ReadStep& step, uint64_t estimate) {
    ReadArrival arrival = usingCFStreamForTLS()    ? readFromStreamPair(step)
                          : (m_flags & FlagSecure) ? readThroughTLS(step, estimate)
                                                   : readFromSocket(step, estimate);
    if (arrival.length > 0)
        acceptBytesRead(step, arrival);
}

uint8_t* QueueSocket::readTarget(ReadStep& step, uint64_t length, bool intoPreBuffer) {
    if (intoPreBuffer) {
        m_preBuffer->ensureCapacityForWrite(length);
        return m_preBuffer->writeBuffer();
    }
    ReadPacket& packet = *step.packet;
    packet.ensureCapacityForAdditionalDataOfLength(length);
    return packet.buffer->mutableBytes() + packet.startOffset + packet.bytesDone;
}

QueueSocket::ReadArrival QueueSocket::readFromStreamPair(ReadStep& step) {
    ReadArrival arrival;
    uint64_t length = step.packet->optimalReadLengthWithDefault(kDefaultTlsReadLength, &arrival.inPreBuffer);
    uint8_t* buffer = readTarget(step, length, arrival.inPreBuffer);
    int64_t result = length > 0 ? m_readStream->read(buffer, static_cast<int64_t>(length)) : 1;
    if (length == 0) {
        step.waiting = true; // nothing may be taken now: wait for the next event instead of spinning
    } else if (result < 0) {
        step.error = m_readStream->copyError();
        if (!step.error)
            step.error = connectionClosedError();
    } else if (result == 0) {
        step.socketEOF = true;
    } else {
        step.waiting = true;
        arrival.length = static_cast<uint64_t>(result);
    }
    m_flags &= ~FlagSecureBytesAvailable;
    return arrival;
}

QueueSocket::ReadArrival QueueSocket::readThroughTLS(ReadStep& step, uint64_t estimate) {
    ReadArrival arrival;
    uint64_t defaultReadLength =
        estimate > kDefaultTlsReadLength ? estimate + kTlsReadSlack : kDefaultTlsReadLength;
    uint64_t length = step.packet->optimalReadLengthWithDefault(defaultReadLength, &arrival.inPreBuffer);
    uint8_t* buffer = readTarget(step, length, arrival.inPreBuffer);
    platform::OSStatus result = length > 0 ? platform::noErr : platform::errSSLWouldBlock;
    while (arrival.length < length) {
        size_t processed = 0;
        result = m_sslContext->read(buffer + arrival.length, static_cast<size_t>(length - arrival.length),
                                    &processed);
        arrival.length += processed;
        if (result != platform::noErr)
            break;
    }
    if (result == platform::errSSLWouldBlock) {
        step.waiting = true;
    } else if (result == platform::errSSLClosedGraceful || result == platform::errSSLClosedAbort) {
        step.socketEOF = true;
        m_sslErrCode = result;
    } else if (result != platform::noErr) {
        step.error = sslError(result);
    }
    return arrival;
}

// A read to length on a plain descriptor may ask for more than the last count said was there, up to
// the room its buffer already has: bytes that came since the count are taken in the same call instead
// of a second one after another round through the read source. The room is what the buffer holds
// anyway, so a length the peer claims still costs no more than the bytes it sends.
uint64_t QueueSocket::readAheadRoom(const sockets::Packet& current) const {
    if (m_flags & (FlagSecure | FlagReadEOF))
        return 0;
    auto* packet = dynamic_cast<const ReadPacket*>(&current);
    if (!packet || packet->readLength == 0 || packet->hasTerm())
        return 0;
    uint64_t used = packet->startOffset + packet->bytesDone;
    uint64_t room = packet->bufferOwner ? packet->buffer->capacity() : packet->buffer->length();
    return std::min(room > used ? room - used : 0, packet->readLength - packet->bytesDone);
}

QueueSocket::ReadArrival QueueSocket::readFromSocket(ReadStep& step, uint64_t estimate) {
    ReadArrival arrival;
    ReadPacket& packet = *step.packet;
    uint64_t length = packet.hasTerm()
                          ? packet.readLengthForTermWithHint(estimate, &arrival.inPreBuffer)
                          : std::max(packet.readLengthForNonTermWithHint(estimate), readAheadRoom(packet));
    uint8_t* buffer = readTarget(step, length, arrival.inPreBuffer);
    // Not waiting even on a descriptor someone made blocking: the length may pass what is there.
    ssize_t result = length > 0 ? ::recv(activeSocketFD(), buffer, length, MSG_DONTWAIT) : -1;
    if (length == 0) {
        step.waiting = true; // nothing may be taken; wait for the descriptor instead of spinning
    } else if (result < 0) {
        if (errno == EWOULDBLOCK || errno == EAGAIN)
            step.waiting = true;
        else
            step.error = errnoErrorWithReason("Error in read() function");
        m_socketFDBytesAvailable = 0;
    } else if (result == 0) {
        step.socketEOF = true;
        m_socketFDBytesAvailable = 0;
    } else {
        arrival.length = static_cast<uint64_t>(result);
        if (arrival.length < length || m_socketFDBytesAvailable <= arrival.length)
            m_socketFDBytesAvailable = 0;
        else
            m_socketFDBytesAvailable -= arrival.length;
        if (m_socketFDBytesAvailable == 0)
            step.waiting = true;
    }
    return arrival;
}

void QueueSocket::acceptBytesRead(ReadStep& step, const ReadArrival& arrival) {
    ReadPacket& packet = *step.packet;
    if (packet.hasTerm() && packet.readLength == 0) {
        acceptTermBytes(step, arrival);
        return;
    }
    if (arrival.inPreBuffer) {
        m_preBuffer->didWrite(arrival.length);
        copyFromPreBuffer(step, arrival.length);
    } else {
        packet.bytesDone += arrival.length;
        step.bytesTaken += arrival.length;
    }
    step.done = packet.readLength == 0 || packet.bytesDone == packet.readLength;
}

void QueueSocket::acceptTermBytes(ReadStep& step, const ReadArrival& arrival) {
    ReadPacket& packet = *step.packet;
    uint64_t taken = arrival.length;
    if (arrival.inPreBuffer) {
        m_preBuffer->didWrite(arrival.length);
        taken = packet.readLengthForTermWithPreBuffer(*m_preBuffer, &step.done);
        copyFromPreBuffer(step, taken);
        taken = 0;
    } else if (int64_t overflow = packet.searchForTermAfterPreBuffering(static_cast<int64_t>(arrival.length));
               overflow >= 0) {
        // The terminator ended inside these bytes: what follows it belongs to later reads.
        taken = arrival.length - static_cast<uint64_t>(overflow);
        if (overflow > 0) {
            m_preBuffer->ensureCapacityForWrite(static_cast<uint64_t>(overflow));
            std::memcpy(m_preBuffer->writeBuffer(),
                        packet.buffer->bytes() + packet.startOffset + packet.bytesDone + taken,
                        static_cast<size_t>(overflow));
            m_preBuffer->didWrite(static_cast<uint64_t>(overflow));
        }
        step.done = true;
    }
    packet.bytesDone += taken;
    step.bytesTaken += taken;
    if (!step.done && packet.maxLength > 0 && packet.bytesDone >= packet.maxLength)
        step.error = readMaxedOutError();
}

void QueueSocket::finishReadStep(ReadStep& step) {
    ReadPacket& packet = *step.packet;
    if (!step.done && packet.readLength == 0 && !packet.hasTerm() && step.bytesTaken > 0)
        step.done = true;

    if (step.done) {
        completeCurrentRead();
        if (!step.error && (!step.socketEOF || m_preBuffer->availableBytes() > 0))
            maybeDequeueRead();
    } else if (step.bytesTaken > 0) {
        uint64_t partialLength = step.bytesTaken;
        int64_t tag = packet.tag;
        notifyDelegate("socket:didReadPartialDataOfLength:tag:",
                       [strongSelf = self(), partialLength, tag](const QueueSocketDelegatePtr& delegate) {
                           delegate->socketDidReadPartialDataOfLength(strongSelf, partialLength, tag);
                       });
    }

    if (step.error) {
        closeWithError(step.error);
    } else if (step.socketEOF) {
        doReadEOF();
    } else if (step.waiting) {
        if (!usingCFStreamForTLS())
            resumeReadSource();
    } else if (!step.done && (m_flags & FlagSecure) && usingSecureTransportForTLS()) {
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
        pollfd pfd{activeSocketFD(), POLLOUT, 0};
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
    endCurrent(kReadHalf);
}
