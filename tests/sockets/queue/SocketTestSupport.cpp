#include "tests/sockets/queue/SocketTestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace queuesockettest {

std::set<std::string> allSelectors() {
    return {sel::newSocketQueue,  sel::didAccept,      sel::didConnectToHost,   sel::didConnectToUrl,
            sel::didRead,         sel::didReadPartial, sel::shouldTimeoutRead,  sel::didCloseReadStream,
            sel::didWritePartial, sel::didWrite,       sel::shouldTimeoutWrite, sel::didReceiveTrust,
            sel::didSecure,       sel::didDisconnect};
}

std::set<std::string> chatClientSelectors() {
    return {sel::didConnectToHost, sel::didRead, sel::didWrite, sel::didDisconnect};
}

// ---- RecordingDelegate ----

RecordingDelegate::RecordingDelegate(std::set<std::string> implemented)
    : m_implemented(std::move(implemented)) {}

std::shared_ptr<RecordingDelegate> RecordingDelegate::create(std::set<std::string> implemented) {
    return std::make_shared<RecordingDelegate>(std::move(implemented));
}

bool RecordingDelegate::respondsTo(std::string_view selector) const {
    return m_implemented.count(std::string(selector)) != 0;
}

void RecordingDelegate::record(Event event) {
    // The hook runs first, so a test that waits for the event also sees what the hook did.
    if (onEvent)
        onEvent(event);
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    m_changed.notify_all();
}

std::vector<Event> RecordingDelegate::events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
}

size_t RecordingDelegate::count(EventKind kind) const {
    std::lock_guard lock(m_mutex);
    return static_cast<size_t>(
        std::count_if(m_events.begin(), m_events.end(), [&](const Event& e) { return e.kind == kind; }));
}

std::vector<Event> RecordingDelegate::eventsOf(EventKind kind) const {
    std::lock_guard lock(m_mutex);
    std::vector<Event> out;
    for (const auto& e : m_events) {
        if (e.kind == kind)
            out.push_back(e);
    }
    return out;
}

std::optional<Event> RecordingDelegate::waitFor(EventKind kind, size_t n,
                                                std::chrono::steady_clock::duration deadline) const {
    std::optional<Event> found;
    waitUntil(
        [&](const std::vector<Event>& events) {
            size_t seen = 0;
            for (const auto& e : events) {
                if (e.kind == kind && ++seen == n) {
                    found = e;
                    return true;
                }
            }
            return false;
        },
        deadline);
    return found;
}

bool RecordingDelegate::waitUntil(const std::function<bool(const std::vector<Event>&)>& predicate,
                                  std::chrono::steady_clock::duration deadline) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_until(lock, std::chrono::steady_clock::now() + deadline,
                                [&] { return predicate(m_events); });
}

void RecordingDelegate::clearEvents() {
    std::lock_guard lock(m_mutex);
    m_events.clear();
}

std::string RecordingDelegate::readBytes() const {
    std::lock_guard lock(m_mutex);
    std::string out;
    for (const auto& e : m_events) {
        if (e.kind == EventKind::Read)
            out += e.data.toString();
    }
    return out;
}

void RecordingDelegate::setReadTimeoutExtensions(std::vector<double> extensions) {
    std::lock_guard lock(m_mutex);
    m_readExtensions = std::move(extensions);
}

void RecordingDelegate::setWriteTimeoutExtensions(std::vector<double> extensions) {
    std::lock_guard lock(m_mutex);
    m_writeExtensions = std::move(extensions);
}

void RecordingDelegate::setNewSocketQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    std::lock_guard lock(m_mutex);
    m_newSocketQueue = std::move(queue);
}

void RecordingDelegate::setTrustAnswer(std::optional<bool> answer) {
    std::lock_guard lock(m_mutex);
    m_trustAnswer = answer;
}

std::vector<std::function<void(bool)>> RecordingDelegate::trustHandlers() const {
    std::lock_guard lock(m_mutex);
    return m_trustHandlers;
}

std::vector<QueueSocketPtr> RecordingDelegate::acceptedSockets() const {
    std::lock_guard lock(m_mutex);
    return m_accepted;
}

std::shared_ptr<platform::DispatchQueue>
RecordingDelegate::newSocketQueueForConnectionFromAddress(const platform::Data& address,
                                                          const QueueSocketPtr& sock) {
    std::shared_ptr<platform::DispatchQueue> queue;
    {
        std::lock_guard lock(m_mutex);
        queue = m_newSocketQueue;
    }
    record({.kind = EventKind::NewSocketQueue, .sock = sock, .address = address});
    return queue;
}

void RecordingDelegate::socketDidAcceptNewSocket(const QueueSocketPtr& sock,
                                                 const QueueSocketPtr& newSocket) {
    {
        std::lock_guard lock(m_mutex);
        m_accepted.push_back(newSocket);
    }
    record({.kind = EventKind::Accept, .sock = sock, .newSocket = newSocket});
}

void RecordingDelegate::socketDidConnectToHost(const QueueSocketPtr& sock, const std::string& host,
                                               uint16_t port) {
    record({.kind = EventKind::ConnectToHost, .sock = sock, .host = host, .port = port});
}

