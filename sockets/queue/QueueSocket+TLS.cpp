// Upgrading a connection to TLS: the marker queued behind every earlier read and write, the start-up of
// the TLS engine over the socket's own descriptor (the usual path) or of the stream pair's TLS, the
// engine's transport functions, and the handshake with the delegate's optional trust verdict.
#include "platform/security/TlsSettingsKeys.h"
#include "sockets/queue/QueueSocketHalf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using platform::OSStatus;
using platform::Value;
using sockets::SpecialPacket;

namespace {

// Keys of the platform's stream TLS that the engine over the descriptor does not offer.
constexpr const char* kUnsupportedKeys[] = {
    platform::kCFStreamSSLAllowsAnyRoot,
    platform::kCFStreamSSLAllowsExpiredRoots,
    platform::kCFStreamSSLValidatesCertificateChain,
    platform::kCFStreamSSLAllowsExpiredCertificates,
    platform::kCFStreamSSLLevel,
};

bool hasKey(const Value& settings, const char* key) {
    auto* dictionary = settings.dictionary();
    return dictionary && dictionary->contains(key);
}

bool isArrayOfNumbers(const Value& value) {
    return value.isArray() && std::all_of(value.array()->begin(), value.array()->end(),
                                          [](const Value& v) { return v.isNumber(); });
}

// The identity first, then the certificates of its chain.
OSStatus setCertificates(platform::TlsContext& context, const Value& certificates) {
    const auto& members = *certificates.array();
    auto identity = members.empty() ? nullptr : members.front().objectAs<platform::TlsIdentity>();
    if (!identity)
        return platform::errSecParam;
    std::vector<platform::TlsCertificatePtr> chain;
    for (size_t i = 1; i < members.size(); ++i) {
        auto certificate = members[i].objectAs<platform::TlsCertificate>();
        if (!certificate)
            return platform::errSecParam;
        chain.push_back(std::move(certificate));
    }
    return context.setCertificate(identity, chain);
}

OSStatus setProtocolBound(platform::TlsContext& context, const Value& value, bool minimum) {
    auto version = static_cast<platform::SSLProtocol>(value.number()->intValue());
    if (version == platform::kSSLProtocolUnknown)
        return platform::noErr;
    return minimum ? context.setProtocolVersionMin(version) : context.setProtocolVersionMax(version);
}

// One optional setting: when present, its value must pass `valid` (else "Invalid value for <key>.")
// and `apply` must answer noErr (else `applyFailure`).
struct TlsSetting {
    const char* key;
    bool (*valid)(const Value& value);
    OSStatus (*apply)(platform::TlsContext& context, const Value& value);
    const char* applyFailure;
};

// In the order they are checked: the first bad one names the failure.
const TlsSetting kTlsSettings[] = {
    {platform::kCFStreamSSLPeerName, [](const Value& v) { return v.isString(); },
     [](platform::TlsContext& c, const Value& v) { return c.setPeerName(*v.string()); },
     "Error in SSLSetPeerDomainName"},
    {platform::kCFStreamSSLCertificates, [](const Value& v) { return v.isArray(); }, &setCertificates,
     "Error in SSLSetCertificate"},
    {QueueSocketSSLPeerID, [](const Value& v) { return v.isData(); },
     [](platform::TlsContext& c, const Value& v) { return c.setPeerID(*v.data()); }, "Error in SSLSetPeerID"},
    {QueueSocketSSLProtocolVersionMin, [](const Value& v) { return v.isNumber(); },
     [](platform::TlsContext& c, const Value& v) { return setProtocolBound(c, v, true); },
     "Error in SSLSetProtocolVersionMin"},
    {QueueSocketSSLProtocolVersionMax, [](const Value& v) { return v.isNumber(); },
     [](platform::TlsContext& c, const Value& v) { return setProtocolBound(c, v, false); },
     "Error in SSLSetProtocolVersionMax"},
    {QueueSocketSSLSessionOptionFalseStart, [](const Value& v) { return v.isNumber(); },
     [](platform::TlsContext& c, const Value& v) {
         return c.setSessionOption(platform::kSSLSessionOptionFalseStart, v.number()->boolValue());
     },
     "Error in SSLSetSessionOption (kSSLSessionOptionFalseStart)"},
    {QueueSocketSSLSessionOptionSendOneByteRecord, [](const Value& v) { return v.isNumber(); },
     [](platform::TlsContext& c, const Value& v) {
         return c.setSessionOption(platform::kSSLSessionOptionSendOneByteRecord, v.number()->boolValue());
     },
     "Error in SSLSetSessionOption (kSSLSessionOptionSendOneByteRecord)"},
    {QueueSocketSSLCipherSuites, &isArrayOfNumbers,
     [](platform::TlsContext& c, const Value& v) {
         std::vector<uint16_t> suites;
         for (const auto& suite : *v.array())
             suites.push_back(static_cast<uint16_t>(suite.number()->int64Value()));
         return c.setEnabledCiphers(suites);
     },
     "Error in SSLSetEnabledCiphers"},
};

// Applies the settings of a startTLS to a fresh context: the failure text, or nothing.
std::optional<std::string> applyTlsSettings(platform::TlsContext& context, const Value& settings,
                                            bool isServer) {
    if (settings[QueueSocketManuallyEvaluateTrust].boolOr(false)) {
        if (isServer)
            return "Manual trust validation is not supported for server sockets";
        if (context.setBreakOnServerAuth(true) != platform::noErr)
            return "Error in SSLSetSessionOption";
    }
    for (const auto& setting : kTlsSettings) {
        const Value& value = settings[setting.key];
        if (value.isNil())
            continue;
        if (!setting.valid(value))
            return std::string("Invalid value for ") + setting.key + ".";
        if (setting.apply(context, value) != platform::noErr)
            return setting.applyFailure;
    }
    for (const char* key : kUnsupportedKeys)
        if (hasKey(settings, key))
            return std::string("Security option unavailable - ") + key;
    return std::nullopt;
}

} // namespace

