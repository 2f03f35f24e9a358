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
