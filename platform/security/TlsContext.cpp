#include "platform/security/TlsContext.h"

#include "platform/security/OpenSslSupport.h"
#include "platform/security/TlsSessionCache.h"

#include <algorithm>
#include <arpa/inet.h>
#include <climits>
#include <cstring>

namespace platform {

namespace {

bool isIpAddress(const std::string& name) {
    unsigned char address[16];
    return inet_pton(AF_INET, name.c_str(), address) == 1 || inet_pton(AF_INET6, name.c_str(), address) == 1;
}

int libraryVersion(SSLProtocol version) {
    switch (version) {
    case kSSLProtocol3:
        return SSL3_VERSION;
    case kTLSProtocol1:
        return TLS1_VERSION;
    case kTLSProtocol11:
        return TLS1_1_VERSION;
    case kTLSProtocol12:
        return TLS1_2_VERSION;
    case kTLSProtocol13:
    case kTLSProtocolMaxSupported:
        return TLS1_3_VERSION;
    default:
        return -1;
    }
}

SSLProtocol protocolForLibraryVersion(int version) {
    switch (version) {
    case SSL3_VERSION:
        return kSSLProtocol3;
    case TLS1_VERSION:
        return kTLSProtocol1;
    case TLS1_1_VERSION:
        return kTLSProtocol11;
    case TLS1_2_VERSION:
        return kTLSProtocol12;
    case TLS1_3_VERSION:
        return kTLSProtocol13;
    default:
        return kSSLProtocolUnknown;
    }
}

// A fatal alert received from the peer, by its TLS alert number.
OSStatus statusForPeerAlert(int alert) {
    switch (alert) {
    case SSL_AD_CLOSE_NOTIFY:
        return errSSLClosedGraceful;
    case SSL_AD_UNEXPECTED_MESSAGE:
        return errSSLPeerUnexpectedMsg;
    case SSL_AD_BAD_RECORD_MAC:
        return errSSLPeerBadRecordMac;
    case SSL_AD_DECRYPTION_FAILED:
        return errSSLPeerDecryptionFail;
    case SSL_AD_RECORD_OVERFLOW:
        return errSSLPeerRecordOverflow;
    case SSL_AD_DECOMPRESSION_FAILURE:
        return errSSLPeerDecompressFail;
    case SSL_AD_HANDSHAKE_FAILURE:
        return errSSLPeerHandshakeFail;
    case SSL_AD_BAD_CERTIFICATE:
        return errSSLPeerBadCert;
    case SSL_AD_UNSUPPORTED_CERTIFICATE:
        return errSSLPeerUnsupportedCert;
    case SSL_AD_CERTIFICATE_REVOKED:
        return errSSLPeerCertRevoked;
    case SSL_AD_CERTIFICATE_EXPIRED:
        return errSSLPeerCertExpired;
    case SSL_AD_CERTIFICATE_UNKNOWN:
        return errSSLPeerCertUnknown;
    case SSL_AD_ILLEGAL_PARAMETER:
        return errSSLIllegalParam;
    case SSL_AD_UNKNOWN_CA:
        return errSSLPeerUnknownCA;
    case SSL_AD_ACCESS_DENIED:
        return errSSLPeerAccessDenied;
    case SSL_AD_DECODE_ERROR:
        return errSSLPeerDecodeError;
    case SSL_AD_DECRYPT_ERROR:
        return errSSLPeerDecryptError;
    case SSL_AD_EXPORT_RESTRICTION:
        return errSSLPeerExportRestriction;
    case SSL_AD_PROTOCOL_VERSION:
        return errSSLPeerProtocolVersion;
    case SSL_AD_INSUFFICIENT_SECURITY:
        return errSSLPeerInsufficientSecurity;
    case SSL_AD_INTERNAL_ERROR:
        return errSSLPeerInternalError;
    case SSL_AD_USER_CANCELLED:
        return errSSLPeerUserCancelled;
    case SSL_AD_NO_RENEGOTIATION:
        return errSSLPeerNoRenegotiation;
    default:
        return errSSLFatalAlert;
    }
}

OSStatus statusForLibraryError(unsigned long error) {
    if (error == 0)
        return errSSLProtocol;
    if (ERR_GET_LIB(error) != ERR_LIB_SSL)
        return ERR_GET_LIB(error) == ERR_LIB_X509 ? errSSLBadCert : errSSLCrypto;
    int reason = ERR_GET_REASON(error);
    if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256)
        return statusForPeerAlert(reason - SSL_AD_REASON_OFFSET);
    switch (reason) {
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
        return errSSLClosedAbort;
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_VERSION_TOO_HIGH:
    case SSL_R_UNSUPPORTED_SSL_VERSION:
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
        return errSSLNegotiation;
    case SSL_R_CERTIFICATE_VERIFY_FAILED:
        return errSSLXCertChainInvalid;
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
        return errSSLBadRecordMac;
    case SSL_R_DATA_LENGTH_TOO_LONG:
    case SSL_R_ENCRYPTED_LENGTH_TOO_LONG:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
        return errSSLRecordOverflow;
    default:
        return errSSLProtocol;
    }
}

// A transport that simply ends has not closed the TLS session: only close_notify is graceful.
OSStatus transportFailure(OSStatus status) {
    return status == errSSLClosedGraceful ? errSSLClosedAbort : status;
}

bool isTransportEnd(OSStatus status) {
    return status == errSSLClosedAbort || status == errSSLClosedNoNotify || status == errSSLClosedGraceful;
}

constexpr int kMaxSessionOption = kSSLSessionOptionEnableSessionTickets;

} // namespace

