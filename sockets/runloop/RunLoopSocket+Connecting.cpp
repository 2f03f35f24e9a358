#include "platform/foundation/Log.h"
#include "sockets/common/SocketAddress.h"
#include "sockets/common/SocketErrors.h"
#include "sockets/common/Timeout.h"
#include "sockets/runloop/RunLoopSocket.h"

#include <cstring>
#include <fmt/format.h>
#include <unistd.h>

namespace {

constexpr platform::StreamEventType kReadEvents =
    platform::kCFStreamEventOpenCompleted | platform::kCFStreamEventHasBytesAvailable |
    platform::kCFStreamEventErrorOccurred | platform::kCFStreamEventEndEncountered;
constexpr platform::StreamEventType kWriteEvents =
    platform::kCFStreamEventOpenCompleted | platform::kCFStreamEventCanAcceptBytes |
    platform::kCFStreamEventErrorOccurred | platform::kCFStreamEventEndEncountered;

// AF_INET or AF_INET6 for a whole record of that family; AF_UNSPEC for anything else or anything shorter.
int familyOfRecord(const platform::Data& address) {
    if (sockets::isIPv4Address(address))
        return AF_INET;
    if (sockets::isIPv6Address(address) && address.length() >= sizeof(sockaddr_in6))
        return AF_INET6;
    return AF_UNSPEC;
}

template <typename Stream, typename Handler>
bool setClient(Stream& stream, platform::StreamEventType events, std::weak_ptr<RunLoopSocket> weak,
               Handler handler) {
    return stream.setClient(events, [weak, handler](Stream& from, platform::StreamEventType type) {
        if (auto socket = weak.lock())
            ((*socket).*handler)(type, from);
    });
}

} // namespace

// MARK: - Connecting by host

bool RunLoopSocket::connectToHost(const std::string& hostname, uint16_t port, platform::ErrorPtr* errPtr) {
    return connectToHost(hostname, port, -1.0, errPtr);
}

bool RunLoopSocket::connectToHost(const std::string& hostname, uint16_t port, double timeout,
                                  platform::ErrorPtr* errPtr) {
    auto keep = self();
    checkCanStart("connect");
    emptyQueues();
    platform::ErrorPtr err;
    if (!createStreamsToHost(hostname, port, &err) || !attachStreamsToRunLoop(nullptr, &err) ||
        !configureStreamsAndReturnError(&err) || !openStreamsAndReturnError(&err))
        return failStart(errPtr, err);
    startConnectTimeout(timeout);
    m_flags |= kStarted;
    return true;
}

// Nothing was started, so the close tells the delegate nothing.
bool RunLoopSocket::failStart(platform::ErrorPtr* errPtr, platform::ErrorPtr err) {
    close();
    platform::setError(errPtr, std::move(err));
    return false;
}

bool RunLoopSocket::createStreamsToHost(const std::string& hostname, uint16_t port,
                                        platform::ErrorPtr* errPtr) {
    return adoptStreams(platform::SocketStreamPair::createWithSocketToHost(hostname, port), errPtr);
}

bool RunLoopSocket::createStreamsFromNative(platform::CFSocketNativeHandle native,
                                            platform::ErrorPtr* errPtr) {
    return adoptStreams(platform::SocketStreamPair::createWithSocket(native), errPtr);
}

// From here on the streams own the descriptor.
bool RunLoopSocket::adoptStreams(platform::SocketStreamPair pair, platform::ErrorPtr* errPtr) {
    m_readStream = std::move(pair.readStream);
    m_writeStream = std::move(pair.writeStream);
    if (!bothStreams()) {
        platform::setError(errPtr, getSocketError());
        return false;
    }
    m_readStream->setProperty(platform::kCFStreamPropertyShouldCloseNativeSocket, true);
    m_writeStream->setProperty(platform::kCFStreamPropertyShouldCloseNativeSocket, true);
    return true;
}

bool RunLoopSocket::attachStreamsToRunLoop(const RunLoopPtr& runLoop, platform::ErrorPtr* errPtr) {
    m_binding.bind(runLoop ? runLoop : platform::RunLoop::current());
    std::weak_ptr<RunLoopSocket> weak = self();
    const char* failed = nullptr;
    if (!setClient(*m_readStream, kReadEvents, weak, &RunLoopSocket::doCFReadStreamCallback))
        failed = "read";
    else if (!setClient(*m_writeStream, kWriteEvents, weak, &RunLoopSocket::doCFWriteStreamCallback))
        failed = "write";
    if (failed) {
        platform::logMessage(
            fmt::format("RunLoopSocket {} couldn't attach {} stream to run-loop,", fmt::ptr(this), failed));
        auto err = getStreamError();
        platform::logMessage(fmt::format("Error: {}", err ? err->description() : "(null)"));
        platform::setError(errPtr, err);
        return false;
    }
    if (!scheduleStreams()) {
        platform::setError(errPtr, getSocketError());
        return false;
    }
    return true;
}

