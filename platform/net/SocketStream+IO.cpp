#include "platform/net/SocketStreamCore.h"
#include "platform/runloop/RunLoopFdSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace platform::detail {

namespace {

// Blocking calls look again this often, so a close from another thread ends them.
constexpr int kWaitSliceMilliseconds = 50;

} // namespace

// Moves a connection along without blocking, for callers that poll instead of scheduling.
void SocketStreamCore::advanceLocked(Lock&) {
    if (m_connection == Connection::Connecting && m_fd >= 0) {
        pollfd entry{m_fd, POLLOUT, 0};
        if (::poll(&entry, 1, 0) > 0)
            finishConnectLocked();
    }
    if (m_tls == Tls::Handshaking)
        stepHandshakeLocked();
    updateInterestLocked();
}

// Waits one slice for the descriptor (or, while a name resolves, for any change), without the lock.
// False when there is nothing to wait on.
bool SocketStreamCore::waitForDescriptor(Lock& lock, short events) {
    if (m_connection == Connection::Resolving || m_connection == Connection::Idle) {
        m_changed.wait_for(lock, std::chrono::milliseconds(kWaitSliceMilliseconds));
        return true;
    }
    if (m_fd < 0)
        return false;
    pollfd entry{m_fd, events, 0};
    ++m_blocking;
    lock.unlock();
    ::poll(&entry, 1, kWaitSliceMilliseconds);
    lock.lock();
    if (--m_blocking == 0) {
        for (int fd : std::exchange(m_deferredCloses, {}))
            ::close(fd);
    }
    return true;
}

// ---- Reading ----
int64_t SocketStreamCore::read(uint8_t* buffer, int64_t maxLength) {
    if (!buffer || maxLength < 0)
        return -1;
    Lock lock(m_mutex);
    auto& state = m_sides[kRead];
    for (;;) {
        if (!state.opened || state.closed || state.failed)
            return -1;
        if (state.atEnd)
            return 0;
        if (maxLength == 0)
            return 0;
        if (m_connection == Connection::Failed)
            return -1;
        if (m_connection != Connection::Connected || m_tls == Tls::Handshaking) {
            advanceLocked(lock);
            if (m_connection != Connection::Connected || m_tls == Tls::Handshaking) {
                short events =
                    m_tls == Tls::Handshaking && (m_tlsWants & RunLoopFdSource::Write) ? POLLOUT : POLLIN;
                if (m_connection == Connection::Connecting)
                    events = POLLOUT;
                if (!waitForDescriptor(lock, events))
                    return -1;
            }
            continue;
        }
        if (m_tls == Tls::Secure) {
            if (m_plaintextOffset < m_plaintext.size()) {
                size_t count = std::min<size_t>(size_t(maxLength), m_plaintext.size() - m_plaintextOffset);
                std::memcpy(buffer, m_plaintext.data() + m_plaintextOffset, count);
                m_plaintextOffset += count;
                if (m_plaintextOffset == m_plaintext.size()) {
                    m_plaintext.clear();
                    m_plaintextOffset = 0;
                }
                state.armed = true;
                updateInterestLocked();
                return int64_t(count);
            }
            if (m_tlsInputEnded || m_tlsInputFailure != noErr) {
                reportTlsInputEndLocked();
                return m_tlsInputEnded ? 0 : -1;
            }
            pullTlsLocked();
            if (m_plaintext.empty() && !m_tlsInputEnded && m_tlsInputFailure == noErr) {
                if (!waitForDescriptor(lock, POLLIN))
                    return -1;
            }
            continue;
        }
        ssize_t got = ::recv(m_fd, buffer, size_t(maxLength), MSG_DONTWAIT);
        if (got > 0) {
            state.armed = true;
            updateInterestLocked();
            return got;
        }
        if (got == 0) {
            endReadLocked();
            updateInterestLocked();
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitForDescriptor(lock, POLLIN))
                return -1;
            continue;
        }
        failSideLocked(kRead, {kCFStreamErrorDomainPOSIX, errno});
        updateInterestLocked();
        return -1;
    }
}

bool SocketStreamCore::hasBytesAvailable() {
    Lock lock(m_mutex);
    advanceLocked(lock);
    bool available = hasBytesLocked();
    if (!available) {
        m_sides[kRead].armed = true;
        updateInterestLocked();
    }
    return available;
}

bool SocketStreamCore::hasBytesLocked() {
    auto& state = m_sides[kRead];
    if (!state.opened || state.closed || state.failed || state.atEnd)
        return false;
    if (m_connection != Connection::Connected || m_tls == Tls::Handshaking || m_tls == Tls::Failed)
        return false;
    if (m_tls == Tls::Secure) {
        if (m_plaintextOffset < m_plaintext.size())
            return true;
        pullTlsLocked();
        if (m_plaintextOffset < m_plaintext.size())
            return true;
        // The pull may have taken the peer's close from the descriptor, which then never wakes for it:
        // the end is told from here.
        reportTlsInputEndLocked();
        return false;
    }
    int count = 0;
    return ::ioctl(m_fd, FIONREAD, &count) == 0 && count > 0;
}