struct TlsContext::Engine {
    detail::UniqueSsl ssl;
    TlsReadFunction read;
    TlsWriteFunction write;
    // Encrypted bytes the library produced and the write function has not taken yet. The library
    // writes into this box and never waits on the transport, which is what lets write() take a whole
    // buffer and report errSSLWouldBlock for the part still queued.
    std::vector<uint8_t> outbox;
    size_t outboxHead{0};
    OSStatus transportStatus{noErr};
    OSStatus verifyStatus{noErr};
    std::vector<TlsCertificatePtr> peerChain;

    static SSL_CTX* sharedContext(TlsRole role);
    static BIO_METHOD* transportMethod();
    static int transportRead(BIO* bio, char* data, int length);
    static int transportWrite(BIO* bio, const char* data, int length);
    static long transportControl(BIO* bio, int command, long number, void* pointer);
    static int transportCreate(BIO* bio);
    static int verifyPeer(X509_STORE_CTX* storeContext, void* argument);
    static int sessionArrived(SSL* ssl, SSL_SESSION* session);

    static TlsContext* contextOf(SSL* ssl) { return static_cast<TlsContext*>(SSL_get_app_data(ssl)); }
    size_t pendingOutput() const { return outbox.size() - outboxHead; }
};

// ---- the library glue ----

SSL_CTX* TlsContext::Engine::sharedContext(TlsRole role) {
    // One library context per role for the whole process: every per-connection setting lives on the
    // connection object, and sharing the server context is what lets a ticket issued by one server
    // connection resume on the next. Kept for the life of the process on purpose.
    static SSL_CTX* const client = [] {
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        if (!context)
            return context;
        SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
        SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(context, verifyPeer, nullptr);
        SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(context, sessionArrived);
        return context;
    }();
    static SSL_CTX* const server = [] {
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        if (!context)
            return context;
        SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
        SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
        static const unsigned char sessionContext[] = "platform.tls";
        SSL_CTX_set_session_id_context(context, sessionContext, sizeof sessionContext - 1);
        return context;
    }();
    return role == TlsRole::Client ? client : server;
}

BIO_METHOD* TlsContext::Engine::transportMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* created =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "platform tls transport");
        if (!created)
            return created;
        BIO_meth_set_read(created, transportRead);
        BIO_meth_set_write(created, transportWrite);
        BIO_meth_set_ctrl(created, transportControl);
        BIO_meth_set_create(created, transportCreate);
        return created;
    }();
    return method;
}

int TlsContext::Engine::transportCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

