#pragma once
// A TLS connection engine in the client or server role (the platform's SSL context), driven by its
// owner over caller-supplied read and write functions, so it runs over any byte transport: a
// non-blocking socket, a stream pair, or memory.
//
// Promises:
// - Every call answers the platform's status codes (SecurityStatus.h). errSSLWouldBlock means "call
//   again when the transport can move bytes"; nothing is lost by it. The I/O functions are called only
//   from inside handshake(), read(), write() and close(), on the caller's thread. Not thread-safe: one
//   thread at a time (the sockets use it from their own queue).
// - The read function answers noErr when it filled the whole request, errSSLWouldBlock with the bytes
//   it could move (possibly 0), or any other status to say the transport failed or ended; that status is
//   returned by the engine as it is, except that a transport that ends (errSSLClosedGraceful) before the
//   peer's TLS close is reported as errSSLClosedAbort: only the peer's close_notify is graceful.
//   The write function answers the same way for bytes taken.
// - A client verifies the server's chain against the system's CA store (or the roots set here) and,
//   with a peer name, the name; a failure ends the handshake with errSSLXCertChainInvalid,
//   errSSLHostNameMismatch, errSSLCertExpired ... Verification is off only when switched off
//   (setValidatesCertificateChain(false)) or handed to the caller (break on server auth).
// - Configuration is accepted until the handshake starts; afterwards setters answer errSecBadReq.
// - After a failure the context is aborted and every later call answers that first failure (close()
//   then answers noErr).
// - What this does not do: renegotiation (refused), client authentication (a server never asks for a
//   client certificate), DTLS.
//
// Handshake with the caller judging trust (break on server auth):
//     ctx->setBreakOnServerAuth(true);
//     OSStatus s = ctx->handshake();          // ... errSSLWouldBlock while bytes are in flight
//     if (s == errSSLPeerAuthCompleted) {      // paused: the server's chain has arrived
//         auto trust = ctx->copyPeerTrust();  // evaluate it, ask someone, take your time
//         s = trusted ? ctx->handshake() : ctx->close();
//     }

#include "platform/foundation/Data.h"
#include "platform/foundation/Object.h"
#include "platform/security/SecurityStatus.h"
#include "platform/security/TlsCertificate.h"
#include "platform/security/TlsTrust.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class TlsRole { Client, Server };

// Protocol versions by the platform's numbers.
enum SSLProtocol : int32_t {
    kSSLProtocolUnknown = 0,
    kSSLProtocol3 = 2,
    kTLSProtocol1 = 4,
    kTLSProtocol11 = 7,
    kTLSProtocol12 = 8,
    kDTLSProtocol1 = 9,
    kTLSProtocol13 = 10,
    kTLSProtocolMaxSupported = 999,
};

enum SSLSessionOption : int32_t {
    kSSLSessionOptionBreakOnServerAuth = 0,
    kSSLSessionOptionBreakOnCertRequested = 1,
    kSSLSessionOptionBreakOnClientAuth = 2,
    kSSLSessionOptionFalseStart = 3,
    kSSLSessionOptionSendOneByteRecord = 4,
    kSSLSessionOptionAllowServerIdentityChange = 5,
    kSSLSessionOptionFallback = 6,
    kSSLSessionOptionBreakOnClientHello = 7,
    kSSLSessionOptionAllowRenegotiation = 8,
    kSSLSessionOptionEnableSessionTickets = 9,
};

enum class SSLSessionState { Idle, Handshake, Connected, Closed, Aborted };

// In: the buffer and its size in *length. Out: *length = bytes moved.
using TlsReadFunction = std::function<OSStatus(void* data, size_t* length)>;
using TlsWriteFunction = std::function<OSStatus(const void* data, size_t* length)>;