// The descriptor is readable and the read side may signal: tell bytes, the end or a failure.
void SocketStreamCore::examineReadableLocked() {
    auto& state = m_sides[kRead];
    bool wantsBytes = state.clientEvents & kCFStreamEventHasBytesAvailable;
    if (m_tls == Tls::Secure) {
        pullTlsLocked();
        if (m_plaintextOffset < m_plaintext.size()) {
            // Without a client for the bytes there is nothing to watch until someone reads them.
            state.armed = false;
            if (wantsBytes)
                signalLocked(kRead, kCFStreamEventHasBytesAvailable);
        } else {
            reportTlsInputEndLocked();
        }
        return;
    }
    uint8_t probe = 0;
    ssize_t peeked = ::recv(m_fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
        state.armed = false;
        if (wantsBytes)
            signalLocked(kRead, kCFStreamEventHasBytesAvailable);
    } else if (peeked == 0) {
        endReadLocked();
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        failSideLocked(kRead, {kCFStreamErrorDomainPOSIX, errno});
    }
}

// After a pull that brought no plaintext: the session's end or failure, if it came, ends the read side.
void SocketStreamCore::reportTlsInputEndLocked() {
    if (m_tlsInputEnded)
        endReadLocked();
    else if (m_tlsInputFailure != noErr)
        failSideLocked(kRead, {kCFStreamErrorDomainSSL, m_tlsInputFailure});
}

// ---- Writing ----
int64_t SocketStreamCore::write(const uint8_t* buffer, int64_t length) {
    if (!buffer || length < 0)
        return -1;
    Lock lock(m_mutex);
    auto& state = m_sides[kWrite];
    for (;;) {
        if (!state.opened || state.closed || state.failed || state.atEnd)
            return -1;
        if (m_connection == Connection::Failed)
            return -1;
        if (length == 0)
            return 0;
        if (m_connection != Connection::Connected || m_tls == Tls::Handshaking) {
            advanceLocked(lock);
            if (m_connection != Connection::Connected || m_tls == Tls::Handshaking) {
                short events =
                    m_tls == Tls::Handshaking && !(m_tlsWants & RunLoopFdSource::Write) ? POLLIN : POLLOUT;
                if (!waitForDescriptor(lock, events))
                    return -1;
            }
            continue;
        }
        if (m_tls == Tls::Secure) {
            if (m_tlsOutputPending) {
                if (!flushTlsLocked()) {
                    if (state.failed)
                        return -1;
                    if (!waitForDescriptor(lock, POLLOUT))
                        return -1;
                    continue;
                }
            }
            size_t processed = 0;
            OSStatus status = m_tlsContext->write(buffer, size_t(length), &processed);
            if (status == noErr || (status == errSSLWouldBlock && processed > 0)) {
                m_tlsOutputPending = status == errSSLWouldBlock;
                state.armed = true;
                updateInterestLocked();
                return int64_t(processed);
            }
            if (status == errSSLWouldBlock) {
                m_tlsOutputPending = true;
                continue;
            }
            failSideLocked(kWrite, {kCFStreamErrorDomainSSL, status});
            updateInterestLocked();
            return -1;
        }
        ssize_t sent = ::send(m_fd, buffer, size_t(length), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            state.armed = true;
            updateInterestLocked();
            return sent;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitForDescriptor(lock, POLLOUT))
                return -1;
            continue;
        }
        failSideLocked(kWrite, {kCFStreamErrorDomainPOSIX, errno});
        updateInterestLocked();
        return -1;
    }
}

bool SocketStreamCore::canAcceptBytes() {
    Lock lock(m_mutex);
    advanceLocked(lock);
    bool accepts = canAcceptLocked();
    if (!accepts) {
        m_sides[kWrite].armed = true;
        updateInterestLocked();
    }
    return accepts;
}

bool SocketStreamCore::canAcceptLocked() {
    auto& state = m_sides[kWrite];
    if (!state.opened || state.closed || state.failed || state.atEnd)
        return false;
    if (m_connection != Connection::Connected || m_tls == Tls::Handshaking || m_tls == Tls::Failed)
        return false;
    if (m_tls == Tls::Secure && m_tlsOutputPending && !flushTlsLocked())
        return false;
    // A broken connection counts as writable: the write that follows reports the failure.
    pollfd entry{m_fd, POLLOUT, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLOUT | POLLERR | POLLHUP));
}

} // namespace platform::detail