bool RunLoopSocket::configureStreamsAndReturnError(platform::ErrorPtr* errPtr) {
    bool proceed = askDelegate("onSocketWillConnect:", true,
                               [](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                                   return delegate.onSocketWillConnect(sock);
                               });
    if (!proceed)
        platform::setError(errPtr, getAbortError());
    return proceed;
}

bool RunLoopSocket::configureSocketAndReturnError(platform::ErrorPtr* errPtr) {
    return configureStreamsAndReturnError(errPtr);
}

bool RunLoopSocket::openStreamsAndReturnError(platform::ErrorPtr* errPtr) {
    for (auto [stream, name] :
         {std::pair<platform::SocketStream*, const char*>{m_readStream.get(), "read"},
          std::pair<platform::SocketStream*, const char*>{m_writeStream.get(), "write"}}) {
        if (!stream->open()) {
            platform::logMessage(
                fmt::format("RunLoopSocket {} couldn't open {} stream,", fmt::ptr(this), name));
            platform::setError(errPtr, getStreamError());
            return false;
        }
    }
    return true;
}

// MARK: - Connecting by address

bool RunLoopSocket::connectToAddress(const platform::Data& remoteAddr, platform::ErrorPtr* errPtr) {
    return connectToAddress(remoteAddr, std::nullopt, -1.0, errPtr);
}

bool RunLoopSocket::connectToAddress(const platform::Data& remoteAddr, double timeout,
                                     platform::ErrorPtr* errPtr) {
    return connectToAddress(remoteAddr, std::nullopt, timeout, errPtr);
}

bool RunLoopSocket::connectToAddress(const platform::Data& remoteAddr,
                                     const std::optional<platform::Data>& interfaceAddr, double timeout,
                                     platform::ErrorPtr* errPtr) {
    auto keep = self();
    checkCanStart("connect");
    emptyQueues();
    platform::ErrorPtr err;
    // Both addresses are checked before a socket is made, so a bad one leaves nothing to undo.
    if (interfaceAddr && familyOfRecord(*interfaceAddr) == AF_UNSPEC)
        return failStart(errPtr, sockets::makeError(RunLoopSocketErrorDomain, RunLoopSocketCFSocketError,
                                                    "Interface address is not IPv4 or IPv6"));
    if (!createSocketForAddress(remoteAddr, &err) || !bindSocketToAddress(interfaceAddr, &err) ||
        !attachSocketsToRunLoop(nullptr, &err) || !configureSocketAndReturnError(&err) ||
        !connectSocketToAddress(remoteAddr, &err))
        return failStart(errPtr, err);
    startConnectTimeout(timeout);
    m_flags |= kStarted;
    return true;
}

bool RunLoopSocket::createSocketForAddress(const platform::Data& remoteAddr, platform::ErrorPtr* errPtr) {
    int family = familyOfRecord(remoteAddr);
    if (family == AF_UNSPEC) {
        platform::setError(errPtr, sockets::makeError(RunLoopSocketErrorDomain, RunLoopSocketCFSocketError,
                                                      "Remote address is not IPv4 or IPv6"));
        return false;
    }
    auto socket =
        platform::CFSocket::create(family, SOCK_STREAM, IPPROTO_TCP, platform::kCFSocketConnectCallBack,
                                   &RunLoopSocket::cfSocketCallback, this);
    (family == AF_INET6 ? m_socket6 : m_socket4) = socket;
    if (!socket)
        platform::setError(errPtr, getSocketError());
    return socket != nullptr;
}

bool RunLoopSocket::bindSocketToAddress(const std::optional<platform::Data>& interfaceAddr,
                                        platform::ErrorPtr* errPtr) {
    if (!interfaceAddr)
        return true;
    auto socket = getCFSocket();
    if (::bind(socket->nativeHandle(), reinterpret_cast<const sockaddr*>(interfaceAddr->bytes()),
               socklen_t(interfaceAddr->length())) != 0) {
        platform::setError(errPtr, getErrnoError());
        return false;
    }
    return true;
}

