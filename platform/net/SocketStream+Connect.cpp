#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/SocketStreamCore.h"

#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::detail {

// The name may take long to resolve, so it resolves on a global queue; the answer comes back under
// the lock and is dropped if the pair was closed meanwhile (the attempt number moved on).
void SocketStreamCore::startResolvingLocked() {
    m_connection = Connection::Resolving;
    uint64_t attempt = ++m_connectAttempt;
    std::weak_ptr<SocketStreamCore> weak = weak_from_this();
    DispatchQueue::global()->async([weak, attempt, host = m_host, port = m_port] {
        std::vector<ResolvedAddress> addresses;
        ResolveHints hints;
        hints.socketType = SOCK_STREAM;
        hints.flags = AI_NUMERICSERV;
        int code = Resolver::current()->resolve(host, std::to_string(port), hints, addresses);
        if (auto core = weak.lock())
            core->resolved(attempt, code, std::move(addresses));
    });
}

void SocketStreamCore::resolved(uint64_t attempt, int code, std::vector<ResolvedAddress> addresses) {
    Lock lock(m_mutex);
    if (attempt != m_connectAttempt || m_connection != Connection::Resolving)
        return;
    m_changed.notify_all();
    if (code != 0) {
        m_connection = Connection::Failed;
        m_connectionError = {kCFStreamErrorDomainNetDB, code};
        failBothLocked(m_connectionError);
        return;
    }
    m_candidates.clear();
    for (auto& address : addresses) {
        if (address.family == AF_INET || address.family == AF_INET6)
            m_candidates.push_back(address);
    }
    m_lastConnectErrno = m_candidates.empty() ? EADDRNOTAVAIL : 0;
    tryNextAddressLocked();
}

// Connects to the candidates in the resolver's order until one answers.
void SocketStreamCore::tryNextAddressLocked() {
    while (!m_candidates.empty()) {
        ResolvedAddress address = m_candidates.front();
        m_candidates.pop_front();
        int fd = ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) {
            m_lastConnectErrno = errno;
            continue;
        }
        int result;
        do {
            result = ::connect(fd, address.sockaddrPtr(), address.length);
        } while (result != 0 && errno == EINTR);
        if (result == 0) {
            m_fd = fd;
            connectedLocked();
            return;
        }
        if (errno == EINPROGRESS) {
            m_fd = fd;
            m_connection = Connection::Connecting;
            ensureSourcesLocked();
            updateInterestLocked();
            m_changed.notify_all();
            return;
        }
        m_lastConnectErrno = errno;
        ::close(fd);
    }
    m_connection = Connection::Failed;
    m_connectionError = {kCFStreamErrorDomainPOSIX, m_lastConnectErrno ? m_lastConnectErrno : ECONNREFUSED};
    failBothLocked(m_connectionError);
    m_changed.notify_all();
}

// The descriptor became writable while connecting: the connect is through, or it failed.
void SocketStreamCore::finishConnectLocked() {
    if (m_connection != Connection::Connecting)
        return;
    int failure = 0;
    socklen_t length = sizeof failure;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0)
        failure = errno;
    if (failure == 0) {
        connectedLocked();
        return;
    }
    m_lastConnectErrno = failure;
    dropSourcesLocked();
    closeDescriptorLocked(m_fd);
    m_fd = -1;
    tryNextAddressLocked();
}

void SocketStreamCore::connectedLocked() {
    m_connection = Connection::Connected;
    m_candidates.clear();
    for (int side : {kRead, kWrite}) {
        if (m_sides[side].opened)
            signalLocked(side, kCFStreamEventOpenCompleted);
    }
    if (m_tlsContext && m_tls == Tls::Off)
        startTlsLocked();
    ensureSourcesLocked();
    updateInterestLocked();
    m_changed.notify_all();
}

} // namespace platform::detail
