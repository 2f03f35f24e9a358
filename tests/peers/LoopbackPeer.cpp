#include "tests/peers/LoopbackPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace liveapp::test {

platform::Data loopbackAddress(int family, uint16_t port) {
    if (family == AF_INET6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        a.sin6_addr = in6addr_loopback;
        return platform::Data(&a, sizeof a);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return platform::Data(&a, sizeof a);
}

bool hasIPv6Loopback() {
    platform::FileDescriptor fd(::socket(AF_INET6, SOCK_STREAM, 0));
    if (!fd)
        return false;
    platform::Data address = loopbackAddress(AF_INET6, 0);
    return ::bind(fd.get(), reinterpret_cast<const sockaddr*>(address.bytes()),
                  static_cast<socklen_t>(address.length())) == 0;
}

namespace {

int remainingMs(std::chrono::steady_clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}

bool waitReadable(int fd, std::chrono::steady_clock::time_point end) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int n = ::poll(&p, 1, remainingMs(end));
        if (n > 0)
            return true;
        if (n == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

uint16_t localPortOf(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
        return 0;
    if (ss.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&ss)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&ss)->sin_port);
}

} // namespace

std::unique_ptr<RawPeer> RawPeer::connectTo(int family, uint16_t port) {
    platform::FileDescriptor fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return nullptr;
    platform::Data address = loopbackAddress(family, port);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(address.bytes()),
                  static_cast<socklen_t>(address.length())) != 0)
        return nullptr;
    return std::make_unique<RawPeer>(std::move(fd));
}

bool RawPeer::sendAll(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(m_fd.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string RawPeer::receiveExactly(size_t length, std::chrono::steady_clock::duration deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    std::string out;
    std::vector<char> chunk(64 * 1024);
    while (out.size() < length) {
        if (!waitReadable(m_fd.get(), end))
            break;
        ssize_t n = ::recv(m_fd.get(), chunk.data(), std::min(chunk.size(), length - out.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(chunk.data(), static_cast<size_t>(n));
    }
    return out;
}

std::string RawPeer::receiveSome(std::chrono::steady_clock::duration deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        if (!waitReadable(m_fd.get(), end))
            return {};
        ssize_t n = ::recv(m_fd.get(), chunk.data(), chunk.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        return std::string(chunk.data(), static_cast<size_t>(n));
    }
}

bool RawPeer::waitForEndOfStream(std::chrono::steady_clock::duration deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        if (!waitReadable(m_fd.get(), end))
            return false;
        ssize_t n = ::recv(m_fd.get(), chunk.data(), chunk.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno == ECONNRESET;
        if (n == 0)
            return true;
    }
}

void RawPeer::shutdownWrite() {
    ::shutdown(m_fd.get(), SHUT_WR);
}

void RawPeer::reset() {
    linger l{1, 0};
    ::setsockopt(m_fd.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    m_fd.reset();
}

void RawPeer::setReceiveBufferSize(int bytes) {
    ::setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void RawPeer::setSendBufferSize(int bytes) {
    ::setsockopt(m_fd.get(), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

uint16_t RawPeer::localPort() const {
    return localPortOf(m_fd.get());
}

std::unique_ptr<RawListener> RawListener::create(int family, int backlog, uint16_t port, int receiveBuffer) {
    platform::FileDescriptor fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return nullptr;
    int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family == AF_INET6)
        ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (receiveBuffer > 0)
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    platform::Data address = loopbackAddress(family, port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(address.bytes()),
               static_cast<socklen_t>(address.length())) != 0)
        return nullptr;
    if (::listen(fd.get(), backlog) != 0)
        return nullptr;
    return std::make_unique<RawListener>(std::move(fd), family);
}

uint16_t RawListener::port() const {
    return localPortOf(m_fd.get());
}

std::unique_ptr<RawPeer> RawListener::accept(std::chrono::steady_clock::duration deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (!waitReadable(m_fd.get(), end))
            return nullptr;
        int fd = ::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            return std::make_unique<RawPeer>(platform::FileDescriptor(fd));
        if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
            return nullptr;
    }
}

} // namespace liveapp::test
