// The read and write sources of a connected descriptor, their suspension bookkeeping, and the
// connection queries answered from the descriptors.
#include "sockets/queue/QueueSocket.h"

#include <unistd.h>

using platform::DispatchSource;

void QueueSocket::setupReadAndWriteSourcesForNewlyConnectedSocket(int socketFD) {
    m_readSource = DispatchSource::createRead(socketFD, m_socketQueue);
    m_writeSource = DispatchSource::createWrite(socketFD, m_socketQueue);

    auto weak = weakSelf();
    std::weak_ptr<DispatchSource> weakReadSource = m_readSource;
    m_readSource->setEventHandler([weak, weakReadSource] {
        auto strongSelf = weak.lock();
        auto source = weakReadSource.lock();
        if (!strongSelf || !source)
            return;
        strongSelf->m_socketFDBytesAvailable = source->data();
        if (strongSelf->m_socketFDBytesAvailable > 0)
            strongSelf->doReadData();
        else
            strongSelf->doReadEOF();
    });
    m_writeSource->setEventHandler([weak] {
        auto strongSelf = weak.lock();
        if (!strongSelf)
            return;
        strongSelf->m_flags |= FlagCanAcceptBytes;
        strongSelf->doWriteData();
    });

    // No cancel handlers: the close gives the descriptor back itself once both sources are cancelled
    // (cancelSources), so cancelling queues nothing on the socket queue.

    // The write source stays suspended: the first write is tried at once, and the source is only needed
    // once the send buffer fills.
    m_socketFDBytesAvailable = 0;
    m_flags &= ~FlagReadSourceSuspended;
    m_flags |= FlagCanAcceptBytes;
    m_flags |= FlagWriteSourceSuspended;
    // Last: a descriptor with bytes waiting queues the handler at once, and it finds the state complete.
    m_readSource->resume();
}

void QueueSocket::suspendReadSource() {
    if (!(m_flags & FlagReadSourceSuspended) && m_readSource) {
        m_readSource->suspend();
        m_flags |= FlagReadSourceSuspended;
    }
}

void QueueSocket::resumeReadSource() {
    if ((m_flags & FlagReadSourceSuspended) && m_readSource) {
        m_readSource->resume();
        m_flags &= ~FlagReadSourceSuspended;
    }
}

void QueueSocket::suspendWriteSource() {
    if (!(m_flags & FlagWriteSourceSuspended) && m_writeSource) {
        m_writeSource->suspend();
        m_flags |= FlagWriteSourceSuspended;
    }
}

void QueueSocket::resumeWriteSource() {
    if ((m_flags & FlagWriteSourceSuspended) && m_writeSource) {
        m_writeSource->resume();
        m_flags &= ~FlagWriteSourceSuspended;
    }
}

bool QueueSocket::usingCFStreamForTLS() const {
    return (m_flags & FlagSecure) && (m_flags & FlagTLSByCFStream);
}

bool QueueSocket::usingSecureTransportForTLS() const {
    return !usingCFStreamForTLS();
}

int QueueSocket::activeSocketFD() const {
    return m_socket4FD != -1 ? m_socket4FD : m_socket6FD != -1 ? m_socket6FD : m_socketUN;
}

// ---- Queries from any thread ----
bool QueueSocket::isDisconnected() const {
    bool result = false;
    runOnSocketQueue([&] { result = !(m_flags & FlagStarted); });
    return result;
}

bool QueueSocket::isConnected() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_flags & FlagConnected) != 0; });
    return result;
}

std::optional<std::string> QueueSocket::connectedHost() const {
    std::optional<std::string> result;
    runOnSocketQueue([&] {
        if (m_socket4FD != -1)
            result = connectedHostFromSocket4(m_socket4FD);
        else if (m_socket6FD != -1)
            result = connectedHostFromSocket6(m_socket6FD);
    });
    return result;
}

uint16_t QueueSocket::connectedPort() const {
    uint16_t result = 0;
    runOnSocketQueue([&] {
        if (m_socket4FD != -1)
            result = connectedPortFromSocket4(m_socket4FD);
        else if (m_socket6FD != -1)
            result = connectedPortFromSocket6(m_socket6FD);
    });
    return result;
}

