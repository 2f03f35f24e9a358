#include "tests/sockets/queue/UdpTestSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace udptest {

std::set<std::string> allSelectors() {
    return {sel::didConnect, sel::didNotConnect, sel::didSend,
            sel::didNotSend, sel::didReceive,    sel::didClose};
}

std::vector<std::string> UdpRecordingDelegate::receivedTexts() const {
    std::vector<std::string> texts;
    for (const auto& e : eventsOf(UdpEventKind::Receive))
        texts.push_back(e.data.toString());
    return texts;
}

// ---- RawUdpPeer ----

std::unique_ptr<RawUdpPeer> RawUdpPeer::create(int family) {
    platform::FileDescriptor fd(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return nullptr;
    platform::Data address = queuesockettest::loopbackAddress(family, 0);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(address.bytes()),
               static_cast<socklen_t>(address.length())) != 0)
        return nullptr;
    return std::make_unique<RawUdpPeer>(std::move(fd), family);
}

uint16_t RawUdpPeer::port() const {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return 0;
    return m_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port)
                               : ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
}

bool RawUdpPeer::sendTo(const platform::Data& to, std::string_view bytes) {
    return ::sendto(m_fd.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(to.bytes()),
                    static_cast<socklen_t>(to.length())) == static_cast<ssize_t>(bytes.size());
}

std::optional<std::string> RawUdpPeer::receive(std::chrono::steady_clock::duration deadline,
                                               platform::Data* from) {
    pollfd pfd{m_fd.get(), POLLIN, 0};
    int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline).count());
    if (::poll(&pfd, 1, ms) != 1)
        return std::nullopt;
    std::string buffer(70000, '\0');
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    ssize_t got = ::recvfrom(m_fd.get(), buffer.data(), buffer.size(), 0,
                             reinterpret_cast<sockaddr*>(&storage), &length);
    if (got < 0)
        return std::nullopt;
    if (from)
        *from = platform::Data(&storage, length);
    buffer.resize(static_cast<size_t>(got));
    return buffer;
}

// ---- UdpFixture ----

UdpFixture::UdpFixture(std::set<std::string> implemented)
    : delegate(UdpRecordingDelegate::create(std::move(implemented)))
    , delegateQueue(platform::DispatchQueue::create("test.udp.delegate"))
    , socket(QueueUdpSocket::create(delegate, delegateQueue)) {}

UdpFixture::~UdpFixture() {
    if (socket) {
        socket->close();
        drain();
    }
}

FullPair::FullPair() {
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
    while (::send(fds[0], "fill", 4, MSG_NOSIGNAL) == 4) {
    }
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
}

FullPair::~FullPair() {
    ::close(fds[0]);
    ::close(fds[1]);
}

void FullPair::substituteFor(const QueueUdpSocketPtr& socket) const {
    socket->performBlock([&] { ASSERT_NE(::dup3(fds[0], socket->socket4FD(), O_CLOEXEC), -1); });
}

std::vector<std::string> FullPair::drainReceiver() const {
    std::vector<std::string> received;
    char buffer[64];
    ssize_t got;
    while ((got = ::recv(fds[1], buffer, sizeof buffer, 0)) >= 0) {
        if (std::string_view(buffer, static_cast<size_t>(got)) != "fill")
            received.emplace_back(buffer, static_cast<size_t>(got));
    }
    return received;
}

} // namespace udptest