int TlsContext::Engine::transportRead(BIO* bio, char* data, int length) {
    auto* engine = static_cast<Engine*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (!engine || length <= 0)
        return 0;
    if (engine->transportStatus != noErr)
        return 0;
    size_t moved = static_cast<size_t>(length);
    OSStatus status = engine->read(data, &moved);
    moved = std::min(moved, static_cast<size_t>(length));
    if (moved > 0)
        return static_cast<int>(moved);
    if (status == noErr || status == errSSLWouldBlock) {
        BIO_set_retry_read(bio);
        return -1;
    }
    engine->transportStatus = status;
    return 0;
}

int TlsContext::Engine::transportWrite(BIO* bio, const char* data, int length) {
    auto* engine = static_cast<Engine*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (!engine || length < 0)
        return -1;
    engine->outbox.insert(engine->outbox.end(), data, data + length);
    return length;
}

long TlsContext::Engine::transportControl(BIO*, int command, long, void*) {
    // The library flushes after each flight; the outbox is drained by the context itself.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int TlsContext::Engine::verifyPeer(X509_STORE_CTX* storeContext, void*) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(storeContext, SSL_get_ex_data_X509_STORE_CTX_idx()));
    TlsContext* context = ssl ? contextOf(ssl) : nullptr;
    if (!context)
        return 0;
    Engine& engine = *context->m_engine;

    engine.peerChain.clear();
    X509* leaf = X509_STORE_CTX_get0_cert(storeContext);
    if (auto certificate = TlsCertificate::createWithX509(leaf))
        engine.peerChain.push_back(std::move(certificate));
    STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(storeContext);
    for (int i = 0; sent && i < sk_X509_num(sent); ++i) {
        X509* member = sk_X509_value(sent, i);
        if (member == leaf || X509_cmp(member, leaf) == 0)
            continue;
        if (auto certificate = TlsCertificate::createWithX509(member))
            engine.peerChain.push_back(std::move(certificate));
    }

    if (context->sessionOption(kSSLSessionOptionBreakOnServerAuth)) {
        // The first pass hands control back; the library calls again when handshake() resumes,
        // and by then the caller has judged the chain.
        if (context->m_serverAuthPaused)
            return 1;
        context->m_serverAuthPaused = true;
        // The library suspends the handshake when the callback sets the retry and reports success.
        return SSL_set_retry_verify(ssl) ? 1 : 0;
    }
    if (!context->m_validatesChain)
        return 1;

    auto trust = context->copyPeerTrust();
    if (!trust) {
        engine.verifyStatus = errSSLXCertChainInvalid;
        X509_STORE_CTX_set_error(storeContext, X509_V_ERR_UNSPECIFIED);
        return 0;
    }
    SecTrustResultType result = trust->evaluate();
    if (result == kSecTrustResultUnspecified || result == kSecTrustResultProceed)
        return 1;
    engine.verifyStatus = trust->failureStatus();
    // The library picks the alert it sends the server from this code.
    X509_STORE_CTX_set_error(storeContext, trust->verifyErrorCode());
    return 0;
}

int TlsContext::Engine::sessionArrived(SSL* ssl, SSL_SESSION* session) {
    TlsContext* context = contextOf(ssl);
    if (!context || context->m_peerID.empty())
        return 0;
    detail::TlsSessionCache::shared().store(context->m_peerID, session);
    return 1; // the cache took the reference
}

// ---- the context ----

std::shared_ptr<TlsContext> TlsContext::create(TlsRole role) {
    auto context = std::make_shared<TlsContext>(PrivateTag{}, role);
    return context->m_engine ? context : nullptr;
}

TlsContext::TlsContext(PrivateTag, TlsRole role)
    : m_role(role) {
    SSL_CTX* shared = Engine::sharedContext(role);
    BIO_METHOD* method = Engine::transportMethod();
    if (!shared || !method)
        return;
    auto engine = std::make_unique<Engine>();
    engine->ssl.reset(SSL_new(shared));
    if (!engine->ssl)
        return;
    BIO* transport = BIO_new(method);
    if (!transport)
        return;
    BIO_set_data(transport, engine.get());
    SSL_set_bio(engine->ssl.get(), transport, transport);
    if (SSL_get_security_level(engine->ssl.get()) < 1)
        SSL_set_security_level(engine->ssl.get(), 1);
    SSL_set_app_data(engine->ssl.get(), this);
    m_engine = std::move(engine);
}

