#include "sockets/runloop/RunLoopSocket.h"

#include "platform/foundation/Exception.h"
#include "platform/security/SecurityStatus.h"
#include "sockets/common/SocketAddress.h"
#include "sockets/common/SocketErrors.h"

#include <cerrno>

namespace {

constexpr const char* kStringTable = "RunLoopSocket";
constexpr const char* NSMachErrorDomain = "NSMachErrorDomain";

struct OwnError {
    RunLoopSocketError code;
    const char* key;
    const char* text;
};

constexpr OwnError kOwnErrors[] = {
    {RunLoopSocketCFSocketError, "RunLoopSocketCFSocketError", "General CFSocket error"},
    {RunLoopSocketCanceledError, "RunLoopSocketCanceledError", "Connection canceled"},
    {RunLoopSocketConnectTimeoutError, "RunLoopSocketConnectTimeoutError",
     "Attempt to connect to host timed out"},
    {RunLoopSocketReadMaxedOutError, "RunLoopSocketReadMaxedOutError",
     "Read operation reached set maximum length"},
    {RunLoopSocketReadTimeoutError, "RunLoopSocketReadTimeoutError", "Read operation timed out"},
    {RunLoopSocketWriteTimeoutError, "RunLoopSocketWriteTimeoutError", "Write operation timed out"},
};

// The stream domains that name themselves in the error, without a description.
struct NamedStreamDomain {
    platform::StreamErrorDomain domain;
    const char* name;
};

constexpr NamedStreamDomain kNamedStreamDomains[] = {
    {platform::kCFStreamErrorDomainNetServices, "kCFStreamErrorDomainNetServices"},
    {platform::kCFStreamErrorDomainSOCKS, "kCFStreamErrorDomainSOCKS"},
    {platform::kCFStreamErrorDomainSystemConfiguration, "kCFStreamErrorDomainSystemConfiguration"},
    {platform::kCFStreamErrorDomainSSL, "kCFStreamErrorDomainSSL"},
};

} // namespace

// MARK: - Creation

RunLoopSocketPtr RunLoopSocket::create(RunLoopSocketDelegatePtr delegate, int64_t userData) {
    return std::make_shared<RunLoopSocket>(PrivateTag{}, std::move(delegate), userData);
}

RunLoopSocket::RunLoopSocket(PrivateTag, RunLoopSocketDelegatePtr delegate, int64_t userData)
    : m_delegate(std::move(delegate))
    , m_userData(userData) {}

// The delegate hears onSocketDidDisconnect with a null socket from here; nothing deferred survives.
RunLoopSocket::~RunLoopSocket() {
    close();
    m_binding.cancelAll();
}

bool RunLoopSocket::canSafelySetDelegate() const {
    return m_reads.isIdle() && m_writes.isIdle();
}

void RunLoopSocket::checkForThreadSafety() const {
    auto& loop = m_binding.runLoop();
    if (loop && !loop->isCurrent())
        throw platform::Exception(RunLoopSocketException,
                                  "Attempting to access RunLoopSocket instance from incorrect thread.");
}

void RunLoopSocket::enablePreBuffering() {
    m_flags |= kPreBuffering;
}

bool RunLoopSocket::isDisconnected() const {
    return m_nativeSocket4 < 0 && m_nativeSocket6 < 0 && !m_socket4 && !m_socket6 && !m_readStream &&
           !m_writeStream;
}

bool RunLoopSocket::isConnected() const {
    if (!bothStreams())
        return false;
    auto read = m_readStream->status();
    auto write = m_writeStream->status();
    bool readUp = read == platform::kCFStreamStatusOpen || read == platform::kCFStreamStatusReading ||
                  read == platform::kCFStreamStatusError;
    bool writeUp = write == platform::kCFStreamStatusOpen || write == platform::kCFStreamStatusWriting ||
                   write == platform::kCFStreamStatusError;
    return readUp && writeUp;
}

platform::Data RunLoopSocket::CRLFData() {
    return sockets::CRLFData();
}

platform::Data RunLoopSocket::CRData() {
    return sockets::CRData();
}

platform::Data RunLoopSocket::LFData() {
    return sockets::LFData();
}

platform::Data RunLoopSocket::ZeroData() {
    return sockets::ZeroData();
}

// MARK: - Delegate

// Null while the socket is being destroyed.
RunLoopSocketPtr RunLoopSocket::self() {
    return std::static_pointer_cast<RunLoopSocket>(weak_from_this().lock());
}

void RunLoopSocket::tellDelegate(
    const char* selector, const std::function<void(RunLoopSocketDelegate&, const RunLoopSocketPtr&)>& call) {
    askDelegate(selector, 0, [&](RunLoopSocketDelegate& delegate, const RunLoopSocketPtr& sock) {
        call(delegate, sock);
        return 0;
    });
}

// MARK: - Errors

platform::ErrorPtr RunLoopSocket::socketError(RunLoopSocketError code) {
    for (auto& own : kOwnErrors) {
        if (own.code == code)
            return sockets::makeError(RunLoopSocketErrorDomain, code,
                                      sockets::localizedText(own.key, own.text, kStringTable));
    }
    return nullptr;
}

platform::ErrorPtr RunLoopSocket::getErrnoError() const {
    return sockets::errnoError(errno);
}

platform::ErrorPtr RunLoopSocket::getSocketError() const {
    return socketError(RunLoopSocketCFSocketError);
}

platform::ErrorPtr RunLoopSocket::getStreamError() const {
    for (const platform::SocketStream* stream :
         {static_cast<const platform::SocketStream*>(m_readStream.get()),
          static_cast<const platform::SocketStream*>(m_writeStream.get())}) {
        if (stream && stream->error().error != 0)
            return errorFromCFStreamError(stream->error());
    }
    return nullptr;
}

platform::ErrorPtr RunLoopSocket::getAbortError() const {
    return socketError(RunLoopSocketCanceledError);
}

platform::ErrorPtr RunLoopSocket::getConnectTimeoutError() const {
    return socketError(RunLoopSocketConnectTimeoutError);
}

platform::ErrorPtr RunLoopSocket::getReadMaxedOutError() const {
    return socketError(RunLoopSocketReadMaxedOutError);
}

platform::ErrorPtr RunLoopSocket::getReadTimeoutError() const {
    return socketError(RunLoopSocketReadTimeoutError);
}

platform::ErrorPtr RunLoopSocket::getWriteTimeoutError() const {
    return socketError(RunLoopSocketWriteTimeoutError);
}

platform::ErrorPtr RunLoopSocket::errorFromCFStreamError(const platform::StreamError& error) {
    if (error.domain == 0 && error.error == 0)
        return nullptr;
    switch (error.domain) {
    case platform::kCFStreamErrorDomainPOSIX:
        return platform::Error::posix(error.error);
    case platform::kCFStreamErrorDomainMacOSStatus:
        return platform::Error::create(platform::NSOSStatusErrorDomain, error.error);
    case platform::kCFStreamErrorDomainMach:
        return platform::Error::create(NSMachErrorDomain, error.error);
    case platform::kCFStreamErrorDomainNetDB:
        return sockets::gaiError(error.error);
    default:
        break;
    }
    for (auto& named : kNamedStreamDomains) {
        if (named.domain == error.domain)
            return platform::Error::create(named.name, error.error);
    }
    return platform::Error::create("CFStreamError (unlisted domain)", error.error);
}
