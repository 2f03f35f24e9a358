// The stream pair over a connected descriptor and the one thread whose run loop delivers the events of
// every socket's pair. The thread starts with the first pair scheduled and ends 30 seconds after the
// last one is unscheduled, so a socket that reconnects within that time finds it still running.
#include "platform/foundation/Immortal.h"
#include "platform/foundation/Pause.h"
#include "platform/runloop/Thread.h"
#include "sockets/queue/QueueSocketHalf.h"

#include <chrono>
#include <mutex>

using platform::ReadStream;
using platform::StreamEventType;
using platform::WriteStream;

namespace {

constexpr auto kStreamThreadLinger = std::chrono::seconds(30);
constexpr auto kStreamPerformLinger = std::chrono::microseconds(30);

// Process-wide. The count and the thread are guarded by a plain lock: taking a use or letting it go is a
// few instructions, where a round through the setup queue would cost every connect and close two thread
// switches. The setup queue only runs the linger's handler.
struct StreamThreadState {
    std::mutex mutex;
    uint64_t useCount{0};
    std::shared_ptr<platform::Thread> thread;
    // One linger for the whole process, armed by the release that leaves the count at 0 while none is
    // pending. A burst of sockets closing and reconnecting moves only `lingerDeadline`; the linger, when
    // it fires early, arms itself again for the deadline it finds, so the burst costs the timer thread
    // no wake-up per socket.
    std::shared_ptr<platform::DispatchQueue> setupQueue =
        platform::DispatchQueue::create("QueueSocket-CFStreamThreadSetup");
    std::shared_ptr<platform::DispatchSource> linger;
    bool lingerPending{false};
    platform::MonoTime lingerDeadline{platform::DispatchTime::forever()};
    // The clock the pending linger was armed by; held, so no later clock can take its address.
    std::shared_ptr<platform::Clock> lingerClock;
};

StreamThreadState& streamThreadState() {
    // Never destroyed: the linger may still fire on the setup queue while the process exits.
    static platform::detail::Immortal<StreamThreadState> state;
    return state.get();
}

void armLingerLocked(StreamThreadState& state) {
    if (!state.linger) {
        state.linger = platform::DispatchSource::createTimer(state.setupQueue);
        state.linger->setEventHandler([&state] {
            std::lock_guard lock(state.mutex);
            state.lingerPending = false;
            if (state.useCount > 0 || !state.thread)
                return; // in use again: the next release arms the linger anew
            if (platform::Clock::now() < state.lingerDeadline) {
                armLingerLocked(state); // released again since this linger was armed
                return;
            }
            state.thread->cancel(); // also wakes its loop, which then sees the cancellation
            state.thread.reset();
        });
        state.linger->resume();
    }
    state.lingerPending = true;
    state.lingerClock = platform::Clock::currentShared();
    state.linger->setTimer(state.lingerDeadline, platform::Duration::max());
}

std::shared_ptr<platform::Thread> startStreamThreadIfNeeded() {
    auto& state = streamThreadState();
    std::lock_guard lock(state.mutex);
    if (state.useCount++ == 0 && !state.thread) {
        state.thread = platform::Thread::create("QueueSocket-CFStream", [] {
            // The socket queue waits on each scheduling and unscheduling; lingering, the thread finds
            // one that follows another within microseconds (a short connection's close after its
            // open, the scheduling after a wake ahead) awake, and answers its waiter before it sleeps.
            platform::RunLoop::current()->setPerformLinger(kStreamPerformLinger);
            platform::Thread::runUntilCancelled();
        });
        state.thread->start();
    }
    return state.thread;
}

// The running stream thread; only asked while the caller holds a use of it.
std::shared_ptr<platform::Thread> currentStreamThread() {
    auto& state = streamThreadState();
    std::lock_guard lock(state.mutex);
    return state.thread;
}

void stopStreamThreadIfNeeded() {
    // The thread outlives its last use by the linger, so that sockets closing and reconnecting in a
    // burst keep one thread.
    auto& state = streamThreadState();
    std::lock_guard lock(state.mutex);
    if (state.useCount == 0 || --state.useCount > 0)
        return;
    state.lingerDeadline = platform::DispatchTime::fromNow(kStreamThreadLinger);
    // A pending linger armed by another clock (a test's, installed or removed since) might only fire in
    // that clock's time: it is armed again in the current one.
    if (!state.lingerPending || state.lingerClock.get() != &platform::Clock::current())
        armLingerLocked(state);
}

} // namespace

