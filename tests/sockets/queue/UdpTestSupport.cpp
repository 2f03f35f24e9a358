#include "tests/sockets/queue/UdpTestSupport.h"

#include <algorithm>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace udptest {

std::set<std::string> allSelectors() {
    return {sel::didConnect, sel::didNotConnect, sel::didSend,
            sel::didNotSend, sel::didReceive,    sel::didClose};
}

platform::Data bytes(std::string_view text) {
    return platform::Data(text);
}

// ---- UdpRecordingDelegate ----

bool UdpRecordingDelegate::respondsTo(std::string_view selector) const {
    return m_implemented.count(std::string(selector)) != 0;
}

void UdpRecordingDelegate::record(UdpEvent event) {
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    m_changed.notify_all();
}

std::vector<UdpEvent> UdpRecordingDelegate::events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<UdpEvent> UdpRecordingDelegate::eventsOf(UdpEventKind kind) const {
    std::lock_guard lock(m_mutex);
    std::vector<UdpEvent> out;
    std::copy_if(m_events.begin(), m_events.end(), std::back_inserter(out),
                 [&](const UdpEvent& e) { return e.kind == kind; });
    return out;
}

size_t UdpRecordingDelegate::count(UdpEventKind kind) const {
    return eventsOf(kind).size();
}

std::optional<UdpEvent> UdpRecordingDelegate::waitFor(UdpEventKind kind, size_t n,
                                                      std::chrono::steady_clock::duration deadline) const {
    std::unique_lock lock(m_mutex);
    std::optional<UdpEvent> found;
    m_changed.wait_for(lock, deadline, [&] {
        size_t seen = 0;
        for (const auto& e : m_events) {
            if (e.kind == kind && ++seen == n) {
                found = e;
                return true;
            }
        }
        return false;
    });
    return found;
}

void UdpRecordingDelegate::udpSocketDidConnectToAddress(const QueueUdpSocketPtr& sock,
                                                        const platform::Data& address) {
    record({.kind = UdpEventKind::Connect, .sock = sock, .address = address});
}

void UdpRecordingDelegate::udpSocketDidNotConnect(const QueueUdpSocketPtr& sock,
                                                  const platform::ErrorPtr& error) {
    record({.kind = UdpEventKind::NotConnect, .sock = sock, .error = error});
}

void UdpRecordingDelegate::udpSocketDidSendDataWithTag(const QueueUdpSocketPtr& sock, int64_t tag) {
    record({.kind = UdpEventKind::Send, .sock = sock, .tag = tag});
}

void UdpRecordingDelegate::udpSocketDidNotSendDataWithTag(const QueueUdpSocketPtr& sock, int64_t tag,
                                                          const platform::ErrorPtr& error) {
    record({.kind = UdpEventKind::NotSend, .sock = sock, .tag = tag, .error = error});
}

void UdpRecordingDelegate::udpSocketDidReceiveData(const QueueUdpSocketPtr& sock, const platform::Data& data,
                                                   const platform::Data& address,
                                                   const platform::Value& filterContext) {
    record({.kind = UdpEventKind::Receive,
            .sock = sock,
            .address = address,
            .data = data,
            .context = filterContext});
}

void UdpRecordingDelegate::udpSocketDidClose(const QueueUdpSocketPtr& sock, const platform::ErrorPtr& error) {
    record({.kind = UdpEventKind::Close, .sock = sock, .error = error});
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

void UdpFixture::drain() const {
    socket->performBlock([] {});
    delegateQueue->sync([] {});
}

} // namespace udptest