TlsContext::~TlsContext() {
    // The library marks a session unresumable when its connection is freed without a TLS close.
    // Since TLS 1.1 an unclosed connection no longer spoils its session, and connections here often
    // just end, so only a protocol failure (see fail()) keeps its session from being offered again.
    if (m_engine && (m_state != SSLSessionState::Aborted || isTransportEnd(m_failure)))
        SSL_set_shutdown(m_engine->ssl.get(), SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
}

OSStatus TlsContext::setIOFuncs(TlsReadFunction read, TlsWriteFunction write) {
    if (!configurable())
        return errSecBadReq;
    if (!read || !write)
        return errSecParam;
    m_engine->read = std::move(read);
    m_engine->write = std::move(write);
    return noErr;
}

OSStatus TlsContext::setPeerName(std::string_view name) {
    if (!configurable())
        return errSecBadReq;
    m_peerName = std::string(name);
    return noErr;
}

OSStatus TlsContext::setCertificate(const TlsIdentityPtr& identity,
                                    const std::vector<TlsCertificatePtr>& chain) {
    if (!configurable())
        return errSecBadReq;
    if (!identity)
        return errSecParam;
    SSL* ssl = m_engine->ssl.get();
    ERR_clear_error();
    bool ok = SSL_use_certificate(ssl, identity->certificate()->x509()) == 1 &&
              SSL_use_PrivateKey(ssl, identity->privateKey()) == 1 && SSL_check_private_key(ssl) == 1 &&
              SSL_clear_chain_certs(ssl) == 1;
    for (const auto& certificate : chain)
        ok = ok && certificate && SSL_add1_chain_cert(ssl, certificate->x509()) == 1;
    ERR_clear_error();
    return ok ? noErr : errSecParam;
}

OSStatus TlsContext::setPeerID(const Data& peerID) {
    if (!configurable())
        return errSecBadReq;
    m_peerID = peerID;
    return noErr;
}

OSStatus TlsContext::setProtocolVersionMin(SSLProtocol version) {
    if (!configurable())
        return errSecBadReq;
    int wanted = libraryVersion(version);
    if (wanted < 0)
        return errSecParam;
    SSL* ssl = m_engine->ssl.get();
    int max = SSL_get_max_proto_version(ssl);
    if (max != 0 && max < wanted && !SSL_set_max_proto_version(ssl, wanted))
        return errSecParam;
    if (!SSL_set_min_proto_version(ssl, wanted))
        return errSecParam;
    return noErr;
}

OSStatus TlsContext::setProtocolVersionMax(SSLProtocol version) {
    if (!configurable())
        return errSecBadReq;
    int wanted = libraryVersion(version);
    if (wanted < 0)
        return errSecParam;
    SSL* ssl = m_engine->ssl.get();
    if (SSL_get_min_proto_version(ssl) > wanted && !SSL_set_min_proto_version(ssl, wanted))
        return errSecParam;
    if (!SSL_set_max_proto_version(ssl, wanted))
        return errSecParam;
    return noErr;
}

SSLProtocol TlsContext::protocolVersionMin() const {
    int version = SSL_get_min_proto_version(m_engine->ssl.get());
    return version == 0 ? kTLSProtocol1 : protocolForLibraryVersion(version);
}

SSLProtocol TlsContext::protocolVersionMax() const {
    int version = SSL_get_max_proto_version(m_engine->ssl.get());
    return version == 0 ? kTLSProtocol13 : protocolForLibraryVersion(version);
}

OSStatus TlsContext::setEnabledCiphers(std::span<const uint16_t> suites) {
    if (!configurable())
        return errSecBadReq;
    SSL* ssl = m_engine->ssl.get();
    std::string tls12;
    std::string tls13;
    for (uint16_t suite : suites) {
        const unsigned char id[2] = {static_cast<unsigned char>(suite >> 8),
                                     static_cast<unsigned char>(suite)};
        const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, id);
        if (!cipher)
            continue;
        const char* name = SSL_CIPHER_get_name(cipher);
        if (!name || std::strstr(name, "SCSV"))
            continue;
        std::string& list = (suite >> 8) == 0x13 ? tls13 : tls12;
        if (!list.empty())
            list += ':';
        list += name;
    }
    if (tls12.empty() && tls13.empty())
        return errSecParam;
    ERR_clear_error();
    bool ok = SSL_set_ciphersuites(ssl, tls13.c_str()) == 1;
    // The library refuses an empty list for the versions before 1.3. The null-encryption suites stand
    // in for one: the security level (kept at 1 or more) never lets them be offered or chosen.
    ok = ok && SSL_set_cipher_list(ssl, tls12.empty() ? "eNULL" : tls12.c_str()) == 1;
    ERR_clear_error();
    return ok ? noErr : errSecParam;
}