platform::URLPtr QueueSocket::connectedUrl() const {
    platform::URLPtr result;
    runOnSocketQueue([&] {
        if (m_socketUN != -1)
            result = connectedUrlFromSocketUN(m_socketUN);
    });
    return result;
}

std::optional<std::string> QueueSocket::localHost() const {
    std::optional<std::string> result;
    runOnSocketQueue([&] {
        if (m_socket4FD != -1)
            result = localHostFromSocket4(m_socket4FD);
        else if (m_socket6FD != -1)
            result = localHostFromSocket6(m_socket6FD);
    });
    return result;
}

uint16_t QueueSocket::localPort() const {
    uint16_t result = 0;
    runOnSocketQueue([&] {
        if (m_socket4FD != -1)
            result = localPortFromSocket4(m_socket4FD);
        else if (m_socket6FD != -1)
            result = localPortFromSocket6(m_socket6FD);
    });
    return result;
}

namespace {

// The raw address of one end of a descriptor, at the family's record size.
template <class Record>
std::optional<platform::Data> addressOf(int socketFD, int (*query)(int, sockaddr*, socklen_t*)) {
    Record record{};
    socklen_t length = sizeof(record);
    if (query(socketFD, reinterpret_cast<sockaddr*>(&record), &length) != 0)
        return std::nullopt;
    return platform::Data(&record, sizeof(record));
}

} // namespace

std::optional<platform::Data> QueueSocket::connectedAddress() const {
    std::optional<platform::Data> result;
    runOnSocketQueue([&] {
        if (m_socket4FD != -1)
            result = addressOf<sockaddr_in>(m_socket4FD, ::getpeername);
        if (m_socket6FD != -1)
            result = addressOf<sockaddr_in6>(m_socket6FD, ::getpeername);
    });
    return result;
}

std::optional<platform::Data> QueueSocket::localAddress() const {
    std::optional<platform::Data> result;
    runOnSocketQueue([&] {
        if (m_socket4FD != -1)
            result = addressOf<sockaddr_in>(m_socket4FD, ::getsockname);
        if (m_socket6FD != -1)
            result = addressOf<sockaddr_in6>(m_socket6FD, ::getsockname);
    });
    return result;
}

bool QueueSocket::isIPv4() const {
    bool result = false;
    runOnSocketQueue([&] { result = m_socket4FD != -1; });
    return result;
}

bool QueueSocket::isIPv6() const {
    bool result = false;
    runOnSocketQueue([&] { result = m_socket6FD != -1; });
    return result;
}

bool QueueSocket::isSecure() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_flags & FlagSecure) != 0; });
    return result;
}

// ---- Queries on the socket queue ----
std::optional<std::string> QueueSocket::connectedHost4() const {
    return m_socket4FD != -1 ? connectedHostFromSocket4(m_socket4FD) : std::nullopt;
}

std::optional<std::string> QueueSocket::connectedHost6() const {
    return m_socket6FD != -1 ? connectedHostFromSocket6(m_socket6FD) : std::nullopt;
}

uint16_t QueueSocket::connectedPort4() const {
    return m_socket4FD != -1 ? connectedPortFromSocket4(m_socket4FD) : 0;
}

uint16_t QueueSocket::connectedPort6() const {
    return m_socket6FD != -1 ? connectedPortFromSocket6(m_socket6FD) : 0;
}