bool RunLoopSocket::connectSocketToAddress(const platform::Data& remoteAddr, platform::ErrorPtr* errPtr) {
    if (getCFSocket()->connectToAddress(remoteAddr, -1) != platform::kCFSocketSuccess) {
        platform::setError(errPtr, getSocketError());
        return false;
    }
    return true;
}

// MARK: - The connect time-out

void RunLoopSocket::startConnectTimeout(double timeout) {
    if (sockets::hasTimeout(timeout))
        m_connectTimer = startTimer(timeout, &RunLoopSocket::doConnectTimeout);
}

void RunLoopSocket::endConnectTimeout() {
    endTimer(m_connectTimer);
}

void RunLoopSocket::doConnectTimeout(platform::Timer&) {
    endConnectTimeout();
    closeWithError(getConnectTimeoutError());
}

// MARK: - Opening

void RunLoopSocket::doSocketOpen(platform::CFSocket& socket, platform::CFSocketError socketError) {
    if (socketError != platform::kCFSocketSuccess) {
        closeWithError(getSocketError());
        return;
    }
    int native = socket.nativeHandle();
    bool isIPv4 = &socket == m_socket4.get();
    // Invalidated without its flags, the connecting socket leaves the descriptor to the streams.
    socket.setSocketFlags(0);
    closeSockets();
    (isIPv4 ? m_nativeSocket4 : m_nativeSocket6) = native;
    platform::ErrorPtr err;
    if (!createStreamsFromNative(native, &err)) {
        platform::logMessage(fmt::format("RunLoopSocket {} couldn't create streams from accepted socket: {}",
                                         fmt::ptr(this), err ? err->description() : "(null)"));
        ::close(native); // no stream took it
        closeWithError(err);
        return;
    }
    if (!attachStreamsToRunLoop(m_binding.runLoop(), &err) || !openStreamsAndReturnError(&err))
        closeWithError(err);
}

void RunLoopSocket::doStreamOpen() {
    if ((m_flags & (kReadStreamOpened | kWriteStreamOpened)) != (kReadStreamOpened | kWriteStreamOpened))
        return;
    platform::ErrorPtr err;
    if (!setSocketFromStreamsAndReturnError(&err)) {
        platform::logMessage(
            fmt::format("RunLoopSocket {} couldn't get socket from streams, {}. Disconnecting.",
                        fmt::ptr(this), err ? err->description() : "(null)"));
        closeWithError(err);
        return;
    }
    endConnectTimeout();
    auto stream = m_readStream;
    tellDelegate("onSocket:didConnectToHost:port:",
                 [&](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
                     delegate.onSocketDidConnectToHost(sock, connectedHost(), connectedPort());
                 });
    if (m_readStream != stream)
        return; // the delegate closed the connection (or made another)
    maybeDequeueRead();
    maybeDequeueWrite();
}

bool RunLoopSocket::setSocketFromStreamsAndReturnError(platform::ErrorPtr* errPtr) {
    auto property = m_readStream->copyProperty(platform::kCFStreamPropertySocketNativeHandle);
    const platform::Data* bytes = property.data();
    if (!bytes || bytes->length() < sizeof(platform::CFSocketNativeHandle)) {
        platform::setError(errPtr, bytes ? getSocketError() : getStreamError());
        return false;
    }
    platform::CFSocketNativeHandle native = -1;
    std::memcpy(&native, bytes->bytes(), sizeof native);
    auto wrapper =
        platform::CFSocket::createWithNative(native, platform::kCFSocketNoCallBack, nullptr, nullptr);
    if (!wrapper) {
        platform::setError(errPtr, getSocketError());
        return false;
    }
    wrapper->setSocketFlags(0); // the streams close the descriptor, the wrapper never does
    int family = m_nativeSocket4 >= 0 ? AF_INET : m_nativeSocket6 >= 0 ? AF_INET6 : AF_UNSPEC;
    if (family == AF_UNSPEC) {
        auto peer = wrapper->copyPeerAddress();
        if (!peer) {
            platform::logMessage("RunLoopSocket couldn't determine IP version of socket");
            platform::setError(errPtr, getSocketError());
            return false;
        }
        family = sockets::isIPv4Address(*peer) ? AF_INET : AF_INET6;
        (family == AF_INET ? m_nativeSocket4 : m_nativeSocket6) = native;
    }
    (family == AF_INET ? m_socket4 : m_socket6) = wrapper;
    return true;
}