void QueueSocket::startTLS(Value tlsSettings) {
    if (tlsSettings.isNil())
        tlsSettings = Value(platform::ValueDictionary{});
    auto packet = std::make_shared<SpecialPacket>(std::move(tlsSettings));
    runInRequestOrder([packet](QueueSocket& socket) {
        uint32_t flags = socket.m_flags;
        if ((flags & FlagStarted) && !(flags & FlagTLSQueued) && !(flags & FlagForbidRequests)) {
            socket.m_readQueue.push_back(packet);
            socket.m_writeQueue.push_back(packet);
            socket.m_flags |= FlagTLSQueued;
            socket.maybeDequeueRead();
            socket.maybeDequeueWrite();
        }
    });
}

void QueueSocket::maybeStartTLS() {
    // Only once both queues have drained up to the marker.
    if (!(m_flags & FlagStartingReadTLS) || !(m_flags & FlagStartingWriteTLS))
        return;
    auto marker = std::dynamic_pointer_cast<SpecialPacket>(m_currentRead);
    bool useCFStream = marker && marker->tlsSettings[QueueSocketUseCFStreamForTLS].boolOr(false);
    if (useCFStream)
        cf_startTLS();
    else
        ssl_startTLS();
}

// ---- The TLS engine over the descriptor ----
void QueueSocket::ssl_startTLS() {
    auto marker = std::dynamic_pointer_cast<SpecialPacket>(m_currentRead);
    if (!marker) {
        closeWithError(otherError("Logic error"));
        return;
    }
    const Value& settings = marker->tlsSettings;

    bool isServer = settings[platform::kCFStreamSSLIsServer].boolOr(false);
    m_sslContext =
        platform::TlsContext::create(isServer ? platform::TlsRole::Server : platform::TlsRole::Client);
    if (!m_sslContext) {
        closeWithError(otherError("Error in SSLCreateContext"));
        return;
    }

    // The context belongs to this socket and calls these only from inside the calls the socket makes
    // on its own queue (handshake, read, write, close); it is released before the socket is gone.
    OSStatus status = m_sslContext->setIOFuncs(
        [this](void* data, size_t* length) { return sslReadWithBuffer(data, length); },
        [this](const void* data, size_t* length) { return sslWriteWithBuffer(data, length); });
    if (status != platform::noErr) {
        closeWithError(otherError("Error in SSLSetIOFuncs"));
        return;
    }
    if (auto failure = applyTlsSettings(*m_sslContext, settings, isServer)) {
        closeWithError(otherError(*failure));
        return;
    }

    // Bytes that arrived behind the last plain-text reply are the start of the handshake: the engine
    // consumes them before anything new is read from the descriptor.
    m_sslPreBuffer = std::make_unique<QueueSocketPreBuffer>(4096);
    uint64_t preBuffered = m_preBuffer->availableBytes();
    if (preBuffered > 0) {
        m_sslPreBuffer->ensureCapacityForWrite(preBuffered);
        std::memcpy(m_sslPreBuffer->writeBuffer(), m_preBuffer->readBuffer(), preBuffered);
        m_preBuffer->didRead(preBuffered);
        m_sslPreBuffer->didWrite(preBuffered);
    }

    m_lastSSLHandshakeError = platform::noErr;
    m_sslErrCode = platform::noErr;
    ssl_continueSSLHandshake();
}