bool QueueSocket::createReadAndWriteStream() {
    if (m_readStream || m_writeStream)
        return true;

    int socketFD = activeSocketFD();
    if (socketFD == -1 || !(m_flags & FlagConnected))
        return false;

    // The descriptor stays the socket's: only the close closes it.
    auto pair = platform::SocketStreamPair::createWithSocket(socketFD);
    if (pair.readStream)
        pair.readStream->setProperty(platform::kCFStreamPropertyShouldCloseNativeSocket, false);
    if (pair.writeStream)
        pair.writeStream->setProperty(platform::kCFStreamPropertyShouldCloseNativeSocket, false);
    if (!pair.readStream || !pair.writeStream) {
        if (pair.readStream)
            pair.readStream->close();
        if (pair.writeStream)
            pair.writeStream->close();
        return false;
    }
    m_readStream = std::move(pair.readStream);
    m_writeStream = std::move(pair.writeStream);
    return true;
}

namespace {

// Both streams are opened (each is tried) unless both are open already; true only if both opened.
bool openPair(const std::shared_ptr<ReadStream>& readStream,
              const std::shared_ptr<WriteStream>& writeStream) {
    if (!readStream || !writeStream)
        return false;
    if (readStream->status() != platform::kCFStreamStatusNotOpen &&
        writeStream->status() != platform::kCFStreamStatusNotOpen)
        return true;
    bool readOpened = readStream->open();
    bool writeOpened = writeStream->open();
    return readOpened && writeOpened;
}

// A stream's client: passes each event on with the stream it came from, and the stream's error for an
// error or end (read now, on the stream thread, as the event describes it).
template <typename Stream>
typename Stream::ClientCallback forwardingClient(
    std::function<void(std::weak_ptr<platform::Object>, StreamEventType, platform::ErrorPtr)> forward) {
    return [forward = std::move(forward)](Stream& stream, StreamEventType type) {
        bool failure =
            type == platform::kCFStreamEventErrorOccurred || type == platform::kCFStreamEventEndEncountered;
        forward(stream.shared_from_this(), type, failure ? stream.copyError() : nullptr);
    };
}

} // namespace

bool QueueSocket::registerForStreamCallbacksIncludingReadWrite(bool includeReadWrite) {
    if (!m_readStream || !m_writeStream)
        return false;
    StreamEventType failures = platform::kCFStreamEventErrorOccurred | platform::kCFStreamEventEndEncountered;
    bool readRegistered =
        m_readStream->setClient(failures | (includeReadWrite ? platform::kCFStreamEventHasBytesAvailable
                                                             : platform::kCFStreamEventNone),
                                forwardingClient<ReadStream>(streamEventForwarder(kReadHalf)));
    bool writeRegistered = m_writeStream->setClient(
        failures | (includeReadWrite ? platform::kCFStreamEventCanAcceptBytes : platform::kCFStreamEventNone),
        forwardingClient<WriteStream>(streamEventForwarder(kWriteHalf)));
    return readRegistered && writeRegistered;
}

std::function<void(std::weak_ptr<platform::Object>, StreamEventType, platform::ErrorPtr)>
QueueSocket::streamEventForwarder(const Half& half) {
    // Events arrive on the stream thread and are moved to the socket queue; there each one first checks
    // that its stream is still the socket's, so events of a closed or replaced pair are dropped.
    return [weak = weakSelf(), socketQueue = m_socketQueue,
            &half](std::weak_ptr<platform::Object> which, StreamEventType type, platform::ErrorPtr error) {
        socketQueue->async([weak, which, type, error, &half] {
            auto strongSelf = weak.lock();
            if (strongSelf && strongSelf->isCurrentStream(which))
                strongSelf->streamEvent(half, type, error);
        });
    };
}