std::pair<std::optional<std::string>, uint16_t> QueueSocket::connectedHostAndPort() const {
    sockaddr_storage peer{};
    socklen_t length = sizeof(peer);
    if ((m_socket4FD == -1 && m_socket6FD == -1) ||
        ::getpeername(activeSocketFD(), reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return {std::nullopt, 0};
    if (peer.ss_family == AF_INET) {
        const auto& peer4 = reinterpret_cast<const sockaddr_in&>(peer);
        return {hostFromSockaddr4(peer4), portFromSockaddr4(peer4)};
    }
    if (peer.ss_family == AF_INET6) {
        const auto& peer6 = reinterpret_cast<const sockaddr_in6&>(peer);
        return {hostFromSockaddr6(peer6), portFromSockaddr6(peer6)};
    }
    return {std::nullopt, 0};
}

std::optional<std::string> QueueSocket::localHost4() const {
    return m_socket4FD != -1 ? localHostFromSocket4(m_socket4FD) : std::nullopt;
}

std::optional<std::string> QueueSocket::localHost6() const {
    return m_socket6FD != -1 ? localHostFromSocket6(m_socket6FD) : std::nullopt;
}

uint16_t QueueSocket::localPort4() const {
    return m_socket4FD != -1 ? localPortFromSocket4(m_socket4FD) : 0;
}

uint16_t QueueSocket::localPort6() const {
    return m_socket6FD != -1 ? localPortFromSocket6(m_socket6FD) : 0;
}

std::optional<std::string> QueueSocket::connectedHostFromSocket4(int socketFD) const {
    sockaddr_in sockaddr4{};
    socklen_t length = sizeof(sockaddr4);
    if (::getpeername(socketFD, reinterpret_cast<sockaddr*>(&sockaddr4), &length) < 0)
        return std::nullopt;
    return hostFromSockaddr4(sockaddr4);
}

std::optional<std::string> QueueSocket::connectedHostFromSocket6(int socketFD) const {
    sockaddr_in6 sockaddr6{};
    socklen_t length = sizeof(sockaddr6);
    if (::getpeername(socketFD, reinterpret_cast<sockaddr*>(&sockaddr6), &length) < 0)
        return std::nullopt;
    return hostFromSockaddr6(sockaddr6);
}

uint16_t QueueSocket::connectedPortFromSocket4(int socketFD) const {
    sockaddr_in sockaddr4{};
    socklen_t length = sizeof(sockaddr4);
    if (::getpeername(socketFD, reinterpret_cast<sockaddr*>(&sockaddr4), &length) < 0)
        return 0;
    return portFromSockaddr4(sockaddr4);
}

uint16_t QueueSocket::connectedPortFromSocket6(int socketFD) const {
    sockaddr_in6 sockaddr6{};
    socklen_t length = sizeof(sockaddr6);
    if (::getpeername(socketFD, reinterpret_cast<sockaddr*>(&sockaddr6), &length) < 0)
        return 0;
    return portFromSockaddr6(sockaddr6);
}

platform::URLPtr QueueSocket::connectedUrlFromSocketUN(int socketFD) const {
    sockaddr_un sockaddrUN{};
    socklen_t length = sizeof(sockaddrUN);
    if (::getpeername(socketFD, reinterpret_cast<sockaddr*>(&sockaddrUN), &length) < 0)
        return nullptr;
    return urlFromSockaddrUN(sockaddrUN);
}

std::optional<std::string> QueueSocket::localHostFromSocket4(int socketFD) const {
    sockaddr_in sockaddr4{};
    socklen_t length = sizeof(sockaddr4);
    if (::getsockname(socketFD, reinterpret_cast<sockaddr*>(&sockaddr4), &length) < 0)
        return std::nullopt;
    return hostFromSockaddr4(sockaddr4);
}

std::optional<std::string> QueueSocket::localHostFromSocket6(int socketFD) const {
    sockaddr_in6 sockaddr6{};
    socklen_t length = sizeof(sockaddr6);
    if (::getsockname(socketFD, reinterpret_cast<sockaddr*>(&sockaddr6), &length) < 0)
        return std::nullopt;
    return hostFromSockaddr6(sockaddr6);
}

uint16_t QueueSocket::localPortFromSocket4(int socketFD) const {
    sockaddr_in sockaddr4{};
    socklen_t length = sizeof(sockaddr4);
    if (::getsockname(socketFD, reinterpret_cast<sockaddr*>(&sockaddr4), &length) < 0)
        return 0;
    return portFromSockaddr4(sockaddr4);
}

uint16_t QueueSocket::localPortFromSocket6(int socketFD) const {
    sockaddr_in6 sockaddr6{};
    socklen_t length = sizeof(sockaddr6);
    if (::getsockname(socketFD, reinterpret_cast<sockaddr*>(&sockaddr6), &length) < 0)
        return 0;
    return portFromSockaddr6(sockaddr6);
}