std::vector<uint16_t> TlsContext::enabledCiphers() const {
    std::vector<uint16_t> suites;
    STACK_OF(SSL_CIPHER)* ciphers = SSL_get1_supported_ciphers(m_engine->ssl.get());
    for (int i = 0; ciphers && i < sk_SSL_CIPHER_num(ciphers); ++i)
        suites.push_back(SSL_CIPHER_get_protocol_id(sk_SSL_CIPHER_value(ciphers, i)));
    sk_SSL_CIPHER_free(ciphers);
    return suites;
}

OSStatus TlsContext::setSessionOption(SSLSessionOption option, bool value) {
    if (!configurable())
        return errSecBadReq;
    if (option < 0 || option > kMaxSessionOption)
        return errSecParam;
    uint32_t bit = 1u << option;
    m_options = value ? (m_options | bit) : (m_options & ~bit);
    return noErr;
}

bool TlsContext::sessionOption(SSLSessionOption option) const {
    if (option < 0 || option > kMaxSessionOption)
        return false;
    return m_options & (1u << option);
}

OSStatus TlsContext::setValidatesCertificateChain(bool validates) {
    if (!configurable())
        return errSecBadReq;
    m_validatesChain = validates;
    return noErr;
}

OSStatus TlsContext::setTrustOptions(TlsTrustOptions options) {
    if (!configurable())
        return errSecBadReq;
    m_trustOptions = options;
    return noErr;
}

OSStatus TlsContext::setTrustedRoots(std::vector<TlsCertificatePtr> roots, bool replaceSystemRoots) {
    if (!configurable())
        return errSecBadReq;
    if (std::any_of(roots.begin(), roots.end(), [](const auto& root) { return !root; }))
        return errSecParam;
    m_trustedRoots = std::move(roots);
    m_replaceSystemRoots = replaceSystemRoots;
    return noErr;
}

OSStatus TlsContext::start() {
    if (!m_engine->read || !m_engine->write)
        return errSecParam;
    SSL* ssl = m_engine->ssl.get();
    if (m_role == TlsRole::Server) {
        if (!SSL_get_certificate(ssl))
            return errSSLBadConfiguration;
        SSL_set_accept_state(ssl);
    } else {
        if (!m_peerName.empty() && !isIpAddress(m_peerName) &&
            !SSL_set_tlsext_host_name(ssl, m_peerName.c_str())) {
            ERR_clear_error();
            return errSecParam;
        }
        if (!m_peerID.empty()) {
            if (detail::UniqueSslSession session = detail::TlsSessionCache::shared().copy(m_peerID))
                SSL_set_session(ssl, session.get());
        }
        SSL_set_connect_state(ssl);
    }
    m_state = SSLSessionState::Handshake;
    return noErr;
}

OSStatus TlsContext::fail(OSStatus status) {
    if (m_role == TlsRole::Client && !m_peerID.empty() && !isTransportEnd(status))
        detail::TlsSessionCache::shared().remove(m_peerID);
    m_state = SSLSessionState::Aborted;
    m_failure = status;
    return status;
}

OSStatus TlsContext::failFromLibrary(int result) {
    OSStatus status;
    if (m_engine->transportStatus != noErr) {
        status = transportFailure(m_engine->transportStatus);
    } else if (m_engine->verifyStatus != noErr) {
        status = m_engine->verifyStatus;
    } else {
        int error = SSL_get_error(m_engine->ssl.get(), result);
        if (error == SSL_ERROR_SYSCALL)
            status = errSSLClosedAbort;
        else
            status = statusForLibraryError(ERR_peek_error());
    }
    ERR_clear_error();
    // The library may have queued an alert telling the peer why; it goes out if the transport lets it.
    flushOutput();
    return fail(status);
}