void QueueSocket::streamEvent(const Half& half, StreamEventType type, const platform::ErrorPtr& error) {
    if (type != platform::kCFStreamEventHasBytesAvailable && type != platform::kCFStreamEventCanAcceptBytes) {
        streamDidFail(error, type == platform::kCFStreamEventEndEncountered);
        return;
    }
    uint32_t starting = FlagStartingReadTLS | FlagStartingWriteTLS;
    if ((m_flags & starting) != starting) {
        m_flags |= half.streamReadyFlag;
        (this->*half.step)();
    } else if ((this->*half.streamReady)()) {
        // The first bytes (or room) after the TLS settings tell that the handshake is through.
        m_flags |= half.streamReadyFlag;
        cf_finishSSLHandshake();
    }
}

bool QueueSocket::readStreamHasBytes() {
    return m_readStream->hasBytesAvailable();
}

bool QueueSocket::writeStreamHasRoom() {
    return m_writeStream->canAcceptBytes();
}

bool QueueSocket::isCurrentStream(const std::weak_ptr<platform::Object>& stream) const {
    auto locked = stream.lock();
    if (!locked)
        return false;
    return locked.get() == static_cast<platform::Object*>(m_readStream.get()) ||
           locked.get() == static_cast<platform::Object*>(m_writeStream.get());
}

void QueueSocket::streamDidFail(const platform::ErrorPtr& streamError, bool endOfStream) {
    // While TLS does not run inside the pair, the descriptor and its sources carry the traffic, and the
    // read engine judges an end of stream (bytes still buffered, a half-closed connection kept open).
    if (endOfStream && !(m_flags & FlagTLSByCFStream))
        return;
    platform::ErrorPtr error = streamError;
    if (!error && endOfStream)
        error = connectionClosedError();
    uint32_t starting = FlagStartingReadTLS | FlagStartingWriteTLS;
    if ((m_flags & starting) == starting)
        cf_abortSSLHandshake(error);
    else
        closeWithError(error);
}

bool QueueSocket::addStreamsToRunLoop(bool* opened) {
    if (m_flags & FlagStreamsScheduled) {
        if (opened)
            *opened = openStreams();
        return true;
    }
    auto thread = startStreamThreadIfNeeded();
    auto readStream = m_readStream;
    auto writeStream = m_writeStream;
    // The socket queue waits for the block, so opening inside it keeps the order schedule, then open.
    bool scheduled =
        thread && thread->perform(
                      [readStream, writeStream, opened] {
                          auto loop = platform::RunLoop::current();
                          if (readStream)
                              readStream->scheduleWithRunLoop(loop, platform::RunLoop::defaultMode);
                          if (writeStream)
                              writeStream->scheduleWithRunLoop(loop, platform::RunLoop::defaultMode);
                          if (opened)
                              *opened = openPair(readStream, writeStream);
                      },
                      true);
    if (!scheduled) {
        stopStreamThreadIfNeeded();
        return false;
    }
    m_flags |= FlagStreamsScheduled;
    return true;
}

// The scheduling follows the connect callback within microseconds, and the stream thread most likely
// sleeps until then: told now, it wakes while the callback runs and lingers, so the scheduling finds it
// awake instead of first waiting for its wake-up. Without a thread running there is nothing to wake,
// and while cores are scarce the thread does not linger, so the early wake would only add one.
void QueueSocket::wakeStreamThreadAhead() {
    if (platform::detail::coresScarce())
        return;
    if (auto thread = currentStreamThread())
        thread->perform([] {});
}

void QueueSocket::removeStreamsFromRunLoop() {
    if (!(m_flags & FlagStreamsScheduled))
        return;
    auto readStream = m_readStream;
    auto writeStream = m_writeStream;
    // This socket's use keeps the thread running until the deferred release below.
    if (auto thread = currentStreamThread()) {
        thread->perform(
            [readStream, writeStream] {
                auto loop = platform::RunLoop::current();
                if (readStream)
                    readStream->unscheduleFromRunLoop(loop, platform::RunLoop::defaultMode);
                if (writeStream)
                    writeStream->unscheduleFromRunLoop(loop, platform::RunLoop::defaultMode);
            },
            true);
    }
    stopStreamThreadIfNeeded();
    m_flags &= ~FlagStreamsScheduled;
}

bool QueueSocket::openStreams() {
    return openPair(m_readStream, m_writeStream);
}
