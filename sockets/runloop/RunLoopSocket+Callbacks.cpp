#include "platform/foundation/Log.h"
#include "sockets/runloop/RunLoopSocket.h"

#include <fmt/format.h>
#include <unistd.h>

// MARK: - The platform's callbacks

void RunLoopSocket::cfSocketCallback(platform::CFSocket& socket, platform::CFSocketCallBackType type,
                                     const platform::Data*, const void* data, void* info) {
    // Held for the whole event: a delegate may let the socket go from inside it.
    auto target = static_cast<RunLoopSocket*>(info)->self();
    if (target)
        target->doCFSocketCallback(type, socket, data);
    else if (type == platform::kCFSocketAcceptCallBack)
        ::close(*static_cast<const platform::CFSocketNativeHandle*>(data)); // nobody left to take it
}

void RunLoopSocket::doCFSocketCallback(platform::CFSocketCallBackType type, platform::CFSocket& socket,
                                       const void* data) {
    switch (type) {
    case platform::kCFSocketAcceptCallBack:
        doAcceptFromSocket(socket, *static_cast<const platform::CFSocketNativeHandle*>(data));
        break;
    case platform::kCFSocketConnectCallBack:
        doSocketOpen(socket, data ? platform::kCFSocketError : platform::kCFSocketSuccess);
        break;
    default:
        platform::logMessage(fmt::format("RunLoopSocket {} received unexpected CFSocketCallBackType {}",
                                         fmt::ptr(this), type));
    }
}

// Events of a stream the socket has let go (a close, or a new connection made from a callback) are
// not this connection's.
void RunLoopSocket::doCFReadStreamCallback(platform::StreamEventType type, platform::ReadStream& stream) {
    if (&stream == m_readStream.get())
        doStreamEvent(kReading, type, stream);
}

void RunLoopSocket::doCFWriteStreamCallback(platform::StreamEventType type, platform::WriteStream& stream) {
    if (&stream == m_writeStream.get())
        doStreamEvent(kWriting, type, stream);
}

void RunLoopSocket::doStreamEvent(const Direction& direction, platform::StreamEventType type,
                                  const platform::SocketStream& stream) {
    auto keep = self();
    switch (type) {
    case platform::kCFStreamEventOpenCompleted:
        m_flags |= direction.streamOpened;
        doStreamOpen();
        break;
    case platform::kCFStreamEventHasBytesAvailable:
    case platform::kCFStreamEventCanAcceptBytes:
        // While TLS starts, the first readiness tells that the handshake is through.
        if (m_flags & direction.atTls) {
            onTLSHandshakeSuccessful();
        } else {
            m_flags |= direction.streamReady;
            (this->*direction.serve)();
        }
        break;
    case platform::kCFStreamEventErrorOccurred:
    case platform::kCFStreamEventEndEncountered:
        closeWithError(errorFromCFStreamError(stream.error()));
        break;
    default:
        platform::logMessage(
            fmt::format("RunLoopSocket {} received unexpected {} callback, CFStreamEventType {}",
                        fmt::ptr(this), direction.streamName, type));
    }
}
