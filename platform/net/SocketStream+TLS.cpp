#include "platform/net/SocketStreamCore.h"
#include "platform/runloop/RunLoopFdSource.h"
#include "platform/security/TlsStreamSettings.h"

#include <cerrno>
#include <sys/socket.h>

namespace platform::detail {

namespace {

constexpr size_t kPullChunk = 16384;

} // namespace

// Settings are checked by configuring an engine at once, so a caller learns of a bad dictionary from
// the property call; the handshake itself starts when the pair is connected and opened. Both streams
// are usually handed the same dictionary: the second call finds it in place and agrees.
bool SocketStreamCore::setTlsSettingsLocked(const Value& settings) {
    if (!settings.isNil() && !settings.isDictionary())
        return false;
    if (m_tls != Tls::Off)
        return settings == m_tlsSettings;
    if (settings.isNil()) {
        m_tlsContext.reset();
        m_tlsSettings = Value();
        return true;
    }
    if (m_tlsContext && settings == m_tlsSettings)
        return true;
    auto context = TlsContext::create(tlsRoleForStreamSettings(settings));
    if (!context || applyTlsStreamSettings(*context, settings, m_host) != noErr)
        return false;
    // The engine is called only from inside this core's own calls, under its lock, on the caller's
    // thread; it never outlives the core that owns it.
    context->setIOFuncs([this](void* data, size_t* length) { return tlsRead(data, length); },
                        [this](const void* data, size_t* length) { return tlsWrite(data, length); });
    m_tlsContext = std::move(context);
    m_tlsSettings = settings;
    bool opened = m_sides[kRead].opened || m_sides[kWrite].opened;
    if (opened && m_connection == Connection::Connected)
        startTlsLocked();
    return true;
}

void SocketStreamCore::startTlsLocked() {
    if (m_tls != Tls::Off || !m_tlsContext)
        return;
    m_tls = Tls::Handshaking;
    // Bytes told about before now were plaintext; the readiness that counts is the session's.
    for (auto& state : m_sides) {
        state.pending &= ~(kCFStreamEventHasBytesAvailable | kCFStreamEventCanAcceptBytes);
        state.armed = true;
    }
    stepHandshakeLocked();
}

void SocketStreamCore::stepHandshakeLocked() {
    if (m_tls != Tls::Handshaking)
        return;
    m_tlsWants = 0;
    OSStatus status = m_tlsContext->handshake();
    // The streams never ask to judge trust themselves; the engine goes on as configured.
    while (status == errSSLPeerAuthCompleted)
        status = m_tlsContext->handshake();
    if (status == errSSLWouldBlock) {
        if (!m_tlsWants)
            m_tlsWants = RunLoopFdSource::Read;
        updateInterestLocked();
        return;
    }
    if (status != noErr) {
        m_tls = Tls::Failed;
        failBothLocked({kCFStreamErrorDomainSSL, status});
        return;
    }
    m_tls = Tls::Secure;
    m_tlsWants = 0;
    // The first readiness after the handshake tells the clients it is through.
    for (int side : {kRead, kWrite}) {
        auto& state = m_sides[side];
        if (!readyForEventsLocked(side))
            continue;
        state.armed = false;
        signalLocked(side, side == kRead ? kCFStreamEventHasBytesAvailable : kCFStreamEventCanAcceptBytes);
    }
    updateInterestLocked();
    m_changed.notify_all();
}

// Decrypts what the descriptor holds into the plaintext buffer, without blocking.
void SocketStreamCore::pullTlsLocked() {
    if (m_tls != Tls::Secure || m_tlsInputEnded || m_tlsInputFailure != noErr)
        return;
    if (m_plaintextOffset < m_plaintext.size())
        return;
    m_plaintext.clear();
    m_plaintextOffset = 0;
    m_plaintext.resize(kPullChunk);
    size_t processed = 0;
    OSStatus status = m_tlsContext->read(m_plaintext.data(), m_plaintext.size(), &processed);
    m_plaintext.resize(processed);
    if (status == noErr || status == errSSLWouldBlock)
        return;
    // A peer that drops the connection without the TLS close is common; its last bytes still count
    // and the stream ends, as it would have over plain TCP.
    if (status == errSSLClosedGraceful || status == errSSLClosedNoNotify ||
        (status == errSSLClosedAbort && m_transportEnded))
        m_tlsInputEnded = true;
    else
        m_tlsInputFailure = status;
}

// True once every encrypted byte is out.
bool SocketStreamCore::flushTlsLocked() {
    if (!m_tlsOutputPending)
        return true;
    size_t processed = 0;
    OSStatus status = m_tlsContext->write(nullptr, 0, &processed);
    if (status == noErr) {
        m_tlsOutputPending = false;
        return true;
    }
    if (status != errSSLWouldBlock) {
        m_tlsOutputPending = false;
        failSideLocked(kWrite, {kCFStreamErrorDomainSSL, status});
    }
    return false;
}

OSStatus SocketStreamCore::tlsRead(void* data, size_t* length) {
    size_t wanted = *length;
    *length = 0;
    if (m_fd < 0)
        return errSSLClosedAbort;
    while (*length < wanted) {
        ssize_t got = ::recv(m_fd, static_cast<uint8_t*>(data) + *length, wanted - *length, MSG_DONTWAIT);
        if (got > 0) {
            *length += size_t(got);
            continue;
        }
        if (got == 0) {
            m_transportEnded = true;
            return *length ? errSSLWouldBlock : errSSLClosedGraceful;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            m_tlsWants |= RunLoopFdSource::Read;
            return errSSLWouldBlock;
        }
        return errSSLClosedAbort;
    }
    return noErr;
}

OSStatus SocketStreamCore::tlsWrite(const void* data, size_t* length) {
    size_t wanted = *length;
    *length = 0;
    if (m_fd < 0)
        return errSSLClosedAbort;
    while (*length < wanted) {
        ssize_t sent = ::send(m_fd, static_cast<const uint8_t*>(data) + *length, wanted - *length,
                              MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            *length += size_t(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            m_tlsWants |= RunLoopFdSource::Write;
            return errSSLWouldBlock;
        }
        return errSSLClosedAbort;
    }
    return noErr;
}

} // namespace platform::detail
