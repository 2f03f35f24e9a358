// Closing (at once, or once the queued datagrams are out), the optional stream pairs over the datagram
// sockets with the process-wide listener thread that would schedule them, and the return to the
// foreground.
#include "platform/foundation/Immortal.h"
#include "platform/runloop/Thread.h"
#include "sockets/queue/QueueUdpSocket.h"

#include <mutex>

using platform::ErrorPtr;
using platform::ReadStream;
using platform::StreamEventType;
using platform::WriteStream;

namespace {

// Started once, runs until the process ends (its default body runs its loop until cancelled).
std::shared_ptr<platform::Thread> listenerThread() {
    static std::once_flag once;
    static platform::detail::Immortal<std::shared_ptr<platform::Thread>> thread;
    std::call_once(once, [] {
        thread.get() = platform::Thread::create("QueueUdpSocket-CFStream");
        thread.get()->start();
    });
    return thread.get();
}

} // namespace

// ---- Closing ----

void QueueUdpSocket::close() {
    runOnSocketQueue([this] { closeWithError(nullptr); });
}

void QueueUdpSocket::closeAfterSending() {
    runOnSocketQueueAsync([](QueueUdpSocket& socket) {
        socket.m_flags |= UdpFlagCloseWhenSent;
        if (!socket.m_currentSend && socket.m_sendQueue.empty())
            socket.closeWithError(nullptr);
    });
}

void QueueUdpSocket::closeWithError(const ErrorPtr& error) {
    if (m_currentSend)
        endCurrentSend();
    m_sendQueue.clear();
    uint32_t oldFlags = m_flags;
    removeStreamsFromRunLoop();
    closeReadAndWriteStreams();
    closeSockets();
    m_flags = oldFlags & UdpFlagDeallocating;
    if (oldFlags & UdpFlagSocketsOpen)
        notifyDidCloseWithError(error);
}

void QueueUdpSocket::applicationWillEnterForeground(const platform::Notification&) {
    runOnSocketQueueAsync([](QueueUdpSocket& socket) {
        socket.resumeReceiveSource(true);
        socket.resumeReceiveSource(false);
    });
}

// ---- Streams ----

std::shared_ptr<ReadStream> QueueUdpSocket::readStream() {
    if (!isOnSocketQueue() || !createReadAndWriteStreams(nullptr))
        return nullptr;
    return m_readStream4 ? m_readStream4 : m_readStream6;
}

std::shared_ptr<WriteStream> QueueUdpSocket::writeStream() {
    if (!isOnSocketQueue() || !createReadAndWriteStreams(nullptr))
        return nullptr;
    return m_writeStream4 ? m_writeStream4 : m_writeStream6;
}

bool QueueUdpSocket::createReadAndWriteStreams(ErrorPtr* errPtr) {
    if (m_readStream4 || m_readStream6 || m_writeStream4 || m_writeStream6)
        return true;
    auto fail = [&](const char* text) {
        closeReadAndWriteStreams();
        if (errPtr)
            *errPtr = otherError(text);
        return false;
    };
    if (m_socket4FD == -1 && m_socket6FD == -1)
        return fail("Cannot create streams without a file descriptor");
    if (m_socket4FD != -1) {
        auto pair = platform::SocketStreamPair::createWithSocket(m_socket4FD);
        m_readStream4 = std::move(pair.readStream);
        m_writeStream4 = std::move(pair.writeStream);
        if (!m_readStream4 || !m_writeStream4)
            return fail("Error in CFStreamCreatePairWithSocket() [IPv4]");
    }
    if (m_socket6FD != -1) {
        auto pair = platform::SocketStreamPair::createWithSocket(m_socket6FD);
        m_readStream6 = std::move(pair.readStream);
        m_writeStream6 = std::move(pair.writeStream);
        if (!m_readStream6 || !m_writeStream6)
            return fail("Error in CFStreamCreatePairWithSocket() [IPv6]");
    }
    // Closing a stream must never close the descriptor: the socket's sources own it.
    for (platform::SocketStream* stream : {static_cast<platform::SocketStream*>(m_readStream4.get()),
                                           static_cast<platform::SocketStream*>(m_writeStream4.get()),
                                           static_cast<platform::SocketStream*>(m_readStream6.get()),
                                           static_cast<platform::SocketStream*>(m_writeStream6.get())}) {
        if (stream)
            stream->setProperty(platform::kCFStreamPropertyShouldCloseNativeSocket, false);
    }
    return true;
}