void QueueSocket::ssl_continueSSLHandshake() {
    OSStatus status = m_sslContext->handshake();
    m_lastSSLHandshakeError = status;

    if (status == platform::noErr) {
        didSecure();
        return;
    }

    if (status == platform::errSSLPeerAuthCompleted) {
        OSStatus trustStatus = platform::noErr;
        platform::TlsTrustPtr trust = m_sslContext->copyPeerTrust(&trustStatus);
        if (!trust) {
            closeWithError(sslError(trustStatus != platform::noErr ? trustStatus : platform::errSSLBadCert));
            return;
        }

        // The verdict may come from any thread, at any time, any number of times: it only posts to the
        // socket queue, and the state index lets through the first answer to this very handshake.
        int aStateIndex = m_stateIndex;
        auto socketQueue = m_socketQueue;
        std::function<void(bool)> completionHandler = [weak = weakSelf(), socketQueue,
                                                       aStateIndex](bool shouldTrustPeer) {
            socketQueue->async([weak, shouldTrustPeer, aStateIndex] {
                if (auto strongSelf = weak.lock())
                    strongSelf->ssl_shouldTrustPeer(shouldTrustPeer, aStateIndex);
            });
        };

        const char* selector = "socket:didReceiveTrust:completionHandler:";
        auto delegate = m_delegate.lock();
        if (m_delegateQueue && delegate && delegate->respondsTo(selector)) {
            notifyDelegate(selector,
                           [strongSelf = self(), trust, completionHandler](const QueueSocketDelegatePtr& d) {
                               d->socketDidReceiveTrust(strongSelf, trust, completionHandler);
                           });
        } else {
            closeWithError(otherError("Manual trust evaluation was requested, but the delegate does not "
                                      "implement socket:didReceiveTrust:completionHandler:"));
        }
        return;
    }

    if (status == platform::errSSLWouldBlock)
        return; // the read or write engine runs the next step when the descriptor is ready

    closeWithError(sslError(status));
}

void QueueSocket::ssl_shouldTrustPeer(bool shouldTrust, int aStateIndex) {
    if (aStateIndex != m_stateIndex)
        return;
    // Advanced so that a second answer, or one after a close, is dropped.
    m_stateIndex++;
    if (shouldTrust)
        ssl_continueSSLHandshake();
    else
        closeWithError(sslError(platform::errSSLPeerBadCert));
}

OSStatus QueueSocket::sslReadWithBuffer(void* buffer, size_t* bufferLength) {
    if (m_socketFDBytesAvailable == 0 && m_sslPreBuffer->availableBytes() == 0) {
        resumeReadSource();
        *bufferLength = 0;
        return platform::errSSLWouldBlock;
    }

    size_t totalBytesRequested = *bufferLength;
    size_t totalBytesLeftToBeRead = totalBytesRequested;
    size_t totalBytesRead = 0;
    bool done = false;
    bool socketError = false;
    auto* target = static_cast<uint8_t*>(buffer);

    uint64_t sslPreBufferLength = m_sslPreBuffer->availableBytes();
    if (sslPreBufferLength > 0) {
        size_t bytesToCopy =
            static_cast<size_t>(std::min<uint64_t>(sslPreBufferLength, totalBytesLeftToBeRead));
        std::memcpy(target, m_sslPreBuffer->readBuffer(), bytesToCopy);
        m_sslPreBuffer->didRead(bytesToCopy);
        totalBytesRead += bytesToCopy;
        totalBytesLeftToBeRead -= bytesToCopy;
        done = totalBytesLeftToBeRead == 0;
    }

    if (!done && m_socketFDBytesAvailable > 0) {
        int socketFD = activeSocketFD();
        // The engine asks for a few bytes at a time; one read() of everything the source reported, kept
        // in the TLS pre-buffer, serves the following requests without more system calls.
        bool readIntoPreBuffer = m_socketFDBytesAvailable > totalBytesLeftToBeRead;
        size_t bytesToRead =
            readIntoPreBuffer ? static_cast<size_t>(m_socketFDBytesAvailable) : totalBytesLeftToBeRead;
        uint8_t* readTarget = target + totalBytesRead;
        if (readIntoPreBuffer) {
            m_sslPreBuffer->ensureCapacityForWrite(bytesToRead);
            readTarget = m_sslPreBuffer->writeBuffer();
        }
        ssize_t result = ::read(socketFD, readTarget, bytesToRead);
        if (result < 0) {
            if (errno != EWOULDBLOCK && errno != EAGAIN)
                socketError = true;
            m_socketFDBytesAvailable = 0;
        } else if (result == 0) {
            socketError = true;
            m_socketFDBytesAvailable = 0;
        } else {
            auto bytesReadFromSocket = static_cast<size_t>(result);
            if (m_socketFDBytesAvailable > bytesReadFromSocket)
                m_socketFDBytesAvailable -= bytesReadFromSocket;
            else
                m_socketFDBytesAvailable = 0;
            if (readIntoPreBuffer) {
                m_sslPreBuffer->didWrite(bytesReadFromSocket);
                size_t bytesToCopy = std::min(bytesReadFromSocket, totalBytesLeftToBeRead);
                std::memcpy(target + totalBytesRead, m_sslPreBuffer->readBuffer(), bytesToCopy);
                m_sslPreBuffer->didRead(bytesToCopy);
                totalBytesRead += bytesToCopy;
                totalBytesLeftToBeRead -= bytesToCopy;
            } else {
                totalBytesRead += bytesReadFromSocket;
                totalBytesLeftToBeRead -= bytesReadFromSocket;
            }
            done = totalBytesLeftToBeRead == 0;
        }
    }

    *bufferLength = totalBytesRead;
    if (done)
        return platform::noErr;
    if (socketError)
        return platform::errSSLClosedAbort;
    // Ran dry: the source must be on, or nothing would wake the engine when more bytes arrive.
    if (m_socketFDBytesAvailable == 0 && m_sslPreBuffer->availableBytes() == 0)
        resumeReadSource();
    return platform::errSSLWouldBlock;
}