void RecordingDelegate::socketDidConnectToUrl(const QueueSocketPtr& sock, const platform::URLPtr& url) {
    record({.kind = EventKind::ConnectToUrl, .sock = sock, .url = url});
}

void RecordingDelegate::socketDidReadData(const QueueSocketPtr& sock, const sockets::SharedBytes& data,
                                          int64_t tag) {
    record({.kind = EventKind::Read, .sock = sock, .data = data, .tag = tag});
}

void RecordingDelegate::socketDidReadPartialDataOfLength(const QueueSocketPtr& sock, uint64_t partialLength,
                                                         int64_t tag) {
    record({.kind = EventKind::ReadPartial, .sock = sock, .length = partialLength, .tag = tag});
}

double RecordingDelegate::timeoutQuestion(std::vector<double>& extensions, Event event) {
    double answer = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!extensions.empty()) {
            answer = extensions.front();
            extensions.erase(extensions.begin());
        }
    }
    record(std::move(event));
    return answer;
}

double RecordingDelegate::socketShouldTimeoutReadWithTag(const QueueSocketPtr& sock, int64_t tag,
                                                         double elapsed, uint64_t length) {
    return timeoutQuestion(m_readExtensions, {.kind = EventKind::ReadTimeoutQuestion,
                                              .sock = sock,
                                              .length = length,
                                              .tag = tag,
                                              .elapsed = elapsed});
}

void RecordingDelegate::socketDidCloseReadStream(const QueueSocketPtr& sock) {
    record({.kind = EventKind::CloseReadStream, .sock = sock});
}

void RecordingDelegate::socketDidWritePartialDataOfLength(const QueueSocketPtr& sock, uint64_t partialLength,
                                                          int64_t tag) {
    record({.kind = EventKind::WritePartial, .sock = sock, .length = partialLength, .tag = tag});
}

void RecordingDelegate::socketDidWriteDataWithTag(const QueueSocketPtr& sock, int64_t tag) {
    record({.kind = EventKind::Write, .sock = sock, .tag = tag});
}

double RecordingDelegate::socketShouldTimeoutWriteWithTag(const QueueSocketPtr& sock, int64_t tag,
                                                          double elapsed, uint64_t length) {
    return timeoutQuestion(m_writeExtensions, {.kind = EventKind::WriteTimeoutQuestion,
                                               .sock = sock,
                                               .length = length,
                                               .tag = tag,
                                               .elapsed = elapsed});
}

void RecordingDelegate::socketDidReceiveTrust(const QueueSocketPtr& sock, const platform::TlsTrustPtr& trust,
                                              std::function<void(bool)> completionHandler) {
    std::optional<bool> answer;
    {
        std::lock_guard lock(m_mutex);
        answer = m_trustAnswer;
        if (!answer)
            m_trustHandlers.push_back(completionHandler);
    }
    record({.kind = EventKind::Trust, .sock = sock, .trust = trust});
    if (answer)
        completionHandler(*answer);
}

void RecordingDelegate::socketDidSecure(const QueueSocketPtr& sock) {
    record({.kind = EventKind::Secure, .sock = sock});
}

void RecordingDelegate::socketDidDisconnect(const QueueSocketPtr& sock, const platform::ErrorPtr& err) {
    record({.kind = EventKind::Disconnect, .sock = sock, .error = err});
}

// ---- descriptors and loopback peers ----

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

int Fd::release() {
    int fd = m_fd;
    m_fd = -1;
    return fd;
}

void Fd::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

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
    Fd fd(::socket(AF_INET6, SOCK_STREAM, 0));
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
    Fd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
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
    Fd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
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
            return std::make_unique<RawPeer>(Fd(fd));
        if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
            return nullptr;
    }
}

void settle(const QueueSocketPtr& socket, const std::shared_ptr<platform::DispatchQueue>& delegateQueue) {
    if (!socket)
        return;
    socket->disconnect();
    // Two rounds: a delegate callback may still post work back to the socket queue.
    for (int round = 0; round < 2; ++round) {
        socket->performBlock([] {});
        if (delegateQueue)
            delegateQueue->sync([] {});
    }
}

ConnectedPair::~ConnectedPair() {
    settle(socket, delegateQueue);
}

ConnectedPair connectPair(int family, std::set<std::string> implemented, int peerReceiveBuffer) {
    ConnectedPair pair;
    pair.listener = RawListener::create(family, 16, 0, peerReceiveBuffer);
    if (!pair.listener)
        return pair;
    implemented.insert(sel::didConnectToHost);
    pair.delegate = RecordingDelegate::create(std::move(implemented));
    pair.delegateQueue = platform::DispatchQueue::create("test.delegate");
    pair.socket = QueueSocket::create(pair.delegate, pair.delegateQueue);
    platform::ErrorPtr error;
    if (!pair.socket->connectToAddress(loopbackAddress(family, pair.listener->port()), &error)) {
        pair.socket = nullptr;
        return pair;
    }
    pair.peer = pair.listener->accept();
    if (!pair.peer || !pair.delegate->waitFor(EventKind::ConnectToHost))
        pair.peer = nullptr;
    return pair;
}

} // namespace queuesockettest