bool QueueUdpSocket::registerForStreamCallbacks(ErrorPtr* errPtr) {
    std::weak_ptr<QueueUdpSocket> weak = self();
    auto socketQueue = m_socketQueue;
    StreamEventType events = platform::kCFStreamEventErrorOccurred | platform::kCFStreamEventEndEncountered;
    // Events come on the listener thread and are moved to the socket queue, where a stream that is no
    // longer this socket's is ignored.
    auto forward = [weak, socketQueue](platform::SocketStream& stream) {
        std::weak_ptr<platform::Object> which = stream.shared_from_this();
        ErrorPtr error = stream.copyError();
        if (!error)
            error = socketClosedError();
        socketQueue->async([weak, which, error] {
            if (auto socket = weak.lock())
                socket->streamEnded(which, error);
        });
    };
    auto readCallback = [forward](ReadStream& stream, StreamEventType) { forward(stream); };
    auto writeCallback = [forward](WriteStream& stream, StreamEventType) { forward(stream); };

    auto fail = [&](const char* text) {
        for (auto* stream : {m_readStream4.get(), m_readStream6.get()})
            if (stream)
                stream->setClient(platform::kCFStreamEventNone, {});
        for (auto* stream : {m_writeStream4.get(), m_writeStream6.get()})
            if (stream)
                stream->setClient(platform::kCFStreamEventNone, {});
        if (errPtr)
            *errPtr = otherError(text);
        return false;
    };
    if (m_socket4FD != -1) {
        if (!m_readStream4 || !m_writeStream4)
            return fail("Read/Write stream4 is null");
        if (!m_readStream4->setClient(events, readCallback) ||
            !m_writeStream4->setClient(events, writeCallback))
            return fail("Error in CFStreamSetClient(), [IPv4]");
    }
    if (m_socket6FD != -1) {
        if (!m_readStream6 || !m_writeStream6)
            return fail("Read/Write stream6 is null");
        if (!m_readStream6->setClient(events, readCallback) ||
            !m_writeStream6->setClient(events, writeCallback))
            return fail("Error in CFStreamSetClient() [IPv6]");
    }
    return true;
}

void QueueUdpSocket::streamEnded(const std::weak_ptr<platform::Object>& stream, const ErrorPtr& error) {
    auto locked = stream.lock();
    if (!locked)
        return;
    for (platform::Object* mine : {static_cast<platform::Object*>(m_readStream4.get()),
                                   static_cast<platform::Object*>(m_writeStream4.get()),
                                   static_cast<platform::Object*>(m_readStream6.get()),
                                   static_cast<platform::Object*>(m_writeStream6.get())}) {
        if (mine && mine == locked.get()) {
            closeWithError(error);
            return;
        }
    }
}

bool QueueUdpSocket::addStreamsToRunLoop(ErrorPtr*) {
    if (m_flags & UdpFlagStreamsScheduled)
        return true;
    auto readStream4 = m_readStream4, readStream6 = m_readStream6;
    auto writeStream4 = m_writeStream4, writeStream6 = m_writeStream6;
    listenerThread()->perform(
        [=] {
            auto loop = platform::RunLoop::current();
            for (platform::SocketStream* stream : {static_cast<platform::SocketStream*>(readStream4.get()),
                                                   static_cast<platform::SocketStream*>(readStream6.get()),
                                                   static_cast<platform::SocketStream*>(writeStream4.get()),
                                                   static_cast<platform::SocketStream*>(writeStream6.get())})
                if (stream)
                    stream->scheduleWithRunLoop(loop, platform::RunLoop::defaultMode);
        },
        true);
    m_flags |= UdpFlagStreamsScheduled;
    return true;
}

void QueueUdpSocket::removeStreamsFromRunLoop() {
    if (!(m_flags & UdpFlagStreamsScheduled))
        return;
    auto readStream4 = m_readStream4, readStream6 = m_readStream6;
    auto writeStream4 = m_writeStream4, writeStream6 = m_writeStream6;
    listenerThread()->perform(
        [=] {
            auto loop = platform::RunLoop::current();
            for (platform::SocketStream* stream : {static_cast<platform::SocketStream*>(readStream4.get()),
                                                   static_cast<platform::SocketStream*>(readStream6.get()),
                                                   static_cast<platform::SocketStream*>(writeStream4.get()),
                                                   static_cast<platform::SocketStream*>(writeStream6.get())})
                if (stream)
                    stream->unscheduleFromRunLoop(loop, platform::RunLoop::defaultMode);
        },
        true);
    m_flags &= ~UdpFlagStreamsScheduled;
}

bool QueueUdpSocket::openStreams(ErrorPtr* errPtr) {
    auto fail = [&](const char* text) {
        if (errPtr)
            *errPtr = otherError(text);
        return false;
    };
    if (m_socket4FD != -1 &&
        (!m_readStream4 || !m_writeStream4 || !m_readStream4->open() || !m_writeStream4->open()))
        return fail("Error in CFStreamOpen() [IPv4]");
    if (m_socket6FD != -1 &&
        (!m_readStream6 || !m_writeStream6 || !m_readStream6->open() || !m_writeStream6->open()))
        return fail("Error in CFStreamOpen() [IPv6]");
    return true;
}

void QueueUdpSocket::closeReadAndWriteStreams() {
    if (m_readStream4) {
        m_readStream4->setClient(platform::kCFStreamEventNone, {});
        m_readStream4->close();
        m_readStream4.reset();
    }
    if (m_writeStream4) {
        m_writeStream4->setClient(platform::kCFStreamEventNone, {});
        m_writeStream4->close();
        m_writeStream4.reset();
    }
    if (m_readStream6) {
        m_readStream6->setClient(platform::kCFStreamEventNone, {});
        m_readStream6->close();
        m_readStream6.reset();
    }
    if (m_writeStream6) {
        m_writeStream6->setClient(platform::kCFStreamEventNone, {});
        m_writeStream6->close();
        m_writeStream6.reset();
    }
}