OSStatus TlsContext::flushOutput() {
    Engine& engine = *m_engine;
    if (engine.transportStatus != noErr)
        return transportFailure(engine.transportStatus);
    while (engine.pendingOutput() > 0) {
        size_t remaining = engine.pendingOutput();
        size_t moved = remaining;
        OSStatus status = engine.write(engine.outbox.data() + engine.outboxHead, &moved);
        moved = std::min(moved, remaining);
        engine.outboxHead += moved;
        if (status != noErr && status != errSSLWouldBlock) {
            engine.transportStatus = status;
            return transportFailure(status);
        }
        if (status == errSSLWouldBlock || moved == 0)
            break;
    }
    if (engine.pendingOutput() == 0) {
        engine.outbox.clear();
        engine.outboxHead = 0;
        return noErr;
    }
    if (engine.outboxHead > 65536 && engine.outboxHead > engine.outbox.size() / 2) {
        engine.outbox.erase(engine.outbox.begin(),
                            engine.outbox.begin() + static_cast<ptrdiff_t>(engine.outboxHead));
        engine.outboxHead = 0;
    }
    return errSSLWouldBlock;
}

OSStatus TlsContext::finishedStatus() const {
    return m_state == SSLSessionState::Aborted ? m_failure : errSSLClosedGraceful;
}

OSStatus TlsContext::handshake() {
    switch (m_state) {
    case SSLSessionState::Idle:
        if (OSStatus status = start(); status != noErr)
            return status;
        break;
    case SSLSessionState::Handshake:
        break;
    case SSLSessionState::Connected:
        return noErr;
    case SSLSessionState::Closed:
    case SSLSessionState::Aborted:
        return finishedStatus();
    }

    OSStatus flushed = flushOutput();
    if (flushed != noErr && flushed != errSSLWouldBlock)
        return fail(flushed);
    ERR_clear_error();
    int result = SSL_do_handshake(m_engine->ssl.get());
    if (result == 1) {
        // Done on this side, but the peer is not through until our last flight has left.
        flushed = flushOutput();
        if (flushed == noErr)
            m_state = SSLSessionState::Connected;
        else if (flushed != errSSLWouldBlock)
            return fail(flushed);
        return flushed;
    }
    switch (SSL_get_error(m_engine->ssl.get(), result)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        flushed = flushOutput();
        if (flushed != noErr && flushed != errSSLWouldBlock)
            return fail(flushed);
        return errSSLWouldBlock;
    case SSL_ERROR_WANT_RETRY_VERIFY:
        flushed = flushOutput();
        if (flushed != noErr && flushed != errSSLWouldBlock)
            return fail(flushed);
        return errSSLPeerAuthCompleted;
    default:
        return failFromLibrary(result);
    }
}

OSStatus TlsContext::read(void* data, size_t length, size_t* processed) {
    size_t ignored = 0;
    size_t& total = processed ? *processed : ignored;
    total = 0;
    if (!data && length > 0)
        return errSecParam;
    if (m_state == SSLSessionState::Idle || m_state == SSLSessionState::Handshake) {
        if (OSStatus status = handshake(); status != noErr)
            return status;
    }
    if (m_state != SSLSessionState::Connected)
        return finishedStatus();
    if (length == 0)
        return noErr;

    OSStatus status = noErr;
    SSL* ssl = m_engine->ssl.get();
    auto* bytes = static_cast<uint8_t*>(data);
    while (total < length) {
        ERR_clear_error();
        size_t got = 0;
        int result = SSL_read_ex(ssl, bytes + total, length - total, &got);
        if (result == 1) {
            total += got;
            continue;
        }
        int error = SSL_get_error(ssl, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            status = errSSLWouldBlock;
        } else if (error == SSL_ERROR_ZERO_RETURN) {
            status = errSSLClosedGraceful;
        } else {
            status = failFromLibrary(result);
            return status;
        }
        break;
    }
    // Reading can queue bytes of our own (a key update answer, a close_notify reply).
    OSStatus flushed = flushOutput();
    if (flushed != noErr && flushed != errSSLWouldBlock)
        return fail(flushed);
    return total == length ? noErr : status;
}