OSStatus QueueSocket::sslWriteWithBuffer(const void* buffer, size_t* bufferLength) {
    if (!(m_flags & FlagCanAcceptBytes)) {
        resumeWriteSource();
        *bufferLength = 0;
        return platform::errSSLWouldBlock;
    }

    size_t bytesToWrite = *bufferLength;
    int socketFD = activeSocketFD();
    ssize_t result = ::send(socketFD, buffer, bytesToWrite, MSG_NOSIGNAL);
    if (result < 0) {
        bool wouldBlock = errno == EWOULDBLOCK || errno == EAGAIN;
        m_flags &= ~FlagCanAcceptBytes;
        resumeWriteSource();
        *bufferLength = 0;
        return wouldBlock ? platform::errSSLWouldBlock : platform::errSSLClosedAbort;
    }
    auto bytesWritten = static_cast<size_t>(result);
    *bufferLength = bytesWritten;
    if (bytesWritten == bytesToWrite)
        return platform::noErr;
    // Out of room: the write source wakes whichever engine step has to go on (the handshake too).
    m_flags &= ~FlagCanAcceptBytes;
    resumeWriteSource();
    return platform::errSSLWouldBlock;
}

// ---- TLS inside the stream pair ----
void QueueSocket::cf_startTLS() {
    if (m_preBuffer->availableBytes() > 0) {
        closeWithError(otherError("Invalid TLS transition. Handshake has already been read from socket."));
        return;
    }

    // From here on the streams deliver the events; the descriptor is never watched twice.
    suspendReadSource();
    suspendWriteSource();
    m_socketFDBytesAvailable = 0;
    m_flags &= ~FlagCanAcceptBytes;
    m_flags &= ~FlagSecureBytesAvailable;
    m_flags |= FlagTLSByCFStream;

    if (!createReadAndWriteStream()) {
        closeWithError(otherError("Error in CFStreamCreatePairWithSocket"));
        return;
    }
    if (!registerForStreamCallbacksIncludingReadWrite(true)) {
        closeWithError(otherError("Error in CFStreamSetClient"));
        return;
    }
    if (!addStreamsToRunLoop()) {
        closeWithError(otherError("Error in CFStreamScheduleWithRunLoop"));
        return;
    }

    auto marker = std::static_pointer_cast<SpecialPacket>(m_currentRead);
    bool readSet = m_readStream->setProperty(platform::kCFStreamPropertySSLSettings, marker->tlsSettings);
    bool writeSet = m_writeStream->setProperty(platform::kCFStreamPropertySSLSettings, marker->tlsSettings);
    if (!readSet && !writeSet) {
        closeWithError(otherError("Error in CFStreamSetProperty"));
        return;
    }

    if (!openStreams()) {
        closeWithError(otherError("Error in CFStreamOpen"));
        return;
    }
}

void QueueSocket::cf_finishSSLHandshake() {
    if ((m_flags & FlagStartingReadTLS) && (m_flags & FlagStartingWriteTLS))
        didSecure();
}

void QueueSocket::didSecure() {
    m_flags &= ~(FlagStartingReadTLS | FlagStartingWriteTLS);
    m_flags |= FlagSecure;
    notifyDelegate("socketDidSecure:", [strongSelf = self()](const QueueSocketDelegatePtr& delegate) {
        delegate->socketDidSecure(strongSelf);
    });
    endCurrent(kReadHalf);
    endCurrent(kWriteHalf);
    maybeDequeueRead();
    maybeDequeueWrite();
}

void QueueSocket::cf_abortSSLHandshake(const platform::ErrorPtr& error) {
    if (!(m_flags & FlagStartingReadTLS) || !(m_flags & FlagStartingWriteTLS))
        return;
    m_flags &= ~(FlagStartingReadTLS | FlagStartingWriteTLS);
    closeWithError(error);
}