class TlsContext final : public Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    // Null only when the crypto library cannot make a connection object.
    static std::shared_ptr<TlsContext> create(TlsRole role);
    TlsContext(PrivateTag, TlsRole role);
    ~TlsContext() override;

    TlsRole role() const { return m_role; }

    // ---- configuration (before the handshake) ----
    OSStatus setIOFuncs(TlsReadFunction read, TlsWriteFunction write);

    // The server's name: sent as SNI (unless it is an IP address) and checked against the certificate.
    // Empty clears both.
    OSStatus setPeerName(std::string_view name);
    const std::string& peerName() const { return m_peerName; }

    // What this side presents: an identity and the intermediate certificates that follow it. A server
    // needs one (errSSLBadConfiguration at the handshake otherwise); a client's is never asked for.
    OSStatus setCertificate(const TlsIdentityPtr& identity, const std::vector<TlsCertificatePtr>& chain = {});

    // The key of the client session cache: a context with the peer ID of an earlier, completed
    // connection offers that session for resumption. The cache is process-wide, holds the latest
    // session per peer ID, and trusts the caller to give the same ID only to the same server.
    OSStatus setPeerID(const Data& peerID);
    const Data& peerID() const { return m_peerID; }

    // kSSLProtocol3 ... kTLSProtocol13, or kTLSProtocolMaxSupported; errSecParam for any other value.
    // Raising the minimum above the maximum raises the maximum, and the other way round. Versions below
    // TLS 1.2 are accepted as settings but the library's security level refuses them on the wire.
    OSStatus setProtocolVersionMin(SSLProtocol version);
    OSStatus setProtocolVersionMax(SSLProtocol version);
    SSLProtocol protocolVersionMin() const;
    SSLProtocol protocolVersionMax() const;

    // The enabled cipher suites by their 16-bit IANA numbers. Numbers the library does not know, and
    // the signalling pseudo-suites, are ignored; errSecParam (and nothing changes) when none is left.
    OSStatus setEnabledCiphers(std::span<const uint16_t> suites);
    std::vector<uint16_t> enabledCiphers() const;

    // Break on server auth pauses a client's handshake with errSSLPeerAuthCompleted once the server's
    // chain has arrived, without judging it; the next handshake() goes on as trusted. (A resumed session
    // carries no chain and does not pause.) The other options have no counterpart in the library and
    // are kept, answered by sessionOption() and otherwise ignored: false start, one-byte records,
    // the client-side breaks, identity change, fallback, renegotiation (always refused), session
    // tickets (always on). errSecParam for an unknown option.
    OSStatus setSessionOption(SSLSessionOption option, bool value);
    bool sessionOption(SSLSessionOption option) const;
    OSStatus setBreakOnServerAuth(bool value) {
        return setSessionOption(kSSLSessionOptionBreakOnServerAuth, value);
    }

    // Chain verification of a client (on by default) and its allowances. Off accepts any chain and
    // any name.
    OSStatus setValidatesCertificateChain(bool validates);
    OSStatus setTrustOptions(TlsTrustOptions options);
    // Roots to trust instead of the system's (or besides them, with replaceSystemRoots false).
    OSStatus setTrustedRoots(std::vector<TlsCertificatePtr> roots, bool replaceSystemRoots = true);

    // ---- the connection ----
    // noErr once this side is through and every handshake byte it owes the peer has been written;
    // errSSLWouldBlock to be called again; errSSLPeerAuthCompleted when paused for the caller's trust
    // decision; errSecParam (and nothing starts) without I/O functions.
    OSStatus handshake();

    // Fills up to `length` bytes (running the handshake first if needed). noErr when all `length` were
    // read; otherwise the status that stopped it (errSSLWouldBlock, errSSLClosedGraceful when the peer
    // closed, errSSLClosedAbort, ...), with *processed counting the bytes delivered before it.
    OSStatus read(void* data, size_t length, size_t* processed);

    // Encrypts `length` bytes and hands them to the write function. noErr: all taken and written.
    // errSSLWouldBlock with *processed == length: all taken, but encrypted bytes still wait for the
    // transport; write(nullptr, 0) (or the next write) pushes them, and answers noErr once they are out.
    // errSSLWouldBlock with *processed == 0: earlier bytes still wait, nothing new was taken.
    OSStatus write(const void* data, size_t length, size_t* processed);

    // Sends the TLS close (close_notify) and ends the session; reads and writes then answer
    // errSSLClosedGraceful. errSSLWouldBlock while the close cannot be written yet: call again.
    OSStatus close();

    // Decrypted bytes waiting inside the engine, readable without touching the transport.
    size_t bufferedReadSize() const;
    SSLSessionState sessionState() const { return m_state; }

    // The peer's chain and name as a trust object, ready to evaluate (with this context's roots and
    // allowances); null with errSecParam in *status when the peer has presented no certificate (yet).
    TlsTrustPtr copyPeerTrust(OSStatus* status = nullptr) const;

    SSLProtocol negotiatedProtocolVersion() const;
    // The negotiated suite's IANA number; 0 before the handshake.
    uint16_t negotiatedCipher() const;
    bool isSessionResumed() const;

    // Forgets every cached client session (all peer IDs).
    static void clearSessionCache();

private:
    struct Engine; // the library glue, in TlsContext.cpp

    bool configurable() const { return m_state == SSLSessionState::Idle; }
    OSStatus start();
    OSStatus fail(OSStatus status);
    OSStatus failFromLibrary(int result);
    OSStatus flushOutput();
    OSStatus finishedStatus() const;

    const TlsRole m_role;
    std::unique_ptr<Engine> m_engine;
    SSLSessionState m_state{SSLSessionState::Idle};
    OSStatus m_failure{noErr};
    std::string m_peerName;
    Data m_peerID;
    uint32_t m_options{0};
    bool m_validatesChain{true};
    TlsTrustOptions m_trustOptions;
    std::optional<std::vector<TlsCertificatePtr>> m_trustedRoots;
    bool m_replaceSystemRoots{true};
    bool m_serverAuthPaused{false};
};

using TlsContextPtr = std::shared_ptr<TlsContext>;

} // namespace platform