OSStatus TlsContext::write(const void* data, size_t length, size_t* processed) {
    size_t ignored = 0;
    size_t& taken = processed ? *processed : ignored;
    taken = 0;
    if (!data && length > 0)
        return errSecParam;
    if (m_state == SSLSessionState::Idle || m_state == SSLSessionState::Handshake) {
        if (OSStatus status = handshake(); status != noErr)
            return status;
    }
    if (m_state != SSLSessionState::Connected)
        return finishedStatus();

    OSStatus flushed = flushOutput();
    if (flushed != noErr) {
        if (flushed != errSSLWouldBlock)
            return fail(flushed);
        return errSSLWouldBlock;
    }
    if (length == 0)
        return noErr;

    ERR_clear_error();
    size_t written = 0;
    int result = SSL_write_ex(m_engine->ssl.get(), data, length, &written);
    if (result != 1) {
        int error = SSL_get_error(m_engine->ssl.get(), result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
            return errSSLWouldBlock;
        return failFromLibrary(result);
    }
    taken = written;
    flushed = flushOutput();
    if (flushed != noErr && flushed != errSSLWouldBlock)
        return fail(flushed);
    return flushed;
}

OSStatus TlsContext::close() {
    switch (m_state) {
    case SSLSessionState::Idle:
        m_state = SSLSessionState::Closed;
        return noErr;
    case SSLSessionState::Aborted:
        return noErr;
    case SSLSessionState::Handshake:
        // Nothing was agreed yet, so there is no session to close politely.
        m_state = SSLSessionState::Closed;
        return noErr;
    case SSLSessionState::Connected:
        ERR_clear_error();
        SSL_shutdown(m_engine->ssl.get());
        ERR_clear_error();
        m_state = SSLSessionState::Closed;
        break;
    case SSLSessionState::Closed:
        break;
    }
    return flushOutput();
}

size_t TlsContext::bufferedReadSize() const {
    int pending = SSL_pending(m_engine->ssl.get());
    return pending > 0 ? static_cast<size_t>(pending) : 0;
}

TlsTrustPtr TlsContext::copyPeerTrust(OSStatus* status) const {
    std::vector<TlsCertificatePtr> chain = m_engine->peerChain;
    if (chain.empty()) {
        // A resumed session skips verification; its chain comes with the session.
        SSL* ssl = m_engine->ssl.get();
        X509* leaf = SSL_get0_peer_certificate(ssl);
        if (auto certificate = TlsCertificate::createWithX509(leaf))
            chain.push_back(std::move(certificate));
        STACK_OF(X509)* sent = SSL_get_peer_cert_chain(ssl);
        for (int i = 0; leaf && sent && i < sk_X509_num(sent); ++i) {
            X509* member = sk_X509_value(sent, i);
            if (X509_cmp(member, leaf) == 0)
                continue;
            if (auto certificate = TlsCertificate::createWithX509(member))
                chain.push_back(std::move(certificate));
        }
    }
    std::optional<std::string> host;
    if (!m_peerName.empty())
        host = m_peerName;
    auto trust = TlsTrust::create(std::move(chain), std::move(host));
    if (status)
        *status = trust ? noErr : errSecParam;
    if (!trust)
        return nullptr;
    if (m_trustedRoots) {
        trust->setAnchorCertificates(*m_trustedRoots);
        trust->setAnchorCertificatesOnly(m_replaceSystemRoots);
    }
    trust->setOptions(m_trustOptions);
    return trust;
}

SSLProtocol TlsContext::negotiatedProtocolVersion() const {
    if (m_state != SSLSessionState::Connected && m_state != SSLSessionState::Closed)
        return kSSLProtocolUnknown;
    return protocolForLibraryVersion(SSL_version(m_engine->ssl.get()));
}

uint16_t TlsContext::negotiatedCipher() const {
    const SSL_CIPHER* cipher = SSL_get_current_cipher(m_engine->ssl.get());
    return cipher ? SSL_CIPHER_get_protocol_id(cipher) : 0;
}

bool TlsContext::isSessionResumed() const {
    return SSL_session_reused(m_engine->ssl.get()) == 1;
}

void TlsContext::clearSessionCache() {
    detail::TlsSessionCache::shared().clear();
}

} // namespace platform
